#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>
#include <mutex>

// What identifies one state of a file: when any of these change, its contents may have.
struct FileStamp {
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = -1;
    qint64 modifiedNs = 0;
    qint64 changedNs = 0;

    bool operator==(const FileStamp &other) const
    {
        return device == other.device && inode == other.inode && size == other.size &&
               modifiedNs == other.modifiedNs && changedNs == other.changedNs;
    }
    bool operator!=(const FileStamp &other) const { return !(*this == other); }
    bool isValid() const { return size >= 0; }
};

// The file's stamp (following symbolic links); an invalid stamp when it cannot be read.
FileStamp fileStamp(const QString &path);
// The stamp of an open file; an invalid stamp when it is not a regular file.
FileStamp fileStamp(int fd);

// The title a PDF file gives itself (its document information Title), trimmed and with
// runs of white space made single spaces; empty when it has none or is not a PDF that can
// be read. Safe on any file.
QString pdfTitle(const QString &path);

// One line of the circular index.
struct IndexEntry {
    QString identifier;
    QString title; // may be empty
};

// The index page of the circulars, pagina/circulares.htm: every circular, newest (highest
// number) first, with its number and title, each linking to ../circulares/<id>.pdf; in
// Spanish, UTF-8, styled by the collection's estilo.css.
QByteArray circularIndexPage(QList<IndexEntry> entries);

// A file kept open for as long as anyone holds it.
class OpenFile {
public:
    explicit OpenFile(int fd)
        : m_fd(fd)
    {
    }
    ~OpenFile();
    OpenFile(const OpenFile &) = delete;
    OpenFile &operator=(const OpenFile &) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

// Facts read from the circulars' files, kept while the files stay as they are and shared
// by the threads that answer requests.
class FileFacts {
public:
    // The SHA-256 and the CRC-32 of a file's contents, and the stamp they were read at.
    struct Digest {
        QByteArray sha256; // empty when the file cannot be read
        quint32 crc = 0;
        FileStamp stamp;
        // The file the sums were read from, kept open (within the limit set by
        // setOpenLimit), so that sending it needs no open; null when not kept.
        std::shared_ptr<const OpenFile> file;
    };
    // The most files kept open with their facts (0, the default: none); the others are
    // opened by path when sent.
    void setOpenLimit(int files);
    // Forgets the facts of every file but these, and closes the files kept open for them:
    // a circular taken out of the folder is not held open, nor its disk space taken.
    void keepOnly(const QSet<QString> &paths);
    // The file's digest. With an epoch of its folder's watch (FolderWatch, read before this
    // call), a digest read or checked in that same epoch is taken without looking at the
    // file again; with 0, the file's stamp is looked at every time.
    Digest digest(const QString &path, quint64 epoch = 0);
    // The digest read or checked in this epoch, without looking at the file; false when
    // there is none.
    bool kept(const QString &path, quint64 epoch, Digest *digest);
    // The file's PDF title (see pdfTitle).
    QString title(const QString &path);

private:
    struct Title {
        FileStamp stamp;
        QString value;
    };
    struct Kept {
        Digest digest;
        quint64 epoch = 0;   // checked against the file in this epoch
        bool linked = false; // a link: its target's folder is not watched
    };
    std::mutex m_mutex;
    int m_openLimit = 0;
    int m_open = 0; // files held by m_digests
    QHash<QString, Kept> m_digests;
    QHash<QString, Title> m_titles;
};

// The index page of the circulars of a folder (identifiers and their file names there),
// titles read through facts.
QByteArray circularIndexFor(const QString &folder, const QStringList &identifiers,
                            const QHash<QString, QString> &fileNames, FileFacts &facts);
