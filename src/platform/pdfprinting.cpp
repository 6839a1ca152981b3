#include "pdfprinting.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPdfDocument>
#include <QPrinter>
#include <QSaveFile>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <map>
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

// The pages in the order they go to the printer: the span in the printer's page order, each
// copy the printer cannot make itself after the other (collated) or each page that many
// times over.
std::vector<int> pagesInPrintOrder(const QPrinter &printer, const PdfPageSpan &span)
{
    const int copies = printer.supportsMultipleCopies() ? 1 : qMax(1, printer.copyCount());
    std::vector<int> pages;
    for (int page = span.first; page <= span.last; ++page) {
        pages.push_back(page);
    }
    if (printer.pageOrder() == QPrinter::LastPageFirst) {
        std::reverse(pages.begin(), pages.end());
    }
    std::vector<int> order;
    if (printer.collateCopies()) {
        for (int copy = 0; copy < copies; ++copy) {
            order.insert(order.end(), pages.begin(), pages.end());
        }
    } else {
        for (const int page : pages) {
            order.insert(order.end(), static_cast<size_t>(copies), page);
        }
    }
    return order;
}

// The page's width and height as it shows, its turn (/Rotate) taken into account.
QSizeF shownSize(QPDFPageObjectHelper page)
{
    const QPDFObjectHandle::Rectangle box = page.getMediaBox().getArrayAsRectangle();
    QSizeF size(qAbs(box.urx - box.llx), qAbs(box.ury - box.lly));
    QPDFObjectHandle rotate = page.getAttribute("/Rotate", false);
    if (rotate.isInteger() && rotate.getIntValueAsInt() % 180 != 0) {
        size.transpose();
    }
    return size;
}

// A sheet as wide as shown is tall, with the page drawn on it upright from form, shrunk to
// fit and centred: what a printer does with a portrait page on landscape paper. The page's
// text stays text.
QPDFPageObjectHelper landscapeSheet(QPDF &output, QPDFObjectHandle form, const QSizeF &shown)
{
    const QPDFObjectHandle::Rectangle paper(0, 0, shown.height(), shown.width());
    QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
    xobjects.replaceKey("/Fx0", form);
    QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
    resources.replaceKey("/XObject", xobjects);
    QPDFObjectHandle sheet = QPDFObjectHandle::newDictionary();
    sheet.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
    sheet.replaceKey("/MediaBox", QPDFObjectHandle::newArray(paper));
    sheet.replaceKey("/Resources", resources);
    QPDFPageObjectHelper helper(output.makeIndirectObject(sheet));
    const std::string content = helper.placeFormXObject(form, "/Fx0", paper, true, true, false);
    helper.getObjectHandle().replaceKey("/Contents", QPDFObjectHandle::newStream(&output, content));
    return helper;
}

// Draws the pages on the painter's printer; answers an empty text when all are drawn,
// stopped when progress asked to stop, or a Spanish message.
QString drawPages(QPdfDocument &document, QPrinter &printer, QPainter &painter,
                  const std::vector<int> &order, const PdfPrintProgress &progress, bool &stopped)
{
    const int total = static_cast<int>(order.size());
    const int dpi = qMin(printer.resolution(), maxDrawnDpi);
    const QRect paper = painter.viewport();
    for (int done = 0; done < total; ++done) {
        const int page = order[static_cast<size_t>(done)];
        if (done > 0 && !printer.newPage()) {
            return printFailed(QStringLiteral("la impresora no aceptó otra página."));
        }
        const QSizeF points = document.pagePointSize(page - 1);
        const QSize pixels = (points * dpi / 72.0).toSize();
        const QImage image = document.render(page - 1, pixels);
        if (image.isNull()) {
            return printFailed(QStringLiteral("la página %1 no se pudo dibujar.").arg(page));
        }
        // Fitted to the paper, the page's proportions kept, centred.
        const QSize fitted = image.size().scaled(paper.size(), Qt::KeepAspectRatio);
        const QRect target(paper.x() + (paper.width() - fitted.width()) / 2,
                           paper.y() + (paper.height() - fitted.height()) / 2, fitted.width(),
                           fitted.height());
        painter.drawImage(target, image);
        if (progress && !progress(done + 1, total)) {
            stopped = done + 1 < total;
            return {};
        }
    }
    return {};
}

