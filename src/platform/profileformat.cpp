#include "profileformat.h"

#include <QStringDecoder>
#include <QStringView>

#include <vector>

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

QStringView trimBlanks(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text.at(begin)))
        ++begin;
    while (end > begin && isBlank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

bool sameName(QStringView a, QStringView b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// One line of the file as positions in its text: the line's own characters are
// [start, contentEnd), its terminator ("\r\n", "\n", or nothing on an
// unterminated last line) is [contentEnd, end).
struct Line {
    qsizetype start = 0;
    qsizetype contentEnd = 0;
    qsizetype end = 0;
};

std::vector<Line> splitLines(const QString &text)
{
    std::vector<Line> lines;
    qsizetype start = 0;
    while (start < text.size()) {
        const qsizetype lf = text.indexOf(u'\n', start);
        Line line;
        line.start = start;
        if (lf < 0) {
            line.contentEnd = line.end = text.size();
        } else {
            line.contentEnd = (lf > start && text.at(lf - 1) == u'\r') ? lf - 1 : lf;
            line.end = lf + 1;
        }
        lines.push_back(line);
        start = line.end;
    }
    return lines;
}

QStringView content(const QString &text, const Line &line)
{
    return QStringView(text).mid(line.start, line.contentEnd - line.start);
}

// The section name when the line opens a section.
std::optional<QStringView> sectionName(QStringView line)
{
    const QStringView trimmed = trimBlanks(line);
    if (!trimmed.startsWith(u'['))
        return std::nullopt;
    QStringView name = trimmed.mid(1);
    const qsizetype close = name.indexOf(u']');
    if (close >= 0)
        name = name.left(close);
    return trimBlanks(name);
}

struct KeyLine {
    QStringView key;
    QStringView value;
};

// The key and value when the line holds one. Section headers are not keys, even
// when they contain an '='.
std::optional<KeyLine> keyLine(QStringView line)
{
    if (sectionName(line))
        return std::nullopt;
    const qsizetype equals = line.indexOf(u'=');
    if (equals < 0)
        return std::nullopt;
    return KeyLine{trimBlanks(line.left(equals)), trimBlanks(line.mid(equals + 1))};
}

// Where the first section of a name lies: the index of its header line and the
// index one past its last line.
struct SectionSpan {
    std::size_t header = 0;
    std::size_t end = 0;
};

std::optional<SectionSpan> findSection(const QString &text, const std::vector<Line> &lines,
                                       QStringView section)
{
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto name = sectionName(content(text, lines[i]));
        if (!name || !sameName(*name, section))
            continue;
        std::size_t end = i + 1;
        while (end < lines.size() && !sectionName(content(text, lines[end])))
            ++end;
        return SectionSpan{i, end};
    }
    return std::nullopt;
}

struct FoundKey {
    std::size_t line = 0;
    KeyLine parts;
};

std::optional<FoundKey> findKey(const QString &text, const std::vector<Line> &lines,
                                const SectionSpan &span, QStringView key)
{
    for (std::size_t i = span.header + 1; i < span.end; ++i) {
        const auto parts = keyLine(content(text, lines[i]));
        if (parts && sameName(parts->key, key))
            return FoundKey{i, *parts};
    }
    return std::nullopt;
}

QStringView unquote(QStringView value)
{
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
        value.back() == value.front())
        return value.mid(1, value.size() - 2);
    return value;
}

// A CR or LF inside a name or a value would end the line early and let the rest
// of the text stand in the file as lines of its own (a new key, or a whole new
// section). Each one is written as a space instead.
QString withoutLineBreaks(QString text)
{
    text.replace(u'\r', u' ');
    text.replace(u'\n', u' ');
    return text;
}

QString keyValue(QStringView key, QStringView value)
{
    QString line;
    line.reserve(key.size() + 1 + value.size());
    line += key;
    line += u'=';
    line += value;
    return line;
}

