#include "documenttext.h"

#include "pdftextprocess.h"
#include "searchtext.h"
#include "windows1252.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>

namespace {

// The character set a page declares in its first few kilobytes, lower case.
QString declaredCharset(const QByteArray &bytes)
{
    static const QRegularExpression charset(
        QStringLiteral(R"(<meta[^>]*charset\s*=\s*["']?\s*([A-Za-z0-9_.:-]+))"),
        QRegularExpression::CaseInsensitiveOption);
    const QString head = QString::fromLatin1(bytes.left(4096));
    const QRegularExpressionMatch match = charset.match(head);
    return match.hasMatch() ? match.captured(1).toLower() : QString();
}

const QHash<QString, QChar> &namedEntities()
{
    // The entities of HTML 4's Latin-1 set and the few others such pages use.
    static const QHash<QString, QChar> entities = [] {
        QHash<QString, QChar> map;
        const char *latin1[] = {
            "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",
            "uml",    "copy",   "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",
            "deg",    "plusmn", "sup2",   "sup3",   "acute",  "micro",  "para",   "middot",
            "cedil",  "sup1",   "ordm",   "raquo",  "frac14", "frac12", "frac34", "iquest",
            "Agrave", "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",  "AElig",  "Ccedil",
            "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave", "Iacute", "Icirc",  "Iuml",
            "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",   "times",
            "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",  "szlig",
            "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil",
            "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",
            "eth",    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide",
            "oslash", "ugrave", "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};
        for (int i = 0; i < 96; ++i) {
            map.insert(QLatin1String(latin1[i]), QChar(0xA0 + i));
        }
        map.insert(QStringLiteral("amp"), u'&');
        map.insert(QStringLiteral("lt"), u'<');
        map.insert(QStringLiteral("gt"), u'>');
        map.insert(QStringLiteral("quot"), u'"');
        map.insert(QStringLiteral("apos"), u'\'');
        map.insert(QStringLiteral("ndash"), QChar(0x2013));
        map.insert(QStringLiteral("mdash"), QChar(0x2014));
        map.insert(QStringLiteral("lsquo"), QChar(0x2018));
        map.insert(QStringLiteral("rsquo"), QChar(0x2019));
        map.insert(QStringLiteral("ldquo"), QChar(0x201C));
        map.insert(QStringLiteral("rdquo"), QChar(0x201D));
        map.insert(QStringLiteral("bull"), QChar(0x2022));
        map.insert(QStringLiteral("hellip"), QChar(0x2026));
        map.insert(QStringLiteral("euro"), QChar(0x20AC));
        return map;
    }();
    return entities;
}

// Replaces character references; an unknown or malformed one stays as written.
QString decodeEntities(QStringView text)
{
    QString out;
    out.reserve(text.size());
    qsizetype i = 0;
    while (i < text.size()) {
        const QChar c = text[i];
        if (c != u'&') {
            out.append(c);
            ++i;
            continue;
        }
        const qsizetype semi = text.indexOf(u';', i + 1);
        if (semi < 0 || semi - i > 12) {
            out.append(c);
            ++i;
            continue;
        }
        const QStringView name = text.mid(i + 1, semi - i - 1);
        bool decoded = false;
        if (name.startsWith(u'#') && name.size() > 1) {
            bool ok = false;
            const uint code = (name[1] == u'x' || name[1] == u'X') ? name.mid(2).toUInt(&ok, 16)
                                                                   : name.mid(1).toUInt(&ok, 10);
            if (ok && code > 0 && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF)) {
                // As browsers do, references to 0x80-0x9F mean Windows-1252.
                if (code >= 0x80 && code <= 0x9F) {
                    out.append(QChar(windows1252Character(static_cast<unsigned char>(code))));
                } else {
                    const char32_t ucs4 = code;
                    out.append(QString::fromUcs4(&ucs4, 1));
                }
                decoded = true;
            }
        } else {
            const auto found = namedEntities().constFind(name.toString());
            if (found != namedEntities().constEnd()) {
                out.append(*found);
                decoded = true;
            }
        }
        if (decoded) {
            i = semi + 1;
        } else {
            out.append(c);
            ++i;
        }
    }
    return out;
}

bool startsWithTag(QStringView text, qsizetype at, QLatin1String name)
{
    const qsizetype end = at + 1 + name.size();
    if (end > text.size() ||
        text.mid(at + 1, name.size()).compare(name, Qt::CaseInsensitive) != 0) {
        return false;
    }
    return end == text.size() || !text[end].isLetterOrNumber();
}

// Index of the end of the element whose content is not text (script, style),
// after its closing tag; the end of the text when it is never closed.
qsizetype skipRawElement(QStringView text, qsizetype from, QLatin1String name)
{
    const QString closing = QLatin1String("</") + name;
    const qsizetype close = text.indexOf(closing, from, Qt::CaseInsensitive);
    if (close < 0) {
        return text.size();
    }
    const qsizetype gt = text.indexOf(u'>', close);
    return gt < 0 ? text.size() : gt + 1;
}

struct HtmlParts {
    QString title;
    QString text;
};

HtmlParts splitHtml(QStringView html)
{
    static const QLatin1String blockTags[] = {
        QLatin1String("p"),  QLatin1String("br"),        QLatin1String("div"),
        QLatin1String("li"), QLatin1String("tr"),        QLatin1String("td"),
        QLatin1String("th"), QLatin1String("h1"),        QLatin1String("h2"),
        QLatin1String("h3"), QLatin1String("h4"),        QLatin1String("h5"),
        QLatin1String("h6"), QLatin1String("table"),     QLatin1String("ul"),
        QLatin1String("ol"), QLatin1String("hr"),        QLatin1String("dd"),
        QLatin1String("dt"), QLatin1String("blockquote")};
    HtmlParts parts;
    QString raw;
    raw.reserve(html.size() / 2);
    qsizetype i = 0;
    while (i < html.size()) {
        const QChar c = html[i];
        if (c != u'<') {
            raw.append(c);
            ++i;
            continue;
        }
        if (html.mid(i, 4) == QLatin1String("<!--")) {
            const qsizetype end = html.indexOf(QLatin1String("-->"), i + 4);
            i = end < 0 ? html.size() : end + 3;
            continue;
        }
        for (const QLatin1String name : {QLatin1String("script"), QLatin1String("style")}) {
            if (startsWithTag(html, i, name)) {
                i = skipRawElement(html, i, name);
                raw.append(u' ');
                break;
            }
        }
        if (i >= html.size() || html[i] != u'<') {
            continue;
        }
        if (parts.title.isNull() && startsWithTag(html, i, QLatin1String("title"))) {
            const qsizetype open = html.indexOf(u'>', i);
            const qsizetype close =
                open < 0 ? -1 : html.indexOf(QLatin1String("</title"), open, Qt::CaseInsensitive);
            if (open >= 0 && close >= 0) {
                parts.title = oneLine(decodeEntities(html.mid(open + 1, close - open - 1)));
                const qsizetype gt = html.indexOf(u'>', close);
                i = gt < 0 ? html.size() : gt + 1;
                continue;
            }
        }
        const qsizetype gt = html.indexOf(u'>', i);
        if (gt < 0) {
            break; // a tag never closed: the rest is not text
        }
        const qsizetype nameStart = (i + 1 < html.size() && html[i + 1] == u'/') ? i + 1 : i;
        for (const QLatin1String &tag : blockTags) {
            if (startsWithTag(html, nameStart, tag)) {
                raw.append(u'\n');
                break;
            }
        }
        // Inline tags join their text ("<b>regula</b>ción" is one word).
        i = gt + 1;
    }
    parts.text = decodeEntities(raw);
    return parts;
}

} // namespace

QString decodeHtmlBytes(const QByteArray &bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        return QString::fromUtf8(bytes.mid(3));
    }
    const QString charset = declaredCharset(bytes);
    if (charset == QLatin1String("utf-8") || charset == QLatin1String("utf8") ||
        (charset.isEmpty() && bytes.isValidUtf8())) {
        return QString::fromUtf8(bytes);
    }
    // windows-1252, iso-8859-1 and its aliases, or nothing declared and not
    // UTF-8: browsers read all of these as Windows-1252.
    return decodeWindows1252(bytes);
}

