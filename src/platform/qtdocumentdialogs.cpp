#include "qtdocumentdialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QStandardPaths>

QString QtDocumentDialogs::askSavePath(QWidget *parent, const QString &suggestedName)
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString filter = suggestedName.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive)
                               ? QStringLiteral("Documento PDF (*.pdf)")
                               : QStringLiteral("Página web completa (*.htm *.html)");
    return QFileDialog::getSaveFileName(parent, QStringLiteral("Guardar"),
                                        QDir(folder).filePath(suggestedName), filter);
}

PrintChoice QtDocumentDialogs::askPrinter(QWidget *parent, QPrinter *printer, int pageCount)
{
    QPrintDialog dialog(printer, parent);
    if (pageCount > 0) {
        dialog.setMinMax(1, pageCount);
        dialog.setOption(QAbstractPrintDialog::PrintPageRange, true);
    }
    if (dialog.exec() != QDialog::Accepted) {
        return PrintChoice::Cancelled;
    }
    // The dialog's "print to file" names the file; a printer leaves the name empty.
    return printer->outputFileName().isEmpty() ? PrintChoice::Printer : PrintChoice::File;
}
