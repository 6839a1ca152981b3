// The main window's commands that subscribe, unsubscribe and send the page's address.
#include "frmbrowser.h"

#include "frmdatos.h"
#include "mailaddresses.h"
#include "messageboxes.h"
#include "readeraddress.h"
#include "shell.h"
#include "utility.h"
#include "windowtexts.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>

namespace {
const QString noValue = QStringLiteral("?");
const QString noMailProgram =
    QStringLiteral("No se encontró un programa de correo electrónico para escribir el mensaje.");
} // namespace

bool frmBrowser::checkUserData()
{
    const QString settings = SettingsPath(m_programFolder);
    const QString user = QStringLiteral("user");
    const QString name =
        ReadIniValue(m_services.profile, settings, user, QStringLiteral("name"), noValue);
    const QString lastname =
        ReadIniValue(m_services.profile, settings, user, QStringLiteral("lastname"), noValue);
    const QString email =
        ReadIniValue(m_services.profile, settings, user, QStringLiteral("email"), noValue);
    ReadIniValue(m_services.profile, settings, user, QStringLiteral("job"), noValue);
    if (userDataComplete(name, lastname, email)) {
        return true;
    }
    frmDatos form(m_services.profile, m_services.messages, m_programFolder, this);
    form.exec();
    return false;
}

QString frmBrowser::readHttpSetting(const QString &key) const
{
    return ReadIniValue(m_services.profile, SettingsPath(m_programFolder), QStringLiteral("http"),
                        key, noValue);
}

bool frmBrowser::openMail(const QString &address)
{
    return m_services.shell.execute(this, QStringLiteral("Open"), address, QString(),
                                    m_programFolder, ShowCommand::ShowMaximized);
}

void frmBrowser::mnSuscribir_Click()
{
    if (checkUserData() && !openMail(subscribeMail(readHttpSetting(QStringLiteral("cemail"))))) {
        showCritical(noMailProgram);
    }
}

void frmBrowser::mnuDessucri_Click()
{
    if (checkUserData() && !openMail(unsubscribeMail(readHttpSetting(QStringLiteral("cemail"))))) {
        showCritical(noMailProgram);
    }
}

void frmBrowser::mnSuscribirWeb_Click()
{
    openSubscriptionPage();
}

void frmBrowser::mnuDessucriWeb_Click()
{
    openSubscriptionPage();
}

void frmBrowser::openSubscriptionPage()
{
    // The site is the deployment's: the settings name it.
    const QString page = webSubscriptionPage(readHttpSetting(QStringLiteral("suscripcion")),
                                             readHttpSetting(QStringLiteral("web")));
    if (!page.isEmpty()) {
        WebBrowser1->Navigate2(page);
    }
}

void frmBrowser::mnuSendto_Click()
{
    if (!checkUserData()) {
        return;
    }
    const QString page = sharedAddress();
    if (!openMail(sendPageMail(page))) {
        // Nothing is lost: the reader can paste the address into any mail.
        QGuiApplication::clipboard()->setText(page);
        showCritical(noMailProgram +
                     QStringLiteral("\r\nLa dirección de la página se copió al portapapeles:\r\n") +
                     page);
    }
}

QString frmBrowser::sharedAddress() const
{
    // The page of a PDF document goes with it while the address bar shows that document.
    const QString text = txtURL->text();
    const int page = text == m_shownAddress ? WebBrowser1->PdfPage() : 0;
    return sharedPageAddress(text, readHttpSetting(QStringLiteral("web")), m_programFolder,
                             m_collection.userFolder(), page);
}

void frmBrowser::mnuCopyAddress_Click()
{
    QGuiApplication::clipboard()->setText(sharedAddress());
}
