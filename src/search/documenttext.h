#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <vector>

class QPdfDocument;

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

// A PDF opened to read its text one page at a time, through Qt PDF, so that
// the reader can stop between pages. A page's text can take long to make (a
// page that draws a huge content stream): pageText() cannot be interrupted.
class PdfTextReader {
public:
    PdfTextReader();
    ~PdfTextReader();
    PdfTextReader(const PdfTextReader &) = delete;
    PdfTextReader &operator=(const PdfTextReader &) = delete;

    // Empty when the document opened and has pages; otherwise why it cannot be
    // read (damaged, empty, locked by a password).
    QString open(const QString &path);
    // The document's own title, on one line; empty when it has none.
    QString title() const;
    int pageCount() const;
    // The text of the page at index (from 0), cut at DocumentLimits::maxPageText.
    QString pageText(int index);

private:
    std::unique_ptr<QPdfDocument> m_pdf;
};

// The text of a PDF file, page by page, through Qt PDF. The title is the
// document's own when it has one.
DocumentText readPdfText(const QString &path);

// The title (from <title>) and text of an HTML page given as bytes, decoded by
// its declared character set (a <meta> charset, UTF-8 or Windows-1252); a page
// that declares none is UTF-8 when it is valid UTF-8, else Windows-1252.
DocumentText htmlText(const QByteArray &bytes);
DocumentText readHtmlText(const QString &path);

// The text of the bytes of an HTML page, decoded as above.
QString decodeHtmlBytes(const QByteArray &bytes);
