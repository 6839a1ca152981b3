#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// The limits that keep one HTTP server within bounded resources whatever its clients do.
struct HttpLimits {
    // A request (request line and headers) must arrive whole within this time, counted
    // from the connection's start or from the first byte of a following request.
    std::chrono::milliseconds requestTimeout{10000};
    // A kept-alive connection may wait this long for its next request.
    std::chrono::milliseconds idleTimeout{5000};
    // Each piece of an answer must be taken by the client within this time.
    std::chrono::milliseconds sendTimeout{30000};
    // Connections open at once; at the limit, a new connection replaces the one that has
    // waited longest for a request, or is closed when every connection is being answered.
    // Lowered at start to what the process's file limit allows.
    int maxConnections = 1000;
    // The longest request line (method, address, version), answered 414 beyond it, and the
    // most bytes of header fields after it, answered 431 beyond them.
    std::size_t maxRequestLine = 512 * 1024;
    std::size_t maxHeaderFields = 32 * 1024;
    // Threads that prepare answers; 0 takes two per processor, at least four (building a
    // package waits on the disk as much as on the processor).
    int workers = 0;
};

// One request, as the handler sees it: only GET-like requests without a body get here.
struct HttpRequest {
    std::string method; // as sent: "GET", "HEAD", "POST", ...
    std::string target; // the request target as sent, percent-encoding and all
    std::string peer;   // the client's address
    // False on the first call, made by the network thread itself: the handler answers at
    // once from what it has at hand, or asks, with HttpAnswer::onWorker, to be called again
    // on a worker thread, where it may wait (read files, take a busy lock).
    bool onWorker = false;
};

// One piece of an answer sent in pieces: bytes, or the first size bytes of a file, sent
// from the file by the kernel (sendfile), never copied through the server's memory.
struct HttpPiece {
    std::string bytes;
    std::string path;       // a file opened when its turn comes; or
    int file = -1;          // a file open already, closed after unless kept
    std::uint64_t size = 0; // of the file's contents to send
    // When set, owns file (kept open for other answers too): the answer holds it while it
    // sends and never closes it.
    std::shared_ptr<const void> kept;
    // Called with the file open once its bytes are sent: false when it is not the file the
    // answer was made from (changed before or meanwhile). The answer is then cut short and
    // the connection closed, so that the client never takes it for whole.
    std::function<bool(int fd)> unchanged;
};

// One answer. When pieces is not empty, they are the body, one after another. When file is an open
// file descriptor, the file is sent as the body instead of body, and the descriptor is closed after
// (opened by the handler, so that the file may be removed meanwhile); when shared is set, its bytes
// are.
struct HttpAnswer {
    int status = 200;
    std::string type = "text/html; charset=utf-8";
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    int file = -1;
    // Or a body shared with whoever made it (a cache), sent without a copy when set.
    std::shared_ptr<const std::string> shared;
    std::vector<HttpPiece> pieces;
    // Set by a handler called on the network thread that needs a worker (see HttpRequest).
    bool onWorker = false;
};

// What the log hears after every answer.
struct HttpLogEntry {
    std::string peer;
    std::string method;
    std::string target;
    int status = 0;
    std::uint64_t bytes = 0; // of the body sent
    double milliseconds = 0; // from the whole request to the last byte of the answer
};

// A small HTTP/1.1 server for GET and HEAD, on Boost.Beast: one thread reads and writes
// every connection and answers what can be answered at once; a pool of worker threads
// calls the handler for the rest, so that a slow answer never holds up the others. It refuses
// request bodies (413) without reading them, caps the request line (414) and the headers (431),
// closes connections whose request does not arrive whole in time or that stay idle, caps the
// connections open at once, goes on accepting when it runs out of file descriptors for a while, and
// stops gracefully.
class HttpFront {
public:
    using Handler = std::function<HttpAnswer(const HttpRequest &)>;
    using Logger = std::function<void(const HttpLogEntry &)>;

    // The handler runs on the network thread, and again on a worker thread when it asks to;
    // the logger on the network thread.
    HttpFront(Handler handler, Logger logger, HttpLimits limits = {});
    ~HttpFront();
    HttpFront(const HttpFront &) = delete;
    HttpFront &operator=(const HttpFront &) = delete;

    // Starts listening on the address (an IPv4 or IPv6 literal) and port; port 0 takes a free
    // one. False with *error set when that fails. Call once.
    bool listen(const std::string &address, std::uint16_t port, std::string *error);
    std::uint16_t port() const;
    std::string address() const;
    // The connection limit in force (maxConnections, lowered to fit the file limit).
    int connectionLimit() const;
    // The connection limit that maxConnections comes to under the process's file limit now,
    // and the descriptors kept back from the connections for the files the answers read.
    static int connectionLimitFor(int maxConnections);
    static constexpr int reservedDescriptors = 64;
    // Connections open right now.
    int openConnections() const;
    // The first step of a graceful stop: closes the listening socket, so that new
    // connections are refused, and the connections waiting for a request of which nothing
    // has come. The requests being read or answered go on; each connection closes after
    // its answer.
    // Returns once the socket is closed; openConnections() then counts what is left.
    void stopAccepting();

    // The state shared by the network thread and the connections (defined in the source).
    class Impl;

private:
    std::unique_ptr<Impl> m_impl;
};
