// The settings-file engine: the reader and the writer of profileformat.h on
// the file's bytes, and the same through the file on disk (IniProfileFile,
// ReadIniValue and WriteIniValue).
//
// Input: whether to go through the disk too, a section, a key and a value,
// then the bytes of the file.
//
// Properties:
// - reading and writing cope with any file and any names;
// - a read after a write sees the write: the value as stored (line breaks made
//   spaces, blanks trimmed, one pair of enclosing quotes removed), under the
//   names as stored (line breaks made spaces). This holds for every name the
//   format can hold: a section name without "]", a key without "=" that does
//   not begin with "[";
// - every other line survives: at most one line of the file is replaced and at
//   most two are added (a section header and the key), each of them naming the
//   section or the key written; all other lines are kept, in order;
// - a file with bare LF line endings gets no CRLF, unless its unterminated
//   last line ends in a CR (which a bare LF would turn into a line ending);
// - writing the same value again changes nothing;
// - on disk, the file holds exactly the writer's bytes, with a byte-order mark
//   exactly when it had one, and ReadIniValue returns what the reader finds,
//   cut to 254 characters.
#include "fuzzsupport.h"

#include "iniprofilefile.h"
#include "profileformat.h"
#include "utility.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <memory>

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

QString trimmedBlanks(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && isBlank(text[end - 1])) {
        --end;
    }
    return text.mid(begin, end - begin);
}

QString withSpacesForBreaks(QString text)
{
    for (QChar &c : text) {
        if (c == u'\r' || c == u'\n') {
            c = u' ';
        }
    }
    return text;
}

// The lines of a text, each without its LF and one CR before that LF; an
// unterminated last line keeps all of its characters.
QStringList linesOf(const QString &text)
{
    QStringList lines;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype lf = text.indexOf(u'\n', start);
        if (lf < 0) {
            lines.append(text.mid(start));
            break;
        }
        qsizetype end = lf;
        if (end > start && text[end - 1] == u'\r') {
            --end;
        }
        lines.append(text.mid(start, end - start));
        start = lf + 1;
    }
    return lines;
}

// What a read finds after value was written.
QString storedValue(const QString &value)
{
    const QString trimmed = trimmedBlanks(withSpacesForBreaks(value));
    if (trimmed.size() >= 2 && (trimmed.front() == u'"' || trimmed.front() == u'\'') &&
        trimmed.back() == trimmed.front()) {
        return trimmed.mid(1, trimmed.size() - 2);
    }
    return trimmed;
}

// What a 255-character buffer holds of text.
QString cutForBuffer(const QString &text)
{
    qsizetype length = 254;
    if (text.size() <= length) {
        return text;
    }
    if (text[length - 1].isHighSurrogate() && text[length].isLowSurrogate()) {
        --length;
    }
    return text.left(length);
}

bool sameName(const QString &a, const QString &b)
{
    return trimmedBlanks(a).compare(trimmedBlanks(b), Qt::CaseInsensitive) == 0;
}

// Whether line is the header of section or a line of key: as the writer
// writes a new one, or as the reader sees it.
bool namesWritten(const QString &line, const QString &section, const QString &key)
{
    const QString trimmed = trimmedBlanks(line);
    if (trimmed == u'[' + trimmedBlanks(section) + u']' ||
        line.startsWith(trimmedBlanks(key) + u'=')) {
        return true;
    }
    if (trimmed.startsWith(u'[')) {
        const qsizetype close = trimmed.indexOf(u']');
        return sameName(close < 0 ? trimmed.mid(1) : trimmed.mid(1, close - 1), section);
    }
    const qsizetype equals = line.indexOf(u'=');
    return equals >= 0 && sameName(line.left(equals), key);
}

void checkOtherLinesKept(const QString &before, const QString &after, const QString &section,
                         const QString &key)
{
    const QStringList old = linesOf(before);
    const QStringList now = linesOf(after);
    qsizetype prefix = 0;
    while (prefix < old.size() && prefix < now.size() && old[prefix] == now[prefix]) {
        ++prefix;
    }
    qsizetype suffix = 0;
    while (suffix < old.size() - prefix && suffix < now.size() - prefix &&
           old[old.size() - 1 - suffix] == now[now.size() - 1 - suffix]) {
        ++suffix;
    }
    const qsizetype removed = old.size() - prefix - suffix;
    const qsizetype added = now.size() - prefix - suffix;
    FUZZ_CHECK(removed <= 1 && added <= 2 && added >= removed, {"before", fuzz::shown(before)},
               {"after", fuzz::shown(after)});
    for (qsizetype i = prefix; i < prefix + added; ++i) {
        FUZZ_CHECK(namesWritten(now[i], section, key), {"line", fuzz::shown(now[i])},
                   {"before", fuzz::shown(before)}, {"after", fuzz::shown(after)});
    }
}

