#pragma once

// How the index talks to its PDF text reader, a process of its own (legisdisco-pdftext): the
// index writes requests on the reader's standard input and reads the answers on its standard
// output, one answer per request, in order. Both are frames: a tag byte, the length of the
// payload (4 bytes, the machine's order: both ends run on the same machine) and the payload.
// Plain C++, so that the reader needs neither Qt nor anything of the program.

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include <unistd.h>

namespace PdfTextProtocol {

// The reader's first frame, before any request: it has started and can read.
constexpr char ready = 'R';
// Request: open the PDF whose path is the payload (the file system's bytes), closing the one
// open before.
constexpr char open = 'O';
// Answer to open: the document opened, with pages; payload the page count (4 bytes) and then
// the document's own title in UTF-8, possibly empty.
constexpr char opened = 'D';
// Answer to open: the document cannot be read; payload why, in Spanish, in UTF-8.
constexpr char refused = 'E';
// Request: the text of the page of the open document whose index (from 0) is the payload
// (4 bytes).
constexpr char page = 'P';
// Answer to page: its text in UTF-8 (empty for a page without text).
constexpr char text = 'T';

// No frame is longer: a page's text is cut well before this.
constexpr uint32_t maxPayload = uint32_t(64) << 20;
// A page's text is cut at this many bytes by the reader (the index cuts it again by
// characters).
constexpr uint32_t maxPageBytes = uint32_t(4) << 20;

inline std::string number(uint32_t value)
{
    return std::string(reinterpret_cast<const char *>(&value), sizeof value);
}

inline uint32_t numberAt(const std::string &payload, size_t at = 0)
{
    uint32_t value = 0;
    if (payload.size() >= at + sizeof value) {
        std::memcpy(&value, payload.data() + at, sizeof value);
    }
    return value;
}

inline std::string frame(char tag, const std::string &payload)
{
    std::string bytes(1, tag);
    bytes += number(static_cast<uint32_t>(payload.size()));
    bytes += payload;
    return bytes;
}

// Blocking reads and writes of whole frames on a descriptor, for the reader's side (the
// index's side waits with poll, see pdftextprocess.cpp). False at the end of the input, on
// an error or on a frame too long.
// Moves size bytes with transfer (::read or ::write), over as many calls as it takes.
template <typename Bytes, typename Transfer>
bool transferAll(int fd, Bytes *bytes, size_t size, Transfer transfer)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = transfer(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

inline bool writeAll(int fd, const std::string &bytes)
{
    return transferAll(fd, bytes.data(), bytes.size(), ::write);
}

inline bool readAll(int fd, char *into, size_t size)
{
    return transferAll(fd, into, size, ::read);
}

inline bool readFrame(int fd, char *tag, std::string *payload)
{
    char head[5];
    if (!readAll(fd, head, sizeof head)) {
        return false;
    }
    *tag = head[0];
    uint32_t length = 0;
    std::memcpy(&length, head + 1, sizeof length);
    if (length > maxPayload) {
        return false;
    }
    payload->resize(length);
    return length == 0 || readAll(fd, payload->data(), length);
}

} // namespace PdfTextProtocol
