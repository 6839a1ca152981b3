#include "pdfprinting.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPdfDocument>
#include <QPrinter>
#include <QSaveFile>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <exception>
#include <string>
#include <vector>

namespace {
// Pages are drawn for paper at no more than this resolution: a finer one only costs
// memory (a page at 1200 dpi is over half a gigabyte of pixels).
constexpr int maxDrawnDpi = 300;

const QString unreadable = QStringLiteral("No se pudo leer el documento PDF para imprimirlo.");

QString printFailed(const QString &detail)
{
    return QStringLiteral("No se pudo imprimir el documento: %1").arg(detail);
}

QString drawPages(QPdfDocument &document, QPrinter &printer, const PdfPageSpan &span,
                  const PdfPrintProgress &progress)
{
    QPainter painter;
    if (!painter.begin(&printer)) {
        return printFailed(QStringLiteral("la impresora no está disponible."));
    }
    // Copies the printer cannot make itself are printed here, one set after another.
    const int copies = printer.supportsMultipleCopies() ? 1 : qMax(1, printer.copyCount());
    const int total = (span.last - span.first + 1) * copies;
    const int dpi = qMin(printer.resolution(), maxDrawnDpi);
    const QRect paper = painter.viewport();
    int done = 0;
    for (int copy = 0; copy < copies; ++copy) {
        for (int page = span.first; page <= span.last; ++page) {
            if (done > 0 && !printer.newPage()) {
                painter.end();
                return printFailed(QStringLiteral("la impresora no aceptó otra página."));
            }
            const QSizeF points = document.pagePointSize(page - 1);
            const QSize pixels = (points * dpi / 72.0).toSize();
            const QImage image = document.render(page - 1, pixels);
            if (image.isNull()) {
                painter.end();
                return printFailed(QStringLiteral("la página %1 no se pudo dibujar.").arg(page));
            }
            // Fitted to the paper, the page's proportions kept, centred.
            QSize fitted = image.size().scaled(paper.size(), Qt::KeepAspectRatio);
            const QRect target(paper.x() + (paper.width() - fitted.width()) / 2,
                               paper.y() + (paper.height() - fitted.height()) / 2, fitted.width(),
                               fitted.height());
            painter.drawImage(target, image);
            ++done;
            if (progress && !progress(done, total)) {
                printer.abort();
                painter.end();
                return {};
            }
        }
    }
    painter.end();
    return {};
}
} // namespace

PdfPageSpan printedPages(const QPrinter &printer, int pageCount)
{
    PdfPageSpan span{1, pageCount};
    if (printer.printRange() == QPrinter::PageRange && printer.fromPage() > 0) {
        span.first = qMax(1, printer.fromPage());
        span.last = qMin(pageCount, printer.toPage() > 0 ? printer.toPage() : pageCount);
    }
    return span;
}

int pdfPageCount(const QString &path)
{
    QPdfDocument document;
    if (document.load(path) != QPdfDocument::Error::None) {
        return 0;
    }
    return document.pageCount();
}

QList<QSizeF> pdfPageSizes(const QString &path)
{
    QPdfDocument document;
    if (document.load(path) != QPdfDocument::Error::None) {
        return {};
    }
    QList<QSizeF> sizes;
    sizes.reserve(document.pageCount());
    for (int page = 0; page < document.pageCount(); ++page) {
        sizes.append(document.pagePointSize(page));
    }
    return sizes;
}

QString writePdfPages(const QString &source, const QString &target, int first, int last, int copies)
{
    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly)) {
        return QStringLiteral("No se pudo escribir el archivo %1: %2")
            .arg(target, out.errorString());
    }
    try {
        QPDF input;
        input.setSuppressWarnings(true);
        input.processFile(QFile::encodeName(source).constData());
        const std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(input).getAllPages();
        const int count = static_cast<int>(pages.size());
        if (first < 1 || last > count || first > last) {
            return QStringLiteral("El documento no tiene las páginas pedidas.");
        }
        QPDF output;
        output.emptyPDF();
        QPDFPageDocumentHelper outputPages(output);
        for (int page = first; page <= last; ++page) {
            outputPages.addPage(pages[static_cast<size_t>(page - 1)], false);
        }
        // Further copies share the first one's contents.
        const std::vector<QPDFPageObjectHelper> firstCopy = outputPages.getAllPages();
        for (int copy = 1; copy < copies; ++copy) {
            for (QPDFPageObjectHelper page : firstCopy) {
                outputPages.addPage(page.shallowCopyPage(), false);
            }
        }
        QPDFWriter writer(output);
        writer.setOutputMemory();
        writer.write();
        const std::shared_ptr<Buffer> buffer(writer.getBufferSharedPointer());
        const auto *bytes = reinterpret_cast<const char *>(buffer->getBuffer());
        if (out.write(bytes, static_cast<qint64>(buffer->getSize())) !=
            static_cast<qint64>(buffer->getSize())) {
            out.cancelWriting();
            return QStringLiteral("No se pudo escribir el archivo %1.").arg(target);
        }
    } catch (const std::exception &) {
        out.cancelWriting();
        return unreadable;
    }
    if (!out.commit()) {
        return QStringLiteral("No se pudo escribir el archivo %1: %2")
            .arg(target, out.errorString());
    }
    return {};
}

QString printPdfDocument(const QString &path, QPrinter &printer, const PdfPrintProgress &progress)
{
    QPdfDocument document;
    if (document.load(path) != QPdfDocument::Error::None || document.pageCount() < 1) {
        return unreadable;
    }
    const PdfPageSpan span = printedPages(printer, document.pageCount());
    if (span.first > span.last) {
        return printFailed(QStringLiteral("el documento no tiene las páginas pedidas."));
    }
    if (printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty()) {
        // A PDF file gets the document's own pages, whose text stays searchable.
        const QString problem = writePdfPages(path, printer.outputFileName(), span.first, span.last,
                                              qMax(1, printer.copyCount()));
        if (progress && problem.isEmpty()) {
            progress(span.last - span.first + 1, span.last - span.first + 1);
        }
        return problem;
    }
    return drawPages(document, printer, span, progress);
}

int QtPdfDocuments::pageCount(const QString &path)
{
    return pdfPageCount(path);
}

QList<QSizeF> QtPdfDocuments::pageSizes(const QString &path)
{
    return pdfPageSizes(path);
}

QString QtPdfDocuments::title(const QString &path)
{
    QPdfDocument document;
    document.load(path);
    if (document.status() != QPdfDocument::Status::Ready) {
        return {};
    }
    return document.metaData(QPdfDocument::MetaDataField::Title).toString().simplified();
}

QString QtPdfDocuments::print(const QString &path, QPrinter &printer,
                              const PdfPrintProgress &progress)
{
    return printPdfDocument(path, printer, progress);
}
