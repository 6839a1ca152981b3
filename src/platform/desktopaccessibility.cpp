#include "desktopaccessibility.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QVariant>

namespace {
constexpr int busTimeoutMs = 500;

const QString busService = QStringLiteral("org.a11y.Bus");
const QString busPath = QStringLiteral("/org/a11y/bus");
const QString statusInterface = QStringLiteral("org.a11y.Status");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString isEnabledKey = QStringLiteral("IsEnabled");
const QString screenReaderKey = QStringLiteral("ScreenReaderEnabled");

bool statusProperty(QDBusConnection &bus, const QString &property)
{
    QDBusMessage get = QDBusMessage::createMethodCall(busService, busPath, propertiesInterface,
                                                      QStringLiteral("Get"));
    get << statusInterface << property;
    const QDBusMessage reply = bus.call(get, QDBus::Block, busTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return false;
    }
    return reply.arguments().constFirst().value<QDBusVariant>().variant().toBool();
}
} // namespace

AtSpiDesktopAccessibility::AtSpiDesktopAccessibility(bool forcedOn, QObject *parent)
    : DesktopAccessibility(parent)
    , m_forcedOn(forcedOn)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return;
    }
    // Signals of a service that is not running yet reach us once it starts.
    bus.connect(busService, busPath, propertiesInterface, QStringLiteral("PropertiesChanged"), this,
                SLOT(onPropertiesChanged(QString, QVariantMap, QStringList)));
    auto *watcher =
        new QDBusServiceWatcher(busService, bus, QDBusServiceWatcher::WatchForRegistration, this);
    connect(watcher, &QDBusServiceWatcher::serviceRegistered, this,
            &AtSpiDesktopAccessibility::readStatus);
    // No accessibility bus running: nothing listens, and none is started for nothing.
    if (bus.interface() && bus.interface()->isServiceRegistered(busService)) {
        readStatus();
    }
}

bool AtSpiDesktopAccessibility::isOn() const
{
    return m_forcedOn || m_isEnabled || m_screenReaderEnabled;
}

void AtSpiDesktopAccessibility::readStatus()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    update(statusProperty(bus, isEnabledKey), statusProperty(bus, screenReaderKey));
}

void AtSpiDesktopAccessibility::onPropertiesChanged(const QString &interfaceName,
                                                    const QVariantMap &changedProperties,
                                                    const QStringList &invalidatedProperties)
{
    if (interfaceName != statusInterface) {
        return;
    }
    if (invalidatedProperties.contains(isEnabledKey) ||
        invalidatedProperties.contains(screenReaderKey)) {
        readStatus();
        return;
    }
    update(changedProperties.value(isEnabledKey, m_isEnabled).toBool(),
           changedProperties.value(screenReaderKey, m_screenReaderEnabled).toBool());
}

void AtSpiDesktopAccessibility::update(bool isEnabled, bool screenReaderEnabled)
{
    const bool wasOn = isOn();
    m_isEnabled = isEnabled;
    m_screenReaderEnabled = screenReaderEnabled;
    if (isOn() != wasOn) {
        emit changed(isOn());
    }
}

bool prepareAccessibility()
{
    const bool forcedOn = qEnvironmentVariableIsSet("QT_LINUX_ACCESSIBILITY_ALWAYS_ON");
    // Qt reads the desktop's status only once, at start, and would never reach the
    // accessibility bus when the reader comes later: it is told to reach it whenever the
    // bus runs. Whether the engine's pages are read then follows the desktop
    // (EngineAccessibility).
    qputenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    // Without this, the engine on Linux ignores Qt's accessibility altogether.
    qputenv("QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY", "1");
    return forcedOn;
}

EngineAccessibility::EngineAccessibility(DesktopAccessibility &desktop, QObject *parent)
    : QObject(parent)
    , m_desktop(desktop)
{
    QAccessible::installActivationObserver(this);
    connect(&m_desktop, &DesktopAccessibility::changed, this, &EngineAccessibility::apply);
    apply();
}

EngineAccessibility::~EngineAccessibility()
{
    QAccessible::removeActivationObserver(this);
}

void EngineAccessibility::accessibilityActiveChanged(bool active)
{
    // Qt's own bridge turns accessibility on when it reaches the bus (a moment after start,
    // or when the bus starts): the engine is put back as the desktop says, once the
    // bridge's turn is over.
    if (m_applying || active == m_desktop.isOn() || m_queued) {
        return;
    }
    m_queued = true;
    QMetaObject::invokeMethod(this, &EngineAccessibility::apply, Qt::QueuedConnection);
}

void EngineAccessibility::apply()
{
    m_queued = false;
    m_applying = true;
    // Tells every observer, the engine's among them; Qt's bridge keeps serving the widgets.
    QAccessible::setActive(m_desktop.isOn());
    m_applying = false;
}
