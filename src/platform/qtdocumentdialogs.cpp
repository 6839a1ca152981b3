#include "qtdocumentdialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QPrintDialog>
#include <QStandardPaths>

QString QtDocumentDialogs::askSavePath(QWidget *parent, const QString &suggestedName)
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QFileDialog::getSaveFileName(parent, QString(), QDir(folder).filePath(suggestedName),
                                        QStringLiteral("Página web completa (*.htm *.html)"));
}

bool QtDocumentDialogs::askPrinter(QWidget *parent, QPrinter *printer)
{
    QPrintDialog dialog(printer, parent);
    return dialog.exec() == QDialog::Accepted;
}
