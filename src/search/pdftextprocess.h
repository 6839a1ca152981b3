#pragma once

#include <QString>

#include <functional>
#include <string>

#include <sys/types.h>

// The file of the PDF text reader beside the running program.
QString pdfTextReaderProgram();

// One PDF text reader process (legisdisco-pdftext, see pdftextprotocol.h), started at the
// first request and again after it was killed. A reader started earlier that dies on a
// request is given a second chance in a new reader (the document opened again for a page),
// since it may have been killed from outside; dying again there is the file's doing. Each request
// waits for its answer up to a limit of the reader's processor time, asking stop() in between: a
// reader that crashes, works past the limit or is stopped is killed there and then. Readers run at
// low priority and may wait long for a processor on a busy machine, which is no fault of theirs;
// one that neither answers nor works (blocked) is killed after ten times the limit in all. Used by
// one thread at a time. Readers inherit the nice value of the thread that starts them, and die with
// it (or with the process).
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
    // The text of the page at index (from 0) of the document open. Unavailable when the reader
    // died and a new one cannot be started to read the page again.
    Outcome pageText(int index, qint64 limitMilliseconds, const std::function<bool()> &stop,
                     QString *text);
    // The reader's processor time over the last request answered, in milliseconds.
    qint64 lastMilliseconds() const { return m_lastMilliseconds; }
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
    bool receiveBytes(char *into, size_t size, qint64 untilMs, qint64 untilCpuMs,
                      const std::function<bool()> &stop, Outcome *outcome);
    qint64 cpuMilliseconds() const;

    const QString m_program;
    QString m_unavailable;
    qint64 m_lastMilliseconds = 0;
    bool m_died = false;    // the last request failed as the reader's socket closed
    std::string m_document; // the file of the document last opened
    pid_t m_pid = -1;
    int m_socket = -1;
};
