#include "pdftextprocess.h"

#include "documenttext.h"
#include "pdftextprotocol.h"
#include "programfolder.h"
#include "searchtext.h"

#include <QDir>
#include <QFile>

#include <chrono>
#include <climits>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

// A reader that has not said it is ready by then cannot start (a library missing).
constexpr qint64 startMilliseconds = 10000;
// How often a wait for the reader asks whether to stop.
constexpr int askStopEveryMilliseconds = 50;
// A request's limit of processor time, times this, is the longest it is waited for at all.
constexpr qint64 waitFactor = 10;

qint64 nowMilliseconds()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

QString pdfTextReaderProgram()
{
    return QDir(runningProgramFolder()).filePath(QStringLiteral("legisdisco-pdftext"));
}

PdfTextProcess::PdfTextProcess(QString program)
    : m_program(std::move(program))
{
}

PdfTextProcess::~PdfTextProcess()
{
    kill();
}

void PdfTextProcess::kill()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        while (waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
    }
    if (m_socket >= 0) {
        ::close(m_socket);
        m_socket = -1;
    }
}

PdfTextProcess::Outcome PdfTextProcess::start(const std::function<bool()> &stop)
{
    // One socket for both ways: writing to a reader that died then fails with an error
    // instead of raising SIGPIPE in the program.
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        m_unavailable = QStringLiteral("no se puede iniciar el lector de PDF: %1")
                            .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return Outcome::Unavailable;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    // Nothing else of the program's open files goes with it.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    const QByteArray program = QFile::encodeName(m_program);
    const QByteArray parent = QByteArray::number(static_cast<qint64>(getpid()));
    char *argv[] = {const_cast<char *>(program.constData()), const_cast<char *>(parent.constData()),
                    nullptr};
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, program.constData(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(ends[1]);
    if (failed != 0) {
        ::close(ends[0]);
        const QString why = failed == ENOENT   ? QStringLiteral("no existe")
                            : failed == EACCES ? QStringLiteral("no se puede ejecutar")
                                               : QString::fromLocal8Bit(std::strerror(failed));
        m_unavailable = QStringLiteral("no se puede iniciar el lector de PDF %1: %2")
                            .arg(QDir::toNativeSeparators(m_program), why);
        return Outcome::Unavailable;
    }
    m_pid = pid;
    m_socket = ends[0];
    char tag = 0;
    std::string payload;
    const Outcome outcome = receive(startMilliseconds, stop, &tag, &payload);
    if (outcome == Outcome::Answered && tag == PdfTextProtocol::ready) {
        return outcome;
    }
    kill();
    if (outcome == Outcome::Stopped) {
        return outcome;
    }
    m_unavailable = QStringLiteral("el lector de PDF %1 no arranca").arg(m_program);
    return Outcome::Unavailable;
}

qint64 PdfTextProcess::cpuMilliseconds() const
{
    clockid_t clock;
    timespec used{};
    if (m_pid <= 0 || clock_getcpuclockid(m_pid, &clock) != 0 || clock_gettime(clock, &used) != 0) {
        return -1;
    }
    return qint64(used.tv_sec) * 1000 + used.tv_nsec / 1000000;
}

bool PdfTextProcess::receiveBytes(char *into, size_t size, qint64 untilMs, qint64 untilCpuMs,
                                  const std::function<bool()> &stop, Outcome *outcome)
{
    size_t done = 0;
    while (done < size) {
        if (stop && stop()) {
            *outcome = Outcome::Stopped;
            return false;
        }
        const qint64 left = untilMs - nowMilliseconds();
        if (left <= 0 || (untilCpuMs >= 0 && cpuMilliseconds() > untilCpuMs)) {
            *outcome = Outcome::Failed;
            return false;
        }
        pollfd wait{m_socket, POLLIN, 0};
        const int ready =
            poll(&wait, 1, static_cast<int>(qMin<qint64>(left, askStopEveryMilliseconds)));
        if (ready < 0 && errno != EINTR) {
            *outcome = Outcome::Failed;
            return false;
        }
        if (ready <= 0) {
            continue;
        }
        const ssize_t n = recv(m_socket, into + done, size - done, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (n <= 0) {
            // The reader died.
            m_died = true;
            *outcome = Outcome::Failed;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

PdfTextProcess::Outcome PdfTextProcess::receive(qint64 limitMilliseconds,
                                                const std::function<bool()> &stop, char *tag,
                                                std::string *payload)
{
    const qint64 limit = qMax<qint64>(limitMilliseconds, 1);
    const qint64 since = nowMilliseconds();
    const qint64 until = since + limit * waitFactor;
    const qint64 cpuSince = cpuMilliseconds();
    const qint64 cpuUntil = cpuSince < 0 ? -1 : cpuSince + limit;
    Outcome outcome = Outcome::Answered;
    char head[5];
    if (!receiveBytes(head, sizeof head, until, cpuUntil, stop, &outcome)) {
        return outcome;
    }
    *tag = head[0];
    uint32_t length = 0;
    std::memcpy(&length, head + 1, sizeof length);
    if (length > PdfTextProtocol::maxPayload) {
        return Outcome::Failed;
    }
    payload->resize(length);
    if (length > 0 && !receiveBytes(payload->data(), length, until, cpuUntil, stop, &outcome)) {
        return outcome;
    }
    const qint64 cpuNow = cpuSince < 0 ? -1 : cpuMilliseconds();
    m_lastMilliseconds =
        cpuNow < 0 ? nowMilliseconds() - since : qMax<qint64>(0, cpuNow - cpuSince);
    return Outcome::Answered;
}

PdfTextProcess::Outcome PdfTextProcess::ask(char tag, const std::string &payload,
                                            qint64 limitMilliseconds,
                                            const std::function<bool()> &stop, char *answerTag,
                                            std::string *answer)
{
    m_died = false;
    if (m_pid <= 0) {
        // Only a document is opened by a new reader: a page asked for of a reader that was
        // killed is of a document no reader holds now.
        if (tag != PdfTextProtocol::open) {
            return Outcome::Failed;
        }
        const Outcome started = start(stop);
        if (started != Outcome::Answered) {
            return started;
        }
    }
    const std::string request = PdfTextProtocol::frame(tag, payload);
    size_t sent = 0;
    Outcome outcome = Outcome::Answered;
    while (sent < request.size()) {
        const ssize_t n =
            send(m_socket, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            m_died = true; // its end of the socket is closed
            outcome = Outcome::Failed;
            break;
        }
        sent += static_cast<size_t>(n);
    }
    if (outcome == Outcome::Answered) {
        outcome = receive(limitMilliseconds, stop, answerTag, answer);
    }
    if (outcome != Outcome::Answered) {
        kill();
    }
    return outcome;
}

PdfTextProcess::Outcome PdfTextProcess::open(const QString &path, qint64 limitMilliseconds,
                                             const std::function<bool()> &stop, QString *problem,
                                             int *pages, QString *title)
{
    char tag = 0;
    std::string answer;
    m_document = QFile::encodeName(path).toStdString();
    const bool running = m_pid > 0;
    Outcome outcome =
        ask(PdfTextProtocol::open, m_document, limitMilliseconds, stop, &tag, &answer);
    // A reader that had died while it waited for this request (killed from outside, say)
    // could not tell whether the file is hostile: a new reader tries it once. A file that
    // kills the new one too is taken for hostile.
    if (outcome == Outcome::Failed && running && m_died) {
        if (stop && stop()) {
            return Outcome::Stopped;
        }
        outcome = ask(PdfTextProtocol::open, m_document, limitMilliseconds, stop, &tag, &answer);
    }
    if (outcome != Outcome::Answered) {
        return outcome;
    }
    problem->clear();
    *pages = 0;
    title->clear();
    if (tag == PdfTextProtocol::opened && answer.size() >= 4) {
        *pages = static_cast<int>(qMin<uint32_t>(PdfTextProtocol::numberAt(answer), INT_MAX));
        *title = withoutLigatures(
            QString::fromUtf8(answer.data() + 4, static_cast<qsizetype>(answer.size() - 4)));
    } else if (tag == PdfTextProtocol::refused) {
        *problem = QString::fromUtf8(answer.data(), static_cast<qsizetype>(answer.size()));
    } else {
        kill();
        return Outcome::Failed;
    }
    return outcome;
}

PdfTextProcess::Outcome PdfTextProcess::pageText(int index, qint64 limitMilliseconds,
                                                 const std::function<bool()> &stop, QString *text)
{
    char tag = 0;
    std::string answer;
    const std::string request = PdfTextProtocol::number(static_cast<uint32_t>(index));
    Outcome outcome = ask(PdfTextProtocol::page, request, limitMilliseconds, stop, &tag, &answer);
    // The reader died (killed from outside, say): the document is opened again in a new
    // reader, which is asked for the page once more. A page that kills that one too is taken
    // for hostile.
    if (outcome == Outcome::Failed && m_died) {
        if (stop && stop()) {
            return Outcome::Stopped;
        }
        outcome = ask(PdfTextProtocol::open, m_document, limitMilliseconds, stop, &tag, &answer);
        if (outcome == Outcome::Answered && tag == PdfTextProtocol::opened) {
            // The opening's time counts with the page's, as the file's reading time.
            const qint64 reopening = m_lastMilliseconds;
            outcome = ask(PdfTextProtocol::page, request, limitMilliseconds, stop, &tag, &answer);
            m_lastMilliseconds += reopening;
        } else if (outcome == Outcome::Answered) {
            kill();
            outcome = Outcome::Failed;
        }
    }
    if (outcome != Outcome::Answered) {
        return outcome;
    }
    if (tag != PdfTextProtocol::text) {
        kill();
        return Outcome::Failed;
    }
    *text =
        withoutLigatures(QString::fromUtf8(answer.data(), static_cast<qsizetype>(answer.size())));
    if (text->size() > DocumentLimits::maxPageText) {
        text->truncate(DocumentLimits::maxPageText);
    }
    return outcome;
}
