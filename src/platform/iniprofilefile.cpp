#include "iniprofilefile.h"

#include "overlaykey.h"
#include "profileformat.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <utility>

namespace {

constexpr char utf8Bom[] = "\xEF\xBB\xBF";

enum class ReadOutcome { Read, Missing, Failed };

ReadOutcome readBytes(const QString &path, QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QFileInfo::exists(path) ? ReadOutcome::Failed : ReadOutcome::Missing;
    bytes = file.readAll();
    return file.error() == QFileDevice::NoError ? ReadOutcome::Read : ReadOutcome::Failed;
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

QString IniProfileFile::overlayPath(const QString &file) const
{
    if (m_overlayFolder.isEmpty())
        return {};
    // The copy is named after the full path of the file (see overlayKey).
    const QFileInfo info(file);
    const QString key = overlayKey(file);
    const QString suffix = info.suffix();
    const QString name = suffix.isEmpty() ? info.fileName() + u'-' + key
                                          : info.completeBaseName() + u'-' + key + u'.' + suffix;
    return QDir(m_overlayFolder).filePath(name);
}

QString IniProfileFile::readPath(const QString &file) const
{
    const QString copy = overlayPath(file);
    return !copy.isEmpty() && QFileInfo::exists(copy) ? copy : file;
}

QString IniProfileFile::getString(const QString &section, const QString &key,
                                  const QString &defaultValue, int bufferSize,
                                  const QString &file) const
{
    QString value = defaultValue;
    QByteArray bytes;
    if (readBytes(readPath(file), bytes) == ReadOutcome::Read) {
        if (auto stored = readProfileValue(decodeProfileBytes(bytes), section, key))
            value = std::move(*stored);
    }
    return fitToBuffer(value, bufferSize);
}

bool IniProfileFile::writeString(const QString &section, const QString &key, const QString &value,
                                 const QString &file)
{
    // The text comes from the per-user copy once there is one, else from the
    // file itself; it goes back to the same place, except that a file that
    // cannot be written in place starts its per-user copy.
    const QString source = readPath(file);
    QString target = source;
    if (source == file && !m_overlayFolder.isEmpty() && !m_canWriteInPlace(file)) {
        target = overlayPath(file);
        if (!QDir().mkpath(m_overlayFolder))
            return false;
    }

    // A file that exists but cannot be read is left alone: writing it from an
    // empty text would throw away everything else it holds.
    QByteArray bytes;
    if (readBytes(source, bytes) == ReadOutcome::Failed)
        return false;

    const QString text = writeProfileValue(decodeProfileBytes(bytes), section, key, value);
    QByteArray data = bytes.startsWith(utf8Bom) ? QByteArray(utf8Bom) : QByteArray();
    data += text.toUtf8();

    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    // commit() does not notice when the buffered data fails to reach the disk
    // (a full disk, a size limit) and would put a cut-off file in place of the
    // old one, so the data is flushed and checked before that.
    if (out.write(data) != data.size() || !out.flush() || out.error() != QFileDevice::NoError) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}
