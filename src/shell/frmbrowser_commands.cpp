// The main window's commands on the page on screen and on the program's own documents.
#include "frmbrowser.h"

#include "shell.h"
#include "utility.h"

#include <QDir>
#include <QFileInfo>

QString frmBrowser::shownLocalPdf() const
{
    const QString address = m_shownAddress;
    if (!address.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive) ||
        !QDir::isAbsolutePath(address)) {
        return {};
    }
    // The browser shows the copy of the collection that wins, wherever the address
    // points (the program folder or the per-user one).
    const QString relative = m_collection.relativePathOf(address);
    const QString file = relative.isEmpty() ? address : m_collection.resolve(relative);
    return QFileInfo(file).isFile() ? file : QString();
}

void frmBrowser::mnuSave_Click()
{
    // A PDF document is saved as itself, not as the viewer that shows it.
    if (const QString pdf = shownLocalPdf(); !pdf.isEmpty()) {
        if (const QString problem = WebBrowser1->SavePdfFile(pdf); !problem.isEmpty()) {
            showCritical(problem);
        }
        return;
    }
    WebBrowser1->ExecWB(BrowserCommand::SaveAs, BrowserCommand::PromptUser);
}

void frmBrowser::mnuPrint_Click()
{
    // A PDF document prints as its own pages, not as the viewer that shows it.
    if (const QString pdf = shownLocalPdf(); !pdf.isEmpty()) {
        if (const QString problem = WebBrowser1->PrintPdfFile(pdf); !problem.isEmpty()) {
            showCritical(problem);
        }
        return;
    }
    WebBrowser1->ExecWB(BrowserCommand::Print, BrowserCommand::PromptUser);
}

void frmBrowser::mnuHelp_Click()
{
    m_services.shell.execute(this, QStringLiteral("Open"),
                             programPath(QStringLiteral("legisdis.hlp")), QString(),
                             m_programFolder, ShowCommand::Hide);
}

void frmBrowser::mnConsultaGen_Click()
{
    openWhenConnected(
        QStringLiteral("sistemas/Errores.pdf"),
        QStringLiteral("Para accesar a esta página debe tener conexión a Internet.\r\n"
                       "Si no cuenta con la conexión indicada, comuníquese con el "
                       "departamento de sistemas de su Entidad, o su proveedor de "
                       "Internet"));
}

void frmBrowser::mnConsultaSarc_Click()
{
    openWhenConnected(QStringLiteral("sistemas/manuales.pdf"),
                      QStringLiteral("Para accesar a esta página debe tener conexión a la red "
                                     "Finared. \r\n"
                                     "Si no cuenta con la conexión indicada, comuníquese con el "
                                     "departamento de sistemas de su Entidad"));
}

void frmBrowser::openWhenConnected(const QString &relativePath, const QString &offlineMessage)
{
    if (IsConnected(m_services.probe)) {
        WebBrowser1->Navigate2(programPath(relativePath));
    } else {
        showCritical(offlineMessage);
    }
}
