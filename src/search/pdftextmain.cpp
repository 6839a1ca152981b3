// legisdisco-pdftext: the text of PDF files, page by page, for the index of the collection.
// The index starts two of these beside it and asks them for pages (pdftextprotocol.h): each
// has its own PDF library, so both read at once, and a PDF that crashes or hangs its reader
// takes down that reader alone, never the program.
//
//   legisdisco-pdftext PARENT_PID
//
// It ends with its input, and when the thread of PARENT_PID that started it ends.

#include "pdftextprotocol.h"

#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-page.h>

#include <csignal>
#include <cstdlib>
#include <memory>
#include <string>

#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr rlim_t maxMemory = rlim_t(2) << 30;

void quiet(const std::string &, void *) {}

std::string utf8(const poppler::ustring &text)
{
    const poppler::byte_array bytes = text.to_utf8();
    return std::string(bytes.begin(), bytes.end());
}

} // namespace

int main(int argc, char *argv[])
{
    // Killed with the one that started it, even when that one crashes; and when it is gone
    // already, nobody waits for this one.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (argc < 2 || getppid() != static_cast<pid_t>(std::strtol(argv[1], nullptr, 10))) {
        return 2;
    }
    // A PDF built to swallow the memory fails its own reading, not the machine's other
    // programs: past this the reader's allocations fail, and a reader that dies of it costs
    // the index that file alone.
    const rlimit memory{maxMemory, maxMemory};
    setrlimit(RLIMIT_AS, &memory);
    // Crashing on a hostile file is this reader's way of refusing it: no core dump of up to
    // that much memory is left behind for it.
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    // The library's complaints about damaged files are no news: such a file is answered as
    // unreadable.
    poppler::set_debug_error_function(quiet, nullptr);

    using namespace PdfTextProtocol;
    if (!writeAll(STDOUT_FILENO, frame(ready, {}))) {
        return 1;
    }
    std::unique_ptr<poppler::document> document;
    char tag = 0;
    std::string payload;
    while (readFrame(STDIN_FILENO, &tag, &payload)) {
        std::string answer;
        if (tag == open) {
            document.reset(poppler::document::load_from_file(payload));
            if (document && document->is_locked()) {
                document.reset();
                answer = frame(refused, "protegido con contraseña");
            } else if (!document || document->pages() <= 0) {
                document.reset();
                answer = frame(refused, "dañado o vacío");
            } else {
                answer = frame(opened, number(static_cast<uint32_t>(document->pages())) +
                                           utf8(document->info_key("Title")));
            }
        } else if (tag == page) {
            const int index = static_cast<int>(numberAt(payload));
            std::string pageText;
            if (document && index >= 0 && index < document->pages()) {
                const std::unique_ptr<poppler::page> page(document->create_page(index));
                if (page) {
                    pageText = utf8(
                        page->text(poppler::rectf(), poppler::page::non_raw_non_physical_layout));
                }
            }
            if (pageText.size() > maxPageBytes) {
                // Cut at the start of a character.
                size_t cut = maxPageBytes;
                while (cut > 0 && (static_cast<unsigned char>(pageText[cut]) & 0xC0) == 0x80) {
                    --cut;
                }
                pageText.resize(cut);
            }
            answer = frame(text, pageText);
        } else {
            return 2;
        }
        if (!writeAll(STDOUT_FILENO, answer)) {
            return 1;
        }
    }
    return 0;
}