const QString &scratchFile()
{
    // On a memory file system when there is one: each input writes the file
    // twice, and the writer syncs it to the disk.
    static const auto dir = std::make_unique<QTemporaryDir>(
        QDir(QStringLiteral("/dev/shm")).exists()
            ? QStringLiteral("/dev/shm/legisdisco-fuzz-XXXXXX")
            : QDir::temp().filePath(QStringLiteral("legisdisco-fuzz-XXXXXX")));
    static const QString path = dir->filePath(QStringLiteral("legisdis.ini"));
    return path;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    FuzzedDataProvider data(bytes, size);
    const bool throughDisk = data.ConsumeBool();
    const QString section = fuzz::text(data, 24);
    const QString key = fuzz::text(data, 24);
    const QString value = fuzz::text(data, 300);
    const std::string rest = data.ConsumeRemainingBytesAsString();
    const QByteArray original(rest.data(), static_cast<qsizetype>(rest.size()));

    const QString text = decodeProfileBytes(original);
    (void)profileValue(original, section, key);
    const QByteArray writtenBytes = withProfileValue(original, section, key, value);
    const QString written = decodeProfileBytes(writtenBytes);

    // The names as the file holds them.
    const QString storedSection = withSpacesForBreaks(section);
    const QString storedKey = withSpacesForBreaks(key);
    const bool representable = !trimmedBlanks(storedSection).contains(u']') &&
                               !storedKey.contains(u'=') &&
                               !trimmedBlanks(storedKey).startsWith(u'[');

    checkOtherLinesKept(text, written, storedSection, storedKey);
    // (A last line that ends in a CR keeps it only when closed with a CRLF.)
    if (text.contains(u'\n') && !text.contains(QStringLiteral("\r\n")) && !text.endsWith(u'\r')) {
        FUZZ_CHECK(!written.contains(QStringLiteral("\r\n")), {"before", fuzz::shown(text)},
                   {"after", fuzz::shown(written)});
    }
    if (representable) {
        const std::optional<QString> back = profileValue(writtenBytes, storedSection, storedKey);
        FUZZ_CHECK(back && *back == storedValue(value), {"section", fuzz::shown(section)},
                   {"key", fuzz::shown(key)}, {"value", fuzz::shown(value)},
                   {"before", fuzz::shown(text)}, {"after", fuzz::shown(written)},
                   {"read", back ? fuzz::shown(*back) : std::string("nothing")});
        const QByteArray again = withProfileValue(writtenBytes, section, key, value);
        FUZZ_CHECK(again == writtenBytes, {"after", fuzz::shown(written)},
                   {"again", fuzz::shown(decodeProfileBytes(again))});
    }

    // The same through the file on disk, for the inputs that ask for it: the
    // disk costs more than all the rest.
    if (!throughDisk) {
        return 0;
    }
    const QString &path = scratchFile();
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(original) != original.size()) {
            std::abort();
        }
    }
    IniProfileFile profile;
    const bool stored = WriteIniValue(profile, path, section, key, value);
    FUZZ_CHECK(stored, {"file", fuzz::shown(written)});
    const QByteArray onDisk = fileBytes(path);
    const QByteArray bom("\xEF\xBB\xBF");
    FUZZ_CHECK(onDisk.startsWith(bom) == original.startsWith(bom), {"file", fuzz::shown(written)});
    // Only the line written changes on disk (the other lines keep their bytes,
    // whatever their encoding), and the file reads as the text rules say.
    FUZZ_CHECK(onDisk == writtenBytes, {"expected", fuzz::shown(written)},
               {"on disk", fuzz::shown(decodeProfileBytes(onDisk))});
    if (representable) {
        const QString read =
            ReadIniValue(profile, path, storedSection, storedKey, QStringLiteral("?"));
        FUZZ_CHECK(read == cutForBuffer(storedValue(value)), {"read", fuzz::shown(read)},
                   {"value", fuzz::shown(value)});
    }
    return 0;
}
