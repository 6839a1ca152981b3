#include "qtdocumentdialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QPrintDialog>
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

bool QtDocumentDialogs::askPrinter(QWidget *parent, QPrinter *printer, int pageCount)
{
    QPrintDialog dialog(printer, parent);
    if (pageCount > 0) {
        dialog.setMinMax(1, pageCount);
        dialog.setOption(QAbstractPrintDialog::PrintPageRange, true);
    }
    return dialog.exec() == QDialog::Accepted;
}
