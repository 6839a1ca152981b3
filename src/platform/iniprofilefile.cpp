#include "iniprofilefile.h"

#include "collectionid.h"
#include "profileformat.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QLatin1String temporaryInfix(".tmp-");

enum class ReadOutcome { Read, Missing, NotRegular, Failed };

// Settings files are small; anything larger is not read as one.
constexpr qint64 largestSettingsFile = 16 * 1024 * 1024;

// Reads a settings file whole. Only a regular file is read: opening a named
// pipe would wait for a writer for ever, and a device or a folder holds no
// settings.
ReadOutcome readBytes(const QString &path, QByteArray &bytes)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};
    if (::stat(name.constData(), &info) != 0)
        return errno == ENOENT || errno == ENOTDIR ? ReadOutcome::Missing : ReadOutcome::Failed;
    if (!S_ISREG(info.st_mode))
        return ReadOutcome::NotRegular;
    // Without waiting, in case the name was given to something else meanwhile.
    const int descriptor = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0)
        return errno == ENOENT ? ReadOutcome::Missing : ReadOutcome::Failed;
    const auto done = [descriptor](ReadOutcome outcome) {
        ::close(descriptor);
        return outcome;
    };
    if (::fstat(descriptor, &info) != 0)
        return done(ReadOutcome::Failed);
    if (!S_ISREG(info.st_mode))
        return done(ReadOutcome::NotRegular);
    QByteArray read;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(descriptor, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 || read.size() + got > largestSettingsFile)
            return done(ReadOutcome::Failed);
        if (got == 0)
            break;
        read.append(buffer, got);
    }
    bytes = std::move(read);
    return done(ReadOutcome::Read);
}

// What fits a C buffer of bufferSize characters with its terminating zero. A
// surrogate pair is never split; the text is cut one shorter instead.
QString fitToBuffer(const QString &text, int bufferSize)
{
    if (bufferSize <= 0)
        return {};
    qsizetype length = bufferSize - 1;
    if (text.size() <= length)
        return text;
    if (length > 0 && text.at(length - 1).isHighSurrogate() && text.at(length).isLowSurrogate())
        --length;
    return text.left(length);
}

bool sameName(const QString &a, const char *b)
{
    return a.trimmed().compare(QLatin1String(b), Qt::CaseInsensitive) == 0;
}

// Removes the temporary files that writes of folder/name left behind when
// they were killed: those that no living writer holds a lock on.
void removeStaleTemporaries(const QString &folder, const QString &name)
{
    const QString prefix = name + temporaryInfix;
    const QStringList entries =
        QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
    for (const QString &entry : entries) {
        if (!entry.startsWith(prefix))
            continue;
        const QByteArray path = QFile::encodeName(QDir(folder).filePath(entry));
        const int descriptor = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (descriptor < 0)
            continue;
        // Removed only while the name still stands for the file locked here.
        struct stat locked {};
        struct stat named {};
        if (::flock(descriptor, LOCK_EX | LOCK_NB) == 0 && ::fstat(descriptor, &locked) == 0 &&
            ::lstat(path.constData(), &named) == 0 && locked.st_dev == named.st_dev &&
            locked.st_ino == named.st_ino)
            ::unlink(path.constData());
        ::close(descriptor);
    }
}

