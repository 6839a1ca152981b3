#include "testplatform.h"

#include "qtwebbrowser.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QWebEngineProfile>

TestPlatform::TestPlatform() = default;

PlatformServices TestPlatform::withFakeBrowser()
{
    return {profile, probe, shell, messages, instance, [this](QWidget *parent) -> WebBrowser * {
                auto *browser = new FakeWebBrowser(parent);
                lastFakeBrowser = browser;
                return browser;
            }};
}

PlatformServices TestPlatform::withRealBrowser()
{
    return {profile, probe, shell, messages, instance, [this](QWidget *parent) -> WebBrowser * {
                return new QtWebBrowser(testEngineProfile(), dialogs, parent);
            }};
}

QString TestPlatform::settingsPath() const
{
    return QDir(folder()).filePath(QStringLiteral("legisdis.ini"));
}

void TestPlatform::writeSettings(const QByteArray &text) const
{
    writeFile(QStringLiteral("legisdis.ini"), text);
}

void TestPlatform::writeFile(const QString &relativePath, const QByteArray &contents) const
{
    const QString path = QDir(folder()).filePath(relativePath);
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        file.write(contents);
    }
}

QWebEngineProfile *testEngineProfile()
{
    static QWebEngineProfile *profile = new QWebEngineProfile(QCoreApplication::instance());
    return profile;
}
