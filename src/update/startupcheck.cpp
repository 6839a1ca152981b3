#include "startupcheck.h"

#include "indexrefresh.h"
#include "packagetrust.h"
#include "updatecontract.h"
#include "updatefeed.h"
#include "utility.h"

#include <QDate>
#include <QPointer>
#include <QUrl>

namespace {

const QString section = QStringLiteral("actualizacion");
const QString keyEnabled = QStringLiteral("aviso");
const QString keyLastCheck = QStringLiteral("ultimarevision");
const QString noValue = QStringLiteral("?");

} // namespace

StartupCheck::StartupCheck(PlatformServices services, const Collection &collection, QObject *parent)
    : QObject(parent)
    , m_services(std::move(services))
    , m_collection(collection)
{
}

bool StartupCheck::enabled(ProfileFile &profile, const QString &programFolder)
{
    return ReadIniValue(profile, SettingsPath(programFolder), section, keyEnabled, noValue) !=
           QLatin1String("0");
}

bool StartupCheck::setEnabled(ProfileFile &profile, const QString &programFolder, bool on)
{
    return WriteIniValue(profile, SettingsPath(programFolder), section, keyEnabled,
                         on ? QStringLiteral("1") : QStringLiteral("0"));
}

void StartupCheck::start()
{
    const QString settings = SettingsPath(m_collection.programFolder());
    const QString today = QDate::currentDate().toString(Qt::ISODate);
    m_prefix = ReadIniValue(m_services.profile, settings, QStringLiteral("http"),
                            QStringLiteral("actualizacion"), noValue);
    const QUrl address(m_prefix + UpdateContract::catalogFile);
    // Without the publisher's key nothing the server says can be believed.
    if (!enabled(m_services.profile, m_collection.programFolder()) ||
        ReadIniValue(m_services.profile, settings, section, keyLastCheck, noValue) == today ||
        !trustFor(m_collection, QDate::currentDate()).key || !address.isValid() ||
        (address.scheme() != QLatin1String("http") && address.scheme() != QLatin1String("https"))) {
        emit finished();
        return;
    }
    QPointer<StartupCheck> self(this);
    m_services.updateFeed.fetch(
        address, maxCatalogBytes, [self, settings, today](std::optional<QByteArray> text) {
            if (!self) {
                return;
            }
            if (!text) {
                emit self->finished();
                return;
            }
            // The server answered: the next check is tomorrow's.
            // Settings that cannot be written only make the check run at every start.
            static_cast<void>(
                WriteIniValue(self->m_services.profile, settings, section, keyLastCheck, today));
            self->catalogArrived(*text);
        });
}

void StartupCheck::catalogArrived(const QByteArray &text)
{
    QPointer<StartupCheck> self(this);
    m_services.updateFeed.fetch(QUrl(m_prefix + UpdateContract::catalogSignatureFile),
                                maxSignatureBytes,
                                [self, text](std::optional<QByteArray> signature) {
                                    if (!self) {
                                        return;
                                    }
                                    if (!signature) {
                                        emit self->finished();
                                        return;
                                    }
                                    self->signatureArrived(text, *signature);
                                });
}

void StartupCheck::signatureArrived(const QByteArray &text, const QByteArray &signature)
{
    QString reason;
    const std::optional<Catalog> catalog =
        vouchedCatalog(trustFor(m_collection, QDate::currentDate()), text, signature, {}, &reason);
    if (catalog) {
        const QSet<QString> present = collectionCirculars(m_collection);
        QStringList missing;
        for (const CatalogCircular &circular : catalog->circulars) {
            if (!present.contains(circular.number) && !missing.contains(circular.number)) {
                missing.append(circular.number);
            }
        }
        if (!missing.isEmpty()) {
            emit newCirculars(missing);
        }
    }
    emit finished();
}