bool writeWhole(int descriptor, const QByteArray &data)
{
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t written =
            ::write(descriptor, data.constData() + done, size_t(data.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        done += written;
    }
    return true;
}

// The file that path names: the target of a symbolic link at path, else path.
QFileInfo namedFile(const QString &path)
{
    const QFileInfo link(path);
    return QFileInfo(link.isSymLink() ? link.symLinkTarget() : link.absoluteFilePath());
}

// One write at a time in a folder, among the writers of this program: a
// write reads the file, changes one line and replaces the file, so two at
// once would each undo the other's line, and one's clearing of leftovers
// could take the other's new temporary file for one. The lock is flock on
// the folder itself, so no file is added for it, and the kernel drops it
// when a writer dies. A writer that holds it for long makes the next one
// give up rather than wait for ever.
class FolderLock {
public:
    explicit FolderLock(const QString &folder)
        : m_descriptor(
              ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        if (m_descriptor < 0) {
            // A folder that cannot be opened for reading (write and search
            // permission only) is written without the lock, as it always was.
            m_held = errno == EACCES;
            return;
        }
        const QDeadlineTimer patience(10000);
        while (!(m_held = ::flock(m_descriptor, LOCK_EX | LOCK_NB) == 0) &&
               (errno == EWOULDBLOCK || errno == EINTR) && !patience.hasExpired())
            QThread::msleep(2);
    }
    ~FolderLock()
    {
        if (m_descriptor >= 0)
            ::close(m_descriptor); // drops the lock
    }
    FolderLock(const FolderLock &) = delete;
    FolderLock &operator=(const FolderLock &) = delete;

    bool held() const { return m_held; }

private:
    int m_descriptor = -1;
    bool m_held = false;
};

// Replaces path (or the file a symbolic link at path names) with data, or
// leaves it as it was and answers false.
bool replaceFile(const QString &path, const QByteArray &data)
{
    const QFileInfo info = namedFile(path);
    const QString folder = info.absolutePath();
    const QByteArray target = QFile::encodeName(info.absoluteFilePath());
    removeStaleTemporaries(folder, info.fileName());

    QByteArray temporary = QFile::encodeName(
        QDir(folder).filePath(info.fileName() + temporaryInfix + QLatin1String("XXXXXX")));
    const int descriptor = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (descriptor < 0)
        return false;
    const auto fail = [&] {
        ::unlink(temporary.constData());
        ::close(descriptor);
        return false;
    };
    // Held until the file is renamed or removed, so that no other write takes
    // it for a leftover.
    if (::flock(descriptor, LOCK_EX) != 0)
        return fail();
    // The new file gets the old one's permissions, or those of any new file.
    struct stat old {};
    mode_t mode = 0;
    if (::stat(target.constData(), &old) == 0) {
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    ::fchmod(descriptor, mode);
    // A full disk may show only when the data is synced; only then is the old
    // file replaced.
    if (!writeWhole(descriptor, data) || ::fsync(descriptor) != 0)
        return fail();
    if (::rename(temporary.constData(), target.constData()) != 0)
        return fail();
    ::close(descriptor);
    return true;
}

} // namespace

IniProfileFile::IniProfileFile(const QString &overlayFolder, InPlaceTest canWriteInPlace)
    : m_overlayFolder(overlayFolder)
    , m_canWriteInPlace(canWriteInPlace ? std::move(canWriteInPlace) : InPlaceTest(writableInPlace))
{
}

bool IniProfileFile::writableInPlace(const QString &file)
{
    const QFileInfo info(file);
    const QFileInfo folder(info.absolutePath());
    return folder.isDir() && folder.isWritable() && (!info.exists() || info.isWritable());
}

bool IniProfileFile::isUserSetting(const QString &section, const QString &key)
{
    // The reader's choices about the check for new circulars at start-up.
    if (sameName(section, "user") || sameName(section, "actualizacion"))
        return true;
    return sameName(section, "init") && (key.isEmpty() || sameName(key, "show"));
}

QString IniProfileFile::overlayPath(const QString &file) const
{
    if (m_overlayFolder.isEmpty())
        return {};
    // The per-user file is named after the collection the file belongs to, so that every
    // route to one file finds the same copy, and the same file in another folder another.
    const QFileInfo info(file);
    const QString key = CollectionId::of(info.absolutePath()).key();
    const QString suffix = info.suffix();
    const QString name = suffix.isEmpty() ? info.fileName() + u'-' + key
                                          : info.completeBaseName() + u'-' + key + u'.' + suffix;
    return QDir(m_overlayFolder).filePath(name);
}

QString IniProfileFile::readProblem(const QString &file) const
{
    QStringList files{file};
    if (!m_overlayFolder.isEmpty())
        files.append(overlayPath(file));
    for (const QString &path : files) {
        QByteArray bytes;
        switch (readBytes(path, bytes)) {
        case ReadOutcome::Read:
        case ReadOutcome::Missing:
            break;
        case ReadOutcome::NotRegular:
            return QStringLiteral("No se leyó la configuración: «%1» no es un archivo común, sino "
                                  "una carpeta, una tubería o un dispositivo. El programa sigue "
                                  "con los valores predeterminados.")
                .arg(QDir::toNativeSeparators(path));
        case ReadOutcome::Failed:
            return QStringLiteral("No se pudo leer la configuración de «%1». Revise que el "
                                  "archivo se pueda leer; mientras tanto el programa sigue con "
                                  "los valores predeterminados.")
                .arg(QDir::toNativeSeparators(path));
        }
    }
    return {};
}

QString IniProfileFile::getString(const QString &section, const QString &key,
                                  const QString &defaultValue, int bufferSize,
                                  const QString &file) const
{
    QByteArray bytes;
    if (!m_overlayFolder.isEmpty() && isUserSetting(section, key) &&
        readBytes(overlayPath(file), bytes) == ReadOutcome::Read) {
        if (auto stored = profileValue(bytes, section, key))
            return fitToBuffer(*stored, bufferSize);
    }
    QString value = defaultValue;
    if (readBytes(file, bytes) == ReadOutcome::Read) {
        if (auto stored = profileValue(bytes, section, key))
            value = std::move(*stored);
    }
    return fitToBuffer(value, bufferSize);
}

bool IniProfileFile::writeString(const QString &section, const QString &key, const QString &value,
                                 const QString &file)
{
    // The per-user file, once there is one, takes every later write too.
    const QString overlay = overlayPath(file);
    const bool toOverlay =
        !overlay.isEmpty() && (QFileInfo::exists(overlay) || !m_canWriteInPlace(file));
    if (toOverlay && !isUserSetting(section, key))
        return false; // the installed file's settings are the administrator's
    if (toOverlay && !QDir().mkpath(m_overlayFolder))
        return false;
    const QString target = toOverlay ? overlay : file;

    const FolderLock lock(namedFile(target).absolutePath());
    if (!lock.held())
        return false;
    // A file that exists but cannot be read is left alone: writing it from an
    // empty text would throw away everything else it holds, and anything but a
    // regular file is not the place for settings.
    QByteArray bytes;
    if (const ReadOutcome read = readBytes(target, bytes);
        read == ReadOutcome::Failed || read == ReadOutcome::NotRegular)
        return false;
    // A per-user file made by an earlier version is a whole copy of the
    // installed file; what is not the user's goes, so the installed values
    // show through.
    if (toOverlay)
        bytes = keepProfileEntries(bytes, isUserSetting);
    return replaceFile(target, withProfileValue(bytes, section, key, value));
}