// Draws the pages for printer. A PDF file is written under a name of its own first and
// takes the printer's name only when every page is in it: a print stopped or failed half
// way never leaves a file that passes for the whole. A printer cannot take back what it
// was given (Qt's engines have no abort), so a stop there is said, not kept quiet.
QString drawForPrinter(QPdfDocument &document, QPrinter &printer, const PdfPageSpan &span,
                       const PdfPrintProgress &progress)
{
    const std::vector<int> order = pagesInPrintOrder(printer, span);
    const QString target = printer.outputFileName();
    const bool toFile = printer.outputFormat() == QPrinter::PdfFormat && !target.isEmpty();
    const QString partial = target + QStringLiteral(".part");
    if (toFile) {
        printer.setOutputFileName(partial);
    }
    QString problem;
    bool stopped = false;
    QPainter painter;
    if (!painter.begin(&printer)) {
        problem = printFailed(QStringLiteral("la impresora no está disponible."));
    } else {
        problem = drawPages(document, printer, painter, order, progress, stopped);
        painter.end();
    }
    if (!toFile) {
        if (stopped) {
            return QStringLiteral("Se canceló la impresión. La impresora recibe las páginas que "
                                  "ya estaban preparadas.");
        }
        return problem;
    }
    printer.setOutputFileName(target);
    if (!problem.isEmpty() || stopped) {
        QFile::remove(partial);
        return problem;
    }
    // Over an older file of that name in one step: never half of one, half of the other.
    if (std::rename(QFile::encodeName(partial).constData(),
                    QFile::encodeName(target).constData()) != 0) {
        QFile::remove(partial);
        return QStringLiteral("No se pudo escribir el archivo %1.").arg(target);
    }
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

QString writePdfPages(const QString &source, const QString &target, const std::vector<int> &order,
                      bool landscape)
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
        if (order.empty() || std::any_of(order.begin(), order.end(),
                                         [count](int page) { return page < 1 || page > count; })) {
            return QStringLiteral("El documento no tiene las páginas pedidas.");
        }
        QPDF output;
        output.emptyPDF();
        QPDFPageDocumentHelper outputPages(output);
        // A page that comes again shares its first appearance's contents.
        std::map<int, QPDFPageObjectHelper> added;
        std::map<int, QPDFObjectHandle> forms;
        for (const int page : order) {
            QPDFPageObjectHelper original = pages[static_cast<size_t>(page - 1)];
            const QSizeF shown = shownSize(original);
            if (landscape && shown.height() > shown.width()) {
                auto form = forms.find(page);
                if (form == forms.end()) {
                    // Taken into the output first, so that the form's resources are there.
                    outputPages.addPage(original, false);
                    QPDFPageObjectHelper copied(output.getAllPages().back());
                    form = forms.emplace(page, copied.getFormXObjectForPage()).first;
                    outputPages.removePage(copied);
                }
                outputPages.addPage(landscapeSheet(output, form->second, shown), false);
                continue;
            }
            const auto first = added.find(page);
            if (first == added.end()) {
                outputPages.addPage(original, false);
                added.emplace(page, QPDFPageObjectHelper(output.getAllPages().back()));
            } else {
                outputPages.addPage(first->second.shallowCopyPage(), false);
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

QString printPdfDocument(const QString &path, QPrinter &printer, bool toFile,
                         const PdfPrintProgress &progress)
{
    QPdfDocument document;
    if (document.load(path) != QPdfDocument::Error::None || document.pageCount() < 1) {
        return unreadable;
    }
    const PdfPageSpan span = printedPages(printer, document.pageCount());
    if (span.first > span.last) {
        return printFailed(QStringLiteral("el documento no tiene las páginas pedidas."));
    }
    if (toFile) {
        // A PDF file gets the document's own pages, whose text stays searchable.
        const std::vector<int> order = pagesInPrintOrder(printer, span);
        const QString problem =
            writePdfPages(path, printer.outputFileName(), order,
                          printer.pageLayout().orientation() == QPageLayout::Landscape);
        if (progress && problem.isEmpty()) {
            progress(static_cast<int>(order.size()), static_cast<int>(order.size()));
        }
        return problem;
    }
    return drawForPrinter(document, printer, span, progress);
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

QString QtPdfDocuments::print(const QString &path, QPrinter &printer, bool toFile,
                              const PdfPrintProgress &progress)
{
    return printPdfDocument(path, printer, toFile, progress);
}
