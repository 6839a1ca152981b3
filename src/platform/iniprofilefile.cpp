#include "iniprofilefile.h"

#include "profileformat.h"

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

QString IniProfileFile::getString(const QString &section, const QString &key,
                                  const QString &defaultValue, int bufferSize,
                                  const QString &file) const
{
    QString value = defaultValue;
    QByteArray bytes;
    if (readBytes(file, bytes) == ReadOutcome::Read) {
        if (auto stored = readProfileValue(decodeProfileBytes(bytes), section, key))
            value = std::move(*stored);
    }
    return fitToBuffer(value, bufferSize);
}

bool IniProfileFile::writeString(const QString &section, const QString &key, const QString &value,
                                 const QString &file)
{
    // A file that exists but cannot be read is left alone: writing it from an
    // empty text would throw away everything else it holds.
    QByteArray bytes;
    if (readBytes(file, bytes) == ReadOutcome::Failed)
        return false;

    const QString text = writeProfileValue(decodeProfileBytes(bytes), section, key, value);
    QByteArray data = bytes.startsWith(utf8Bom) ? QByteArray(utf8Bom) : QByteArray();
    data += text.toUtf8();

    QSaveFile out(file);
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
