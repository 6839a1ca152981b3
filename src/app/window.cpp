// The window of the program: the browser engine, the main window and the platform services
// behind it. It is a module of its own, which the program loads only to show the window, so
// that the commands of the command line start without the engine's libraries.

#include "window.h"

#include "chromiumproxy.h"
#include "classicfont.h"
#include "collectioninterceptor.h"
#include "deferredservices.h"
#include "desktopaccessibility.h"
#include "enginearguments.h"
#include "featuremodule.h"
#include "filedownloadfolderstore.h"
#include "fileproxystore.h"
#include "filewindowplacementstore.h"
#include "frmbrowser.h"
#include "iniprofilefile.h"
#include "localsocketinstancechannel.h"
#include "lockfileinstanceguard.h"
#include "networkprobe.h"
#include "pagerendering.h"
#include "programfolder.h"
#include "qtdocumentdialogs.h"
#include "qtfiledownload.h"
#include "qtmessageboxes.h"
#include "qtprogramrestart.h"
#include "qtupdatefeed.h"
#include "qtwebbrowser.h"
#include "qtwindowservice.h"
#include "spanishlanguage.h"
#include "startupprobe.h"
#include "webbrowser.h"
#include "xdgshell.h"

#include <QApplication>
#include <QDir>
#include <QProcessEnvironment>
#include <QScreen>
#include <QStandardPaths>
#include <QTextStream>
#include <QWebEngineProfile>

// The window on collection, until it is closed.
extern "C" Q_DECL_EXPORT int
legisdiscoRunWindow(int argc, char *argv[], const QStringList &arguments, const CommandLine &line,
                    const Collection &collection, LockFileInstanceGuard &instance)
{
    // A restart starts the program as it was started, before anything was
    // added for the browser engine.
    const QStringList startArguments = arguments.mid(1);
    const QProcessEnvironment startEnvironment = QProcessEnvironment::systemEnvironment();
    FileProxyStore proxyStore(FileProxyStore::defaultPath(), startEnvironment);
    BrowserEngineArguments engineArguments(argc, argv,
                                           engineProxySwitches(proxyStore.storedRecord()));

    // A screen reader may come while the program runs, not only before.
    const bool accessibilityForcedOn = prepareAccessibility();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(engineArguments.argc(), engineArguments.argv());
    QApplication::setDesktopFileName(QStringLiteral("legisdisco"));
    // Before the browser engine starts, which takes how it draws from Qt Quick.
    drawPagesWithoutEmulatedOpenGl();

    // Before the browser engine starts, which takes its language from here.
    const SpanishLanguage spanish;

    useClassicDialogFont();

    // An installed program folder is read-only for its users (/opt/legisdisco):
    // its settings file then falls back to a per-user copy.
    IniProfileFile profile(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
    NetworkProbe probe;
    XdgShell shell(startEnvironment);
    QtMessageBoxes messages;
    QtProgramRestart restart(instance, QCoreApplication::applicationFilePath(), startArguments,
                             startEnvironment);
    QtDocumentDialogs dialogs;
    // The index, the installer and PDF printing, with their libraries, load when first
    // wanted: the index's first pass comes after the first page.
    const QDir programFolder(runningProgramFolder());
    SharedObjectModule services(programFolder.filePath(servicesModuleName()));
    SharedObjectModule printing(programFolder.filePath(printModuleName()));
    DeferredPdfDocuments pdf(printing);
    QWebEngineProfile *engineProfile = QWebEngineProfile::defaultProfile();
    SpanishLanguage::applyTo(engineProfile);
    // Files the user's updates installed show in place of the program folder's.
    CollectionInterceptor collectionFiles(collection);
    engineProfile->setUrlRequestInterceptor(&collectionFiles);
    const WebBrowserFactory newBrowser = [engineProfile, &dialogs,
                                          &pdf](QWidget *parent) -> WebBrowser * {
        return new QtWebBrowser(engineProfile, dialogs, pdf, parent);
    };

    FileDownloadFolderStore downloadFolders;
    QtFileDownload fileDownload(engineProfile, downloadFolders);
    QtWindowService windows;
    DeferredPackageInstaller packageInstaller(services);
    LocalSocketInstanceChannel instanceChannel(collection.id());
    FileWindowPlacementStore placement(FileWindowPlacementStore::defaultPath());

    // The quiet check at start-up goes through the proxy the browser engine was given.
    QtUpdateFeed updateFeed(proxyStore.storedRecord());

    frmBrowser window({profile, probe, shell, messages, instance, newBrowser, downloadFolders,
                       fileDownload, windows, proxyStore, packageInstaller, restart,
                       instanceChannel, updateFeed, placement, pdf, services},
                      collection, frmBrowser::HomePage::BeforeBuilding);
    // A screen reader reads the pages too; the engine's accessibility costs start-up time
    // and every page's load, so it is on only while the desktop's is. Asked of the desktop
    // once the home page is under way (the questions to the session bus take milliseconds);
    // the engine takes it up for that page as for any, and the page's first events come
    // later, from the event loop.
    AtSpiDesktopAccessibility desktopAccessibility(accessibilityForcedOn);
    EngineAccessibility engineAccessibility(desktopAccessibility);
    window.setStartupCheck(!line.noUpdateCheck);
    // For the start-up benchmark (bench/startup.sh): report when the home page is there, and end.
    if (qEnvironmentVariableIsSet("LEGISDISCO_STARTUP_PROBE")) {
        QObject::connect(window.WebBrowser1, &WebBrowser::DocumentComplete, &app, [] {
            printStartupFigures(currentStartupFigures());
            QCoreApplication::quit();
        });
    }
    if (!window.Form_Load()) {
        return 0;
    }
    if (!line.document.isEmpty() && !window.openDocument(line.document)) {
        QTextStream(stderr) << notADocumentText(line.document) << Qt::endl;
    }
    // Where the reader left the window last time; else a roomier start than the design
    // size, which is kept as the least.
    if (window.restorePlacement()) {
    } else if (const QScreen *screen = window.screen()) {
        const QSize room = screen->availableGeometry().size() * 3 / 4;
        window.resize(window.size().expandedTo(room));
    }
    window.show();
    return QApplication::exec();
}
