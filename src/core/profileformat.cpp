#include "profileformat.h"

#include "windows1252.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <cstring>
#include <vector>

namespace {

constexpr char utf8Bom[] = "\xEF\xBB\xBF";

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

QByteArrayView trimBlanks(QByteArrayView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

bool isAscii(QByteArrayView text)
{
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

// UTF-8 that is known to be valid, a byte-order mark at its start included
// (one at the start of a line is text, not a mark).
QString decodeUtf8(QByteArrayView bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    return utf8.decode(bytes);
}

// Part of a line, decoded by the encoding of the whole line it belongs to.
QString decodePart(QByteArrayView line, QByteArrayView part)
{
    if (isAscii(part))
        return QString::fromLatin1(part);
    return line.isValidUtf8() ? decodeUtf8(part) : decodeWindows1252(part);
}

// One line of the file as byte positions: the line's own bytes are
// [start, contentEnd), its terminator ("\r\n", "\n", or nothing on an
// unterminated last line) is [contentEnd, end).
struct Line {
    qsizetype start = 0;
    qsizetype contentEnd = 0;
    qsizetype end = 0;
};

// The line that starts at start, which must lie inside data.
Line lineAt(QByteArrayView data, qsizetype start)
{
    Line line;
    line.start = start;
    const void *lf = std::memchr(data.data() + start, '\n', size_t(data.size() - start));
    if (!lf) {
        line.contentEnd = line.end = data.size();
        return line;
    }
    const qsizetype at = static_cast<const char *>(lf) - data.data();
    line.contentEnd = (at > start && data[at - 1] == '\r') ? at - 1 : at;
    line.end = at + 1;
    return line;
}

QByteArrayView content(QByteArrayView data, const Line &line)
{
    return data.sliced(line.start, line.contentEnd - line.start);
}

// The section name when the line opens a section.
std::optional<QByteArrayView> sectionName(QByteArrayView line)
{
    const QByteArrayView trimmed = trimBlanks(line);
    if (!trimmed.startsWith('['))
        return std::nullopt;
    const qsizetype close = trimmed.indexOf(']');
    if (close < 0)
        return std::nullopt;
    return trimBlanks(trimmed.sliced(1, close - 1));
}

struct KeyLine {
    QByteArrayView key;
    QByteArrayView value;
};

// The key and value when the line holds one. Section headers are not keys,
// even when they contain an '='.
std::optional<KeyLine> keyLine(QByteArrayView line)
{
    if (sectionName(line))
        return std::nullopt;
    const qsizetype equals = line.indexOf('=');
    if (equals < 0)
        return std::nullopt;
    return KeyLine{trimBlanks(line.first(equals)), trimBlanks(line.sliced(equals + 1))};
}

// A name asked for, ready to be compared with the names in the file: ASCII
// names of the file against an ASCII name byte by byte, anything else after
// decoding.
class Name {
public:
    explicit Name(const QString &name)
        : m_text(name)
    {
        qsizetype begin = 0;
        qsizetype end = m_text.size();
        while (begin < end && (m_text[begin] == u' ' || m_text[begin] == u'\t'))
            ++begin;
        while (end > begin && (m_text[end - 1] == u' ' || m_text[end - 1] == u'\t'))
            --end;
        m_text = m_text.mid(begin, end - begin);
        bool ascii = true;
        for (const QChar c : std::as_const(m_text))
            ascii = ascii && c.unicode() < 0x80;
        if (ascii)
            m_ascii = m_text.toLatin1();
        m_isAscii = ascii;
    }

    const QString &text() const { return m_text; }

    bool matches(QByteArrayView line, QByteArrayView name) const
    {
        if (m_isAscii && isAscii(name))
            return name.compare(m_ascii, Qt::CaseInsensitive) == 0;
        return decodePart(line, name).compare(m_text, Qt::CaseInsensitive) == 0;
    }

private:
    QString m_text;
    QByteArray m_ascii;
    bool m_isAscii = false;
};

enum class Utf16 { None, LittleEndian, BigEndian };

Utf16 utf16Of(QByteArrayView file)
{
    if (file.startsWith("\xFF\xFE"))
        return Utf16::LittleEndian;
    if (file.startsWith("\xFE\xFF"))
        return Utf16::BigEndian;
    return Utf16::None;
}

// The body of a UTF-16 file (after its mark) as UTF-8, and back.
QByteArray utf8FromUtf16(QByteArrayView file, Utf16 order)
{
    QStringDecoder decoder(
        order == Utf16::LittleEndian ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE,
        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    return QString(decoder.decode(file.sliced(2))).toUtf8();
}

QByteArray utf16FromUtf8(const QByteArray &body, Utf16 order)
{
    QStringEncoder encoder(order == Utf16::LittleEndian ? QStringEncoder::Utf16LE
                                                        : QStringEncoder::Utf16BE);
    QByteArray file =
        order == Utf16::LittleEndian ? QByteArray("\xFF\xFE") : QByteArray("\xFE\xFF");
    file += QByteArray(encoder.encode(decodeUtf8(body)));
    return file;
}

QByteArrayView unquote(QByteArrayView value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return value.sliced(1, value.size() - 2);
    return value;
}

// A CR or LF inside a name or a value would end the line early and let the
// rest of the text stand in the file as lines of its own (a new key, or a
// whole new section). Each one is written as a space instead.
QString withoutLineBreaks(QString text)
{
    text.replace(u'\r', u' ');
    text.replace(u'\n', u' ');
    return text;
}

QString withoutLeadingBlanks(const QString &text)
{
    qsizetype begin = 0;
    while (begin < text.size() && (text[begin] == u' ' || text[begin] == u'\t'))
        ++begin;
    return text.mid(begin);
}

// Files that already use bare LF keep doing so; anything else (CRLF, or no
// line ending yet) gets the CRLF of the Windows settings files.
QByteArray lineEndingOf(QByteArrayView text)
{
    if (text.contains('\n') && !text.contains("\r\n"))
        return QByteArrayLiteral("\n");
    return QByteArrayLiteral("\r\n");
}

// The line ending that closes the unterminated last line of text. A CR at the
// end of that line is part of its text, and a bare LF after it would turn the
// pair into a CRLF line ending, silently dropping the CR from the line; such a
// line is closed with CRLF whatever the file's style.
QByteArray closingLineEnding(QByteArrayView text, const QByteArray &eol)
{
    return text.endsWith('\r') ? QByteArrayLiteral("\r\n") : eol;
}

std::vector<Line> splitLines(QByteArrayView data)
{
    std::vector<Line> lines;
    for (qsizetype start = 0; start < data.size();) {
        lines.push_back(lineAt(data, start));
        start = lines.back().end;
    }
    return lines;
}

// Where the first section of a name lies: the index of its header line and
// the index one past its last line.
struct SectionSpan {
    std::size_t header = 0;
    std::size_t end = 0;
};

std::optional<SectionSpan> findSection(QByteArrayView data, const std::vector<Line> &lines,
                                       const Name &section)
{
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const QByteArrayView line = content(data, lines[i]);
        const auto name = sectionName(line);
        if (!name || !section.matches(line, *name))
            continue;
        std::size_t end = i + 1;
        while (end < lines.size() && !sectionName(content(data, lines[end])))
            ++end;
        return SectionSpan{i, end};
    }
    return std::nullopt;
}

QByteArray bodyWithValue(const QByteArray &body, const QString &section, const QString &key,
                         const QString &value)
{
    const Name sectionName(withoutLineBreaks(section));
    const Name keyName(withoutLineBreaks(key));
    const QString storedValue = withoutLeadingBlanks(withoutLineBreaks(value));
    const QByteArray eol = lineEndingOf(body);
    const auto keyValue = [&storedValue](const QString &name) {
        return (name + u'=' + storedValue).toUtf8();
    };

    const std::vector<Line> lines = splitLines(body);
    const auto span = findSection(body, lines, sectionName);

    if (!span) {
        QByteArray result = body;
        if (!result.isEmpty() && !result.endsWith('\n'))
            result += closingLineEnding(result, eol);
        result += '[' + sectionName.text().toUtf8() + ']' + eol;
        result += keyValue(keyName.text()) + eol;
        return result;
    }

    for (std::size_t i = span->header + 1; i < span->end; ++i) {
        const QByteArrayView line = content(body, lines[i]);
        const auto parts = keyLine(line);
        if (!parts || !keyName.matches(line, parts->key))
            continue;
        QByteArray result = body;
        result.replace(lines[i].start, lines[i].contentEnd - lines[i].start,
                       keyValue(decodePart(line, parts->key)));
        return result;
    }

    std::size_t last = span->header;
    for (std::size_t i = span->header + 1; i < span->end; ++i) {
        if (!trimBlanks(content(body, lines[i])).isEmpty())
            last = i;
    }
    const Line &after = lines[last];
    const QByteArray newLine = keyValue(keyName.text()) + eol;
    QByteArray result = body;
    if (after.end == after.contentEnd) { // the unterminated last line of the file
        result += closingLineEnding(result, eol);
        result += newLine;
        return result;
    }
    result.insert(after.end, newLine);
    return result;
}

} // namespace

namespace {

std::optional<QString> valueInBody(QByteArrayView file, const QString &section, const QString &key)
{
    const Name sectionWanted(section);
    const Name keyWanted(key);
    bool inSection = false;
    for (qsizetype start = 0; start < file.size();) {
        const Line at = lineAt(file, start);
        start = at.end;
        const QByteArrayView line = content(file, at);
        if (const auto name = sectionName(line)) {
            if (inSection)
                return std::nullopt; // only the first section of the name counts
            inSection = sectionWanted.matches(line, *name);
            continue;
        }
        if (!inSection)
            continue;
        const auto parts = keyLine(line);
        if (parts && keyWanted.matches(line, parts->key))
            return decodePart(line, unquote(parts->value));
    }
    return std::nullopt;
}

} // namespace

std::optional<QString> profileValue(QByteArrayView file, const QString &section, const QString &key)
{
    if (const Utf16 order = utf16Of(file); order != Utf16::None)
        return valueInBody(utf8FromUtf16(file, order), section, key);
    if (file.startsWith(utf8Bom))
        file = file.sliced(3);
    return valueInBody(file, section, key);
}

QByteArray withProfileValue(const QByteArray &file, const QString &section, const QString &key,
                            const QString &value)
{
    if (const Utf16 order = utf16Of(file); order != Utf16::None)
        return utf16FromUtf8(bodyWithValue(utf8FromUtf16(file, order), section, key, value), order);
    if (file.startsWith(utf8Bom))
        return QByteArray(utf8Bom) + bodyWithValue(file.sliced(3), section, key, value);
    return bodyWithValue(file, section, key, value);
}

QByteArray keepProfileEntries(const QByteArray &file,
                              const std::function<bool(const QString &, const QString &)> &keep)
{
    if (const Utf16 order = utf16Of(file); order != Utf16::None)
        return utf16FromUtf8(keepProfileEntries(utf8FromUtf16(file, order), keep), order);
    QByteArray result;
    QByteArrayView body(file);
    if (body.startsWith(utf8Bom)) {
        result = utf8Bom;
        body = body.sliced(3);
    }
    bool sectionKept = false;
    QString section;
    for (qsizetype start = 0; start < body.size();) {
        const Line at = lineAt(body, start);
        start = at.end;
        const QByteArrayView line = content(body, at);
        const QByteArrayView whole = body.sliced(at.start, at.end - at.start);
        if (const auto name = sectionName(line)) {
            section = decodePart(line, *name);
            sectionKept = keep(section, QString());
            if (sectionKept)
                result += whole;
            continue;
        }
        if (!sectionKept)
            continue;
        const auto parts = keyLine(line);
        if (!parts || keep(section, decodePart(line, parts->key)))
            result += whole;
    }
    return result;
}

QString decodeProfileBytes(const QByteArray &bytes)
{
    if (const Utf16 order = utf16Of(bytes); order != Utf16::None)
        return decodeUtf8(utf8FromUtf16(bytes, order));
    QByteArrayView body(bytes);
    if (body.startsWith(utf8Bom))
        body = body.sliced(3);
    QString text;
    text.reserve(body.size());
    for (qsizetype start = 0; start < body.size();) {
        const Line at = lineAt(body, start);
        start = at.end;
        const QByteArrayView whole = body.sliced(at.start, at.end - at.start);
        text += decodePart(content(body, at), whole);
    }
    return text;
}
