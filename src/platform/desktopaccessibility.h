#pragma once

#include <QAccessible>
#include <QObject>

// Whether the desktop asks programs for their accessibility: on while a screen reader or
// another assistive technology listens. The reader may turn it on or off at any moment
// while the program runs (Orca started after the viewer).
class DesktopAccessibility : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual bool isOn() const = 0;

signals:
    void changed(bool on);
};

// The AT-SPI status on the session bus (org.a11y.Status, IsEnabled or
// ScreenReaderEnabled), followed through its PropertiesChanged signal, also when the
// accessibility bus starts only later. forcedOn (the user's QT_LINUX_ACCESSIBILITY_ALWAYS_ON,
// see prepareAccessibility) keeps it on. Needs the application object; a missing session
// bus reads as off, within a fraction of a second.
class AtSpiDesktopAccessibility final : public DesktopAccessibility {
    Q_OBJECT
public:
    explicit AtSpiDesktopAccessibility(bool forcedOn, QObject *parent = nullptr);
    bool isOn() const override;

private slots:
    // Slots by name: QtDBus delivers bus signals to nothing else.
    void onPropertiesChanged(const QString &interfaceName, const QVariantMap &changedProperties,
                             const QStringList &invalidatedProperties);
    void readStatus();

private:
    void update(bool isEnabled, bool screenReaderEnabled);

    bool m_forcedOn;
    bool m_isEnabled = false;
    bool m_screenReaderEnabled = false;
};

// Before the application object is made: lets Qt's widgets reach the accessibility bus
// whenever it runs, so that a screen reader started later finds the program, and lets the
// browser engine's pages follow Qt's accessibility. Answers whether the user's environment
// already asked for accessibility always on.
bool prepareAccessibility();

// Keeps the browser engine's accessibility as desktop says, from now on: the engine builds
// what a reader hears of its pages only while one listens (it costs start-up time and
// every page's load otherwise). To be made after the engine's first profile.
class EngineAccessibility final : public QObject, public QAccessible::ActivationObserver {
    Q_OBJECT
public:
    explicit EngineAccessibility(DesktopAccessibility &desktop, QObject *parent = nullptr);
    ~EngineAccessibility() override;

    void accessibilityActiveChanged(bool active) override;

private:
    void apply();

    DesktopAccessibility &m_desktop;
    bool m_applying = false;
    bool m_queued = false;
};
