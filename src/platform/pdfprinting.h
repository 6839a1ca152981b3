#pragma once

#include "pdfdocuments.h"

#include <QList>
#include <QSizeF>
#include <QString>

// Printing and saving a PDF document of the collection as its own pages, not as the
// browser's view of it.

// The pages (from 1) that printer's settings ask for of a document of pageCount pages:
// the dialog's range clamped to the document, every page otherwise. first > last when
// the range holds none of the document's pages.
struct PdfPageSpan {
    int first = 1;
    int last = 0;
};
PdfPageSpan printedPages(const QPrinter &printer, int pageCount);

// Prints the PDF document at path on printer, which the print dialog has set up. A
// printer that writes a PDF file gets the document's own pages (their text stays text),
// the range's pages each copy over; any other printer gets each page drawn at its
// resolution, fitted to the paper. Answers an empty text when done, or a Spanish message
// saying why nothing (or not everything) was printed; a stop by progress is no failure.
QString printPdfDocument(const QString &path, QPrinter &printer,
                         const PdfPrintProgress &progress = {});

// Writes pages first..last (from 1) of the PDF document at source, copies times over,
// to target as a PDF document of their own. Answers an empty text when done, or a
// Spanish message; target is never left half written.
QString writePdfPages(const QString &source, const QString &target, int first, int last,
                      int copies = 1);

// The number of pages of the PDF document at path; 0 when it cannot be read.
int pdfPageCount(const QString &path);

// The sizes in points of the pages of the PDF document at path, in order; none when it
// cannot be read.
QList<QSizeF> pdfPageSizes(const QString &path);

// The PDF documents read with Qt PDF and printed as above.
class QtPdfDocuments final : public PdfDocuments {
public:
    int pageCount(const QString &path) override;
    QList<QSizeF> pageSizes(const QString &path) override;
    QString title(const QString &path) override;
    QString print(const QString &path, QPrinter &printer,
                  const PdfPrintProgress &progress) override;
};
