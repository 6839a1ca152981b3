#include "desktopaccessibility.h"

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QVariant>

namespace {
constexpr int busTimeoutMs = 500;

bool statusProperty(QDBusConnection &bus, const QString &property)
{
    QDBusMessage get = QDBusMessage::createMethodCall(
        QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QStringLiteral("org.a11y.Status") << property;
    const QDBusMessage reply = bus.call(get, QDBus::Block, busTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return false;
    }
    return reply.arguments().constFirst().value<QDBusVariant>().variant().toBool();
}
} // namespace

bool desktopAccessibilityOn()
{
    if (qEnvironmentVariableIntValue("QT_LINUX_ACCESSIBILITY_ALWAYS_ON") != 0) {
        return true;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    // No accessibility bus running: nothing listens, and none is started for nothing.
    if (!bus.isConnected() || !bus.interface() ||
        !bus.interface()->isServiceRegistered(QStringLiteral("org.a11y.Bus"))) {
        return false;
    }
    return statusProperty(bus, QStringLiteral("IsEnabled")) ||
           statusProperty(bus, QStringLiteral("ScreenReaderEnabled"));
}

void enableEngineAccessibility()
{
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    const QByteArray flag = "--force-renderer-accessibility";
    if (flags.contains(flag)) {
        return;
    }
    if (!flags.isEmpty()) {
        flags += ' ';
    }
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags + flag);
}
