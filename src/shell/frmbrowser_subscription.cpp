// The main window's commands that subscribe, unsubscribe and send the page's address.
#include "frmbrowser.h"

#include "frmdatos.h"
#include "mailaddresses.h"
#include "shell.h"
#include "utility.h"

#include <QLineEdit>

namespace {
const QString noValue = QStringLiteral("?");
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

void frmBrowser::openMail(const QString &address)
{
    m_services.shell.execute(this, QStringLiteral("Open"), address, QString(), m_programFolder,
                             ShowCommand::ShowMaximized);
}

void frmBrowser::mnSuscribir_Click()
{
    if (checkUserData()) {
        openMail(subscribeMail(readHttpSetting(QStringLiteral("cemail"))));
    }
}

void frmBrowser::mnuDessucri_Click()
{
    if (checkUserData()) {
        openMail(unsubscribeMail(readHttpSetting(QStringLiteral("cemail"))));
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
    const QString page =
        pageAddress(txtURL->text(), readHttpSetting(QStringLiteral("web")), m_programFolder);
    openMail(sendPageMail(page));
}
