#include "testplatform.h"

#include "qtfiledownload.h"
#include "qtwebbrowser.h"
#include "zippackageinstaller.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QWebEngineProfile>

TestPlatform::TestPlatform()
{
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cacheDir.path()));
}

PlatformServices TestPlatform::withFakeBrowser()
{
    const WebBrowserFactory newBrowser = [this](QWidget *parent) -> WebBrowser * {
        auto *browser = new FakeWebBrowser(parent);
        lastFakeBrowser = browser;
        fakeBrowsers.append(browser);
        return browser;
    };
    return {profile,         probe,        shell,     messages,   instance,         newBrowser,
            downloadFolders, fileDownload, windows,   proxyStore, packageInstaller, restart,
            instanceChannel, *updateFeed,  placement, pdf,        features};
}

PlatformServices TestPlatform::withRealBrowser()
{
    const WebBrowserFactory newBrowser = [this](QWidget *parent) -> WebBrowser * {
        return new QtWebBrowser(testEngineProfile(), dialogs, pdf, parent);
    };
    // A dropped connection is noticed after three silent seconds.
    realDownload = std::make_unique<QtFileDownload>(testEngineProfile(), downloadFolders, 3000);
    realInstaller = std::make_unique<ZipPackageInstaller>();
    return {profile,         probe,         shell,     messages,   instance,       newBrowser,
            downloadFolders, *realDownload, windows,   proxyStore, *realInstaller, restart,
            instanceChannel, *updateFeed,   placement, pdf,        features};
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