QStringView withoutLeadingBlanks(QStringView text)
{
    qsizetype begin = 0;
    while (begin < text.size() && isBlank(text.at(begin)))
        ++begin;
    return text.mid(begin);
}

// Files that already use bare LF keep doing so; anything else (CRLF, or no line
// ending yet) gets the CRLF of the Windows settings files.
QString lineEndingOf(const QString &text)
{
    if (text.contains(u'\n') && !text.contains(u"\r\n"))
        return QStringLiteral("\n");
    return QStringLiteral("\r\n");
}

// The line ending that closes the unterminated last line of text. A CR at the
// end of that line is part of its text, and a bare LF after it would turn the
// pair into a CRLF line ending, silently dropping the CR from the line; such a
// line is closed with CRLF whatever the file's style.
QString closingLineEnding(const QString &text, const QString &eol)
{
    return text.endsWith(u'\r') ? QStringLiteral("\r\n") : eol;
}

// Windows-1252 for bytes 0x80 to 0x9F. The five bytes the code page leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) keep their Latin-1 value, the C1
// control of the same number, so no byte of the file is lost.
constexpr char16_t windows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, // 0x88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, // 0x98
};

QString decodeWindows1252(QByteArrayView bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        text[i] = (byte >= 0x80 && byte <= 0x9F) ? QChar(windows1252High[byte - 0x80])
                                                 : QChar(char16_t(byte));
    }
    return text;
}

} // namespace

std::optional<QString> readProfileValue(const QString &text, const QString &section,
                                        const QString &key)
{
    const std::vector<Line> lines = splitLines(text);
    const auto span = findSection(text, lines, trimBlanks(section));
    if (!span)
        return std::nullopt;
    const auto found = findKey(text, lines, *span, trimBlanks(key));
    if (!found)
        return std::nullopt;
    return unquote(found->parts.value).toString();
}

QString writeProfileValue(const QString &text, const QString &section, const QString &key,
                          const QString &value)
{
    const QString cleanSection = withoutLineBreaks(section);
    const QString cleanKey = withoutLineBreaks(key);
    const QString cleanValue = withoutLineBreaks(value);
    const QStringView sectionName = trimBlanks(cleanSection);
    const QStringView keyName = trimBlanks(cleanKey);
    const QStringView storedValue = withoutLeadingBlanks(cleanValue);
    const QString eol = lineEndingOf(text);

    const std::vector<Line> lines = splitLines(text);
    const auto span = findSection(text, lines, sectionName);

    if (!span) {
        QString result = text;
        if (!result.isEmpty() && !result.endsWith(u'\n'))
            result += closingLineEnding(result, eol);
        result += u'[';
        result += sectionName;
        result += u']';
        result += eol;
        result += keyValue(keyName, storedValue);
        result += eol;
        return result;
    }

    if (const auto found = findKey(text, lines, *span, keyName)) {
        const Line &line = lines[found->line];
        QString result = text;
        result.replace(line.start, line.contentEnd - line.start,
                       keyValue(found->parts.key, storedValue));
        return result;
    }

    std::size_t last = span->header;
    for (std::size_t i = span->header + 1; i < span->end; ++i) {
        if (!trimBlanks(content(text, lines[i])).isEmpty())
            last = i;
    }
    const Line &after = lines[last];
    const QString newLine = keyValue(keyName, storedValue) + eol;
    QString result = text;
    if (after.end == after.contentEnd) { // the unterminated last line of the file
        result += closingLineEnding(result, eol);
        result += newLine;
        return result;
    }
    result.insert(after.end, newLine);
    return result;
}

QString decodeProfileBytes(const QByteArray &bytes)
{
    QByteArrayView data(bytes);
    if (data.startsWith("\xEF\xBB\xBF"))
        data = data.sliced(3);

    // Stateless, so that a multi-byte sequence cut off by the end of the file
    // counts as an error instead of being held back for more input. The mark
    // has been dropped already; a U+FEFF after it is part of the text.
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = utf8.decode(data);
    if (!utf8.hasError())
        return text;
    return decodeWindows1252(data);
}
