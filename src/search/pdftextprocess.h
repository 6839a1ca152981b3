#pragma once

#include <QString>

#include <functional>
#include <string>

#include <sys/types.h>

// The file of the PDF text reader beside the running program.
QString pdfTextReaderProgram();

// One PDF text reader process (legisdisco-pdftext, see pdftextprotocol.h), started at the
// first request and again after it was killed. Each request waits for its answer up to a
// time limit, asking stop() in between: a reader that crashes, hangs past the limit or is
// stopped is killed there and then. Used by one thread at a time. Readers inherit the nice
// value of the thread that starts them, and die with it (or with the process).
class PdfTextProcess {
public:
    enum class Outcome {
        Answered,
        Failed,      // the reader crashed or took too long on this request: killed
        Stopped,     // stop() answered true: killed
        Unavailable, // the reader cannot be started at all
    };

    explicit PdfTextProcess(QString program);
    ~PdfTextProcess();
    PdfTextProcess(const PdfTextProcess &) = delete;
    PdfTextProcess &operator=(const PdfTextProcess &) = delete;

    // Opens the PDF at path; *problem empty when it opened (then with *pages and *title),
    // else why it cannot be read.
    Outcome open(const QString &path, qint64 limitMilliseconds, const std::function<bool()> &stop,
                 QString *problem, int *pages, QString *title);
    // The text of the page at index (from 0) of the document open.
    Outcome pageText(int index, qint64 limitMilliseconds, const std::function<bool()> &stop,
                     QString *text);
    // Why the reader cannot be started, after Unavailable.
    QString unavailable() const { return m_unavailable; }

    // Ends the reader now, if it runs.
    void kill();

private:
    Outcome start(const std::function<bool()> &stop);
    Outcome ask(char tag, const std::string &payload, qint64 limitMilliseconds,
                const std::function<bool()> &stop, char *answerTag, std::string *answer);
    Outcome receive(qint64 limitMilliseconds, const std::function<bool()> &stop, char *tag,
                    std::string *payload);
    bool receiveBytes(char *into, size_t size, qint64 untilMs, const std::function<bool()> &stop,
                      Outcome *outcome);

    const QString m_program;
    QString m_unavailable;
    pid_t m_pid = -1;
    int m_socket = -1;
};
