// A PDF text reader that reads no PDF, for the index's tests: it answers every file with two
// pages naming the file ("Texto de 1001 página 1"), and fails as a real reader can on a
// hostile file: a file named "rompe..." kills it on opening, "rompe2..." at its second page,
// "cuelga..." hangs it on opening, "lento..." keeps it waiting two seconds on opening
// without working, as a reader waiting for a processor does; "sale..." ends it once its
// last page is answered and "corta..." once its first is, as a reader killed from outside
// between two files or two pages.

#include "pdftextprotocol.h"

#include <csignal>
#include <string>

#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

int main()
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const rlimit noCore{0, 0}; // its crashes are on purpose
    setrlimit(RLIMIT_CORE, &noCore);
    using namespace PdfTextProtocol;
    if (!writeAll(STDOUT_FILENO, frame(ready, {}))) {
        return 1;
    }
    std::string name;
    char tag = 0;
    std::string payload;
    while (readFrame(STDIN_FILENO, &tag, &payload)) {
        std::string answer;
        if (tag == open) {
            name = payload.substr(payload.rfind('/') + 1);
            name = name.substr(0, name.rfind('.'));
            if (name.rfind("cuelga", 0) == 0) {
                pause();
            }
            if (name.rfind("lento", 0) == 0) {
                sleep(2);
            }
            if (name == "rompe") {
                raise(SIGSEGV);
            }
            answer = frame(opened, number(2));
        } else if (tag == page) {
            const uint32_t index = numberAt(payload);
            if (name == "rompe2" && index == 1) {
                raise(SIGSEGV);
            }
            answer = frame(text, "Texto de " + name + " página " + std::to_string(index + 1));
        } else {
            return 2;
        }
        if (!writeAll(STDOUT_FILENO, answer)) {
            return 1;
        }
        if (tag == page && ((name.rfind("sale", 0) == 0 && numberAt(payload) == 1) ||
                            (name.rfind("corta", 0) == 0 && numberAt(payload) == 0))) {
            return 0;
        }
    }
    return 0;
}
