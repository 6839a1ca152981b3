#include "chromiumproxy.h"
#include "classicfont.h"
#include "enginearguments.h"
#include "filedownloadfolderstore.h"
#include "fileproxystore.h"
#include "frmbrowser.h"
#include "iniprofilefile.h"
#include "lockfileinstanceguard.h"
#include "networkprobe.h"
#include "programfolder.h"
#include "qtdocumentdialogs.h"
#include "qtfiledownload.h"
#include "qtmessageboxes.h"
#include "qtprogramrestart.h"
#include "qtwebbrowser.h"
#include "qtwindowservice.h"
#include "spanishlanguage.h"
#include "startupprobe.h"
#include "webbrowser.h"
#include "xdgshell.h"

#include <QApplication>
#include <QProcessEnvironment>
#include <QScreen>
#include <QStandardPaths>
#include <QWebEngineProfile>

int main(int argc, char *argv[])
{
    // The names come first: the user's proxy record lives in the folder they
    // name. The browser engine reads its proxy switches once, from the
    // command line it starts with, so they are added before the application
    // object exists; engineArguments must outlive app.
    QCoreApplication::setApplicationName(QStringLiteral("Legisdisco"));
    QCoreApplication::setOrganizationName(QStringLiteral("Legisdisco"));

    // A second start ends here, before the browser engine or any window exists.
    LockFileInstanceGuard instance(runningProgramFolder());
    if (instance.previousInstance()) {
        return 0;
    }
    // A restart starts the program as it was started, before anything was
    // added for the browser engine.
    QStringList startArguments;
    for (int i = 1; i < argc; ++i) {
        startArguments.append(QString::fromLocal8Bit(argv[i]));
    }
    const QProcessEnvironment startEnvironment = QProcessEnvironment::systemEnvironment();

    FileProxyStore proxyStore(FileProxyStore::defaultPath(),
                              QProcessEnvironment::systemEnvironment());
    BrowserEngineArguments engineArguments(argc, argv, chromiumProxySwitches(proxyStore.query()));

    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(engineArguments.argc(), engineArguments.argv());
    QApplication::setDesktopFileName(QStringLiteral("legisdisco"));

    // Before the browser engine starts, which takes its language from here.
    const SpanishLanguage spanish;

    useClassicDialogFont();

    const QString programFolder = QCoreApplication::applicationDirPath();

    // An installed program folder is read-only for its users (/opt/legisdisco):
    // its settings file then falls back to a per-user copy.
    IniProfileFile profile(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
    NetworkProbe probe;
    XdgShell shell;
    QtMessageBoxes messages;
    QtProgramRestart restart(instance, QCoreApplication::applicationFilePath(), startArguments,
                             startEnvironment);
    QtDocumentDialogs dialogs;
    QWebEngineProfile *engineProfile = QWebEngineProfile::defaultProfile();
    SpanishLanguage::applyTo(engineProfile);
    const WebBrowserFactory newBrowser = [engineProfile,
                                          &dialogs](QWidget *parent) -> WebBrowser * {
        return new QtWebBrowser(engineProfile, dialogs, parent);
    };

    FileDownloadFolderStore downloadFolders;
    QtFileDownload fileDownload(engineProfile, downloadFolders);
    QtWindowService windows;

    frmBrowser window({profile, probe, shell, messages, instance, newBrowser, downloadFolders,
                       fileDownload, windows, proxyStore, restart},
                      programFolder);
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
    // A roomier start than the design size, which is kept as the least.
    if (const QScreen *screen = window.screen()) {
        const QSize room = screen->availableGeometry().size() * 3 / 4;
        window.resize(window.size().expandedTo(room));
    }
    window.show();
    return QApplication::exec();
}
