#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <vector>

// The text of one document of the collection, as the index takes it in.
struct DocumentText {
    struct Page {
        int number = 0; // 1 for the first page of a PDF; 0 for an HTML page
        QString text;
    };
    QString title;
    std::vector<Page> pages;
    // Why the document was left out (empty when it was read): it could not be
    // opened, is locked by a password, or holds no text.
    QString skipReason;
};

namespace DocumentLimits {
// A page's text beyond this many characters is cut, so that one huge page
// cannot swamp the index or the memory.
constexpr qsizetype maxPageText = 1 << 20;
// An HTML file is read up to this many bytes.
constexpr qsizetype maxHtmlBytes = 16 << 20;
} // namespace DocumentLimits

// The text of a PDF file, page by page, as the index reads it: through the PDF text
// reader process (readerProgram, by default the one beside the running program, see
// pdftextprocess.h). The title is the document's own when it has one.
DocumentText readPdfText(const QString &path, const QString &readerProgram = {});

// The title (from <title>) and text of an HTML page given as bytes, decoded by
// its declared character set (a <meta> charset, UTF-8 or Windows-1252); a page
// that declares none is UTF-8 when it is valid UTF-8, else Windows-1252.
DocumentText htmlText(const QByteArray &bytes);
DocumentText readHtmlText(const QString &path);

// The text of the bytes of an HTML page, decoded as above.
QString decodeHtmlBytes(const QByteArray &bytes);
