#pragma once

#include "fakedownloads.h"
#include "fakeinstancechannel.h"
#include "fakeplatform.h"
#include "fakeprofilefile.h"
#include "fakeproxystore.h"
#include "fakewebbrowser.h"
#include "iniprofilefile.h"
#include "linkedfeatures.h"
#include "pdfprinting.h"
#include "platformservices.h"
#include "qtwindowservice.h"

#include <QPointer>
#include <QTemporaryDir>

#include <memory>

class QWebEngineProfile;

// A program folder of its own and fakes of every host service, for one test.
struct TestPlatform {
    TestPlatform();

    // Services with fake browsers; the last one made is in lastFakeBrowser.
    PlatformServices withFakeBrowser();
    // Services with real browsers and real downloads on a private,
    // off-the-record engine profile.
    PlatformServices withRealBrowser();

    QString folder() const { return dir.path(); }
    QString settingsPath() const;
    void writeSettings(const QByteArray &text) const;
    void writeFile(const QString &relativePath, const QByteArray &contents) const;

    QTemporaryDir dir;
    // The user's cache folder (the collection's search index) for this test.
    QTemporaryDir cacheDir;
    IniProfileFile profile;
    FakeProbe probe;
    FakeShell shell;
    FakeMessageBoxes messages;
    FakeInstanceGuard instance;
    FakeDocumentDialogs dialogs;
    FakeDownloadFolderStore downloadFolders;
    FakeFileDownload fileDownload;
    QtWindowService windows;
    FakeProxyStore proxyStore;
    FakePackageInstaller packageInstaller;
    std::unique_ptr<PackageInstaller> realInstaller;
    FakeProgramRestart restart;
    FakeInstanceChannel instanceChannel;
    FakeUpdateFeed fakeFeed;
    // What the windows fetch from the update server with: the fake unless a test sets another.
    UpdateFeed *updateFeed = &fakeFeed;
    FakeWindowPlacementStore placement;
    QtPdfDocuments pdf;
    LinkedFeatures features;
    std::unique_ptr<FileDownload> realDownload;
    QPointer<FakeWebBrowser> lastFakeBrowser;
    QList<QPointer<FakeWebBrowser>> fakeBrowsers; // in the order they were made
};

// The engine profile shared by the real browsers of a test run.
QWebEngineProfile *testEngineProfile();
