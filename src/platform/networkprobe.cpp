#include "networkprobe.h"

#include <QNetworkInformation>
#include <QNetworkInterface>

namespace {
constexpr int Connected = 0;
constexpr int NotConnected = 1;
} // namespace

int NetworkProbe::attemptConnect()
{
    // Loading a backend is cheap once done: Qt keeps the loaded one.
    if (QNetworkInformation::instance() ||
        QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability)) {
        switch (QNetworkInformation::instance()->reachability()) {
        case QNetworkInformation::Reachability::Online:
        case QNetworkInformation::Reachability::Site:
            return Connected;
        case QNetworkInformation::Reachability::Disconnected:
        case QNetworkInformation::Reachability::Local:
            return NotConnected;
        case QNetworkInformation::Reachability::Unknown:
            break;
        }
    }
    return interfaceIsUp() ? Connected : NotConnected;
}

bool NetworkProbe::interfaceIsUp()
{
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &iface : interfaces) {
        const auto flags = iface.flags();
        if (flags.testFlag(QNetworkInterface::IsLoopBack) ||
            !flags.testFlag(QNetworkInterface::IsUp) ||
            !flags.testFlag(QNetworkInterface::IsRunning)) {
            continue;
        }
        // A link-local address (what an interface gives itself without any
        // network to ask) reaches no further than the cable.
        const auto entries = iface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            if (!entry.ip().isLinkLocal()) {
                return true;
            }
        }
    }
    return false;
}
