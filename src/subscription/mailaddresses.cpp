#include "mailaddresses.h"

#include <QDir>
#include <QUrl>

namespace {
const QString webPrefix = QStringLiteral("http://");
constexpr int localPrefixLength = 12;

QString mailTo(const QString &recipient, const QString &subject)
{
    return QStringLiteral("mailto:") + recipient + QStringLiteral("?subject=") + subject;
}

// The local file an address-bar text names, or an empty text when it names none.
QString localPathOf(const QString &text)
{
    if (text.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
        const QUrl url(text);
        return url.isLocalFile() ? url.toLocalFile() : QString();
    }
    return QDir::isAbsolutePath(text) ? text : QString();
}

// The path of file below folder with "/" separators, or a null text when
// file does not lie inside folder.
QString pathBelow(const QString &file, const QString &folder)
{
    if (file.isEmpty() || folder.isEmpty()) {
        return QString();
    }
    const QString cleanFile = QDir::cleanPath(QDir::fromNativeSeparators(file));
    QString cleanFolder = QDir::cleanPath(QDir::fromNativeSeparators(folder));
    if (!cleanFolder.endsWith(QLatin1Char('/'))) {
        cleanFolder += QLatin1Char('/');
    }
    if (!cleanFile.startsWith(cleanFolder)) {
        return QString();
    }
    return cleanFile.mid(cleanFolder.size());
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
    if (addressBarText.left(webPrefix.size()) == webPrefix) {
        return addressBarText;
    }
    // The fixed cut below only fits a program folder whose path is 11
    // characters long; a page of the collection is placed by its real path.
    const QString below = pathBelow(localPathOf(addressBarText), programFolder);
    if (!below.isNull()) {
        return webBase + below;
    }
    QString text = addressBarText;
    text.replace(QLatin1Char('\\'), QLatin1Char('/'));
    qsizetype cut = localPrefixLength;
    // A character outside the BMP is two UTF-16 units: the cut takes both, so
    // that no half of a surrogate pair is left to be sent as "?".
    if (cut < text.size() && text.at(cut).isLowSurrogate() && text.at(cut - 1).isHighSurrogate()) {
        ++cut;
    }
    return webBase + text.mid(cut);
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
