#include "mailaddresses.h"

#include "readeraddress.h"

#include <QUrl>

namespace {
QString mailTo(const QString &recipient, const QString &subject)
{
    return QStringLiteral("mailto:") + recipient + QStringLiteral("?subject=") + subject;
}
} // namespace

bool userDataComplete(const QString &name, const QString &lastname, const QString &email)
{
    return !name.isEmpty() && !lastname.isEmpty() && !email.isEmpty();
}

QString subscribeMail(const QString &recipient)
{
    return mailTo(recipient, QStringLiteral("Subscribe"));
}

QString unsubscribeMail(const QString &recipient)
{
    return mailTo(recipient, QStringLiteral("Unsubscribe"));
}

QString pageAddress(const QString &addressBarText, const QString &webBase,
                    const QString &programFolder)
{
    return sharedPageAddress(addressBarText, webBase, programFolder);
}

QString sendPageMail(const QString &pageAddress)
{
    // Characters that would end the body field or the address ("&", "#", "%",
    // "=") are encoded, as is everything outside ASCII.
    const QByteArray body = QUrl::toPercentEncoding(pageAddress, "/:@?!$'()*,;");
    return QStringLiteral("mailto:?subject=Revisar%20el%20siguiente%20documento&body=") +
           QString::fromLatin1(body);
}

QString webSubscriptionPage(const QString &subscriptionSetting, const QString &webSetting)
{
    // A missing key reads as "?".
    const QString whole = subscriptionSetting.trimmed();
    if (!whole.isEmpty() && whole != u'?') {
        return whole;
    }
    const QString host = QUrl(webSetting.trimmed()).host(QUrl::FullyEncoded);
    if (host.isEmpty()) {
        return {};
    }
    QUrl page;
    page.setScheme(QStringLiteral("https"));
    page.setHost(host);
    page.setPath(QStringLiteral("/Normativa/RazidudevErurazezozEdivuvivu.aspx"));
    return page.toString();
}
