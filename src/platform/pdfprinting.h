#pragma once

#include "pdfdocuments.h"

#include <QList>
#include <QSizeF>
#include <QString>

#include <vector>

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

// Prints the PDF document at path on printer, which the print dialog has set up: the
// range in the printer's page order, the copies collated or page by page. A print toFile
// (the printer's output file name) gets the document's own pages (their text stays text,
// each in its own orientation); a printer gets each page drawn at its resolution, fitted
// to the paper in its orientation.
// Answers an empty text when done or stopped by progress before anything reached a
// printer, or a Spanish message saying why nothing (or not everything) was printed. A
// file stopped or failed half way is not left behind.
QString printPdfDocument(const QString &path, QPrinter &printer, bool toFile,
                         const PdfPrintProgress &progress = {});

// Writes the pages of the PDF document at source, numbered from 1 and in the order given
// (a page may come more than once), to target as a PDF document of their own; with
// landscape, a page taller than wide goes upright onto a landscape sheet, shrunk to fit.
// Answers an empty text when done, or a Spanish message; target is never left half
// written.
QString writePdfPages(const QString &source, const QString &target, const std::vector<int> &order,
                      bool landscape = false);

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
    QString print(const QString &path, QPrinter &printer, bool toFile,
                  const PdfPrintProgress &progress) override;
};
