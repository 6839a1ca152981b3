#include "chromiumproxy.h"
#include "classicfont.h"
#include "collection.h"
#include "collectioninterceptor.h"
#include "commandline.h"
#include "enginearguments.h"
#include "filedownloadfolderstore.h"
#include "fileproxystore.h"
#include "frmbrowser.h"
#include "iniprofilefile.h"
#include "installcommand.h"
#include "lockfileinstanceguard.h"
#include "networkprobe.h"
#include "programfolder.h"
#include "qtdocumentdialogs.h"
#include "qtfiledownload.h"
#include "qtmessageboxes.h"
#include "qtprogramrestart.h"
#include "qtwebbrowser.h"
#include "qtwindowservice.h"
#include "searchcommand.h"
#include "searchindex.h"
#include "spanishlanguage.h"
#include "startupprobe.h"
#include "webbrowser.h"
#include "xdgshell.h"
#include "zippackageinstaller.h"

#include <QApplication>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QScreen>
#include <QStandardPaths>
#include <QTextStream>
#include <QWebEngineProfile>

#include <cstdio>
#include <cstdlib>

namespace {

QStringList argumentList(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments.append(QString::fromLocal8Bit(argv[i]));
    }
    return arguments;
}

// The collection's folder: the one given on the command line, or the folder
// that holds the program. Readable before the application object exists.
QString collectionFolder(const CommandLine &line)
{
    return line.collection.isEmpty() ? runningProgramFolder()
                                     : QFileInfo(line.collection).absoluteFilePath();
}

Collection userCollection(const QString &programFolder)
{
    return Collection::forUser(programFolder,
                               QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
}

// Help, version and the commands: no display, no browser engine.
int runCommand(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const SpanishLanguage spanish;
    QTextStream out(stdout);
    QTextStream err(stderr);
    const CommandLine line = parseCommandLine(QCoreApplication::arguments());
    switch (line.mode) {
    case CommandLine::Mode::Help:
        out << line.helpText;
        return 0;
    case CommandLine::Mode::Version:
        out << QCoreApplication::applicationName() << u' ' << QCoreApplication::applicationVersion()
            << Qt::endl;
        return 0;
    case CommandLine::Mode::Error:
        err << line.error << Qt::endl;
        return 2;
    case CommandLine::Mode::InstallPackage:
    case CommandLine::Mode::Search: {
        if (!line.collection.isEmpty() && !QFileInfo(line.collection).isDir()) {
            err << QStringLiteral("La carpeta de la colección no existe: %1").arg(line.collection)
                << Qt::endl;
            return 2;
        }
        const Collection collection = userCollection(collectionFolder(line));
        if (line.mode == CommandLine::Mode::InstallPackage) {
            ZipPackageInstaller installer;
            return installPackageCommand(installer, collection, line.packageFile, out, err);
        }
        const int status = runSearchCommand(
            collection,
            indexFolderFor(collection,
                           QStandardPaths::writableLocation(QStandardPaths::CacheLocation)),
            line.searchText, out, err);
        out.flush();
        err.flush();
        std::fflush(nullptr);
        // The index's reader may have been left inside a PDF page that takes minutes to
        // read: the answer is out, and the process ends here rather than taking the PDF
        // library down under that thread.
        std::_Exit(status);
    }
    case CommandLine::Mode::Browse:
        break;
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    // The names come first: the user's proxy record lives in the folder they
    // name. The browser engine reads its proxy switches once, from the
    // command line it starts with, so they are added before the application
    // object exists; engineArguments must outlive app.
    QCoreApplication::setApplicationName(QStringLiteral("Legisdisco"));
    QCoreApplication::setOrganizationName(QStringLiteral("Legisdisco"));
    QCoreApplication::setApplicationVersion(QStringLiteral(LEGISDISCO_VERSION));
    const QStringList arguments = argumentList(argc, argv);
    if (wantsCommandOnly(arguments)) {
        return runCommand(argc, argv);
    }
    if (const QString problem = earlyProblem(arguments); !problem.isEmpty()) {
        QTextStream(stderr) << problem << Qt::endl;
        return 2;
    }
    // earlyProblem has made sure a folder given on the command line exists.
    const Collection collection = userCollection(collectionFolder(parseCommandLine(arguments)));
    // A second start ends here, before the browser engine or any window exists.
    LockFileInstanceGuard instance(collection.id());
    if (instance.previousInstance()) {
        return 0;
    }
    // A restart starts the program as it was started, before anything was
    // added for the browser engine.
    const QStringList startArguments = arguments.mid(1);
    const QProcessEnvironment startEnvironment = QProcessEnvironment::systemEnvironment();
    FileProxyStore proxyStore(FileProxyStore::defaultPath(), startEnvironment);
    BrowserEngineArguments engineArguments(argc, argv, chromiumProxySwitches(proxyStore.query()));

    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(engineArguments.argc(), engineArguments.argv());
    QApplication::setDesktopFileName(QStringLiteral("legisdisco"));

    // Before the browser engine starts, which takes its language from here.
    const SpanishLanguage spanish;

    // What is left once the toolkit has taken its own options must be ours.
    if (const CommandLine line = parseCommandLine(QCoreApplication::arguments());
        line.mode == CommandLine::Mode::Error) {
        QTextStream(stderr) << line.error << Qt::endl;
        return 2;
    }

    useClassicDialogFont();

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
    // Files the user's updates installed show in place of the program folder's.
    CollectionInterceptor collectionFiles(collection);
    engineProfile->setUrlRequestInterceptor(&collectionFiles);
    const WebBrowserFactory newBrowser = [engineProfile,
                                          &dialogs](QWidget *parent) -> WebBrowser * {
        return new QtWebBrowser(engineProfile, dialogs, parent);
    };

    FileDownloadFolderStore downloadFolders;
    QtFileDownload fileDownload(engineProfile, downloadFolders);
    QtWindowService windows;
    ZipPackageInstaller packageInstaller;

    frmBrowser window({profile, probe, shell, messages, instance, newBrowser, downloadFolders,
                       fileDownload, windows, proxyStore, packageInstaller, restart},
                      collection);
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
