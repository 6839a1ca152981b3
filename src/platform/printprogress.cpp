#include "printprogress.h"

#include <QProgressBar>
#include <QPushButton>

PrintProgress::PrintProgress(const QString &documentName, int pages, QWidget *parent)
    : QProgressDialog(parent)
{
    setObjectName(QStringLiteral("printProgress"));
    setWindowTitle(QStringLiteral("Imprimir"));
    setLabelText(QStringLiteral("Imprimiendo %1…").arg(documentName));
    auto *bar = new QProgressBar(this);
    bar->setObjectName(QStringLiteral("barPrinted"));
    bar->setAccessibleName(QStringLiteral("Páginas impresas"));
    setBar(bar);
    auto *cancel = new QPushButton(QStringLiteral("Cancelar"), this);
    cancel->setObjectName(QStringLiteral("cmdCancelPrint"));
    setCancelButton(cancel);
    setRange(0, pages);
    setWindowModality(Qt::WindowModal);
    setMinimumDuration(500);
    // The clock starts now: the dialog shows once printing has taken a moment.
    setValue(0);
}

bool PrintProgress::advance(int done, int total)
{
    setMaximum(total);
    setValue(done);
    return !wasCanceled();
}