DocumentText htmlText(const QByteArray &bytes)
{
    const HtmlParts parts = splitHtml(decodeHtmlBytes(bytes));
    DocumentText doc;
    doc.title = parts.title;
    QString text = parts.text;
    if (text.size() > DocumentLimits::maxPageText) {
        text.truncate(DocumentLimits::maxPageText);
    }
    doc.pages.push_back(DocumentText::Page{0, text});
    return doc;
}

DocumentText readHtmlText(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        DocumentText doc;
        doc.skipReason = QStringLiteral("no se puede leer");
        return doc;
    }
    return htmlText(file.read(DocumentLimits::maxHtmlBytes));
}

DocumentText readPdfText(const QString &path, const QString &readerProgram)
{
    using Outcome = PdfTextProcess::Outcome;
    constexpr qint64 limitMilliseconds = 60000;
    DocumentText doc;
    PdfTextProcess pdf(readerProgram.isEmpty() ? pdfTextReaderProgram() : readerProgram);
    int pages = 0;
    QString title;
    const Outcome opened = pdf.open(path, limitMilliseconds, {}, &doc.skipReason, &pages, &title);
    if (opened == Outcome::Unavailable) {
        doc.skipReason = pdf.unavailable();
        return doc;
    }
    if (opened != Outcome::Answered) {
        doc.skipReason = QStringLiteral("el lector de PDF falló con este archivo");
        return doc;
    }
    if (!doc.skipReason.isEmpty()) {
        return doc;
    }
    doc.title = oneLine(title);
    for (int page = 0; page < pages; ++page) {
        QString text;
        if (pdf.pageText(page, limitMilliseconds, {}, &text) != Outcome::Answered) {
            break;
        }
        if (!text.trimmed().isEmpty()) {
            doc.pages.push_back(DocumentText::Page{page + 1, std::move(text)});
        }
    }
    if (doc.pages.empty()) {
        doc.skipReason = QStringLiteral("sin texto");
    }
    return doc;
}
