#pragma once

#include <QList>
#include <QSizeF>
#include <QString>

#include <functional>

class QPrinter;

// Called after each page printed (done of total); answers false to stop printing.
using PdfPrintProgress = std::function<bool(int done, int total)>;

// What the windows read of PDF documents of the collection on their own, apart from the
// browser's viewer: their pages, their titles, and printing them as their own pages.
class PdfDocuments {
public:
    virtual ~PdfDocuments() = default;

    // Why no document can be read at all, in Spanish; empty when they can.
    virtual QString unavailable() { return {}; }
    // The number of pages of the document at path; 0 when it cannot be read.
    virtual int pageCount(const QString &path) = 0;
    // The sizes in points of the document's pages, in order; none when it cannot be read.
    virtual QList<QSizeF> pageSizes(const QString &path) = 0;
    // The document's own title, on one line; empty when it has none or cannot be read.
    virtual QString title(const QString &path) = 0;
    // Prints the document at path on printer, which the print dialog has set up; toFile
    // when the reader chose to print to a file rather than to a printer. Answers an empty
    // text when done, or a Spanish message saying why nothing (or not everything) was
    // printed; a stop by progress is no failure.
    virtual QString print(const QString &path, QPrinter &printer, bool toFile,
                          const PdfPrintProgress &progress) = 0;
};
