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
#include "instancerequest.h"
#include "localsocketinstancechannel.h"
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
#include "verifycommand.h"
#include "webbrowser.h"
#include "xdgshell.h"
#include "zippackageinstaller.h"

#include <QApplication>
#include <QDate>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QScreen>
#include <QStandardPaths>
#include <QTextStream>
#include <QWebEngineProfile>

#include <cstdio>
#include <cstdlib>

namespace {

QString notADocument(const QString &argument)
{
    return QStringLiteral("«%1» no es un documento de la colección; no se abre.").arg(argument);
}

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
    case CommandLine::Mode::Search:
    case CommandLine::Mode::Verify: {
        if (!line.collection.isEmpty() && !QFileInfo(line.collection).isDir()) {
            err << QStringLiteral("La carpeta de la colección no existe: %1").arg(line.collection)
                << Qt::endl;
            return 2;
        }
        const Collection collection = userCollection(collectionFolder(line));
        if (line.mode == CommandLine::Mode::Verify) {
            return verifyCommand(collection, QDate::currentDate(), out, err);
        }
        if (line.mode == CommandLine::Mode::InstallPackage) {
            ZipPackageInstaller installer;
            return installPackageCommand(installer, collection, line.packageFile, out, err);
        }
        const int status = runSearchCommand(
            collection,
            indexFolderFor(collection,
                           QStandardPaths::writableLocation(QStandardPaths::CacheLocation)),
            line.searchText, line.searchLimit, out, err);
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

// A start for a collection that is open already: the running copy is asked to
// come to the front, and to open the document named on the command line, if
// any; then this start ends, before the browser engine or any window exists.
int askRunningCopy(int argc, char *argv[], const Collection &collection, const QString &argument)
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    QString document;
    if (!argument.isEmpty()) {
        document = collectionDocument(collection, argument);
        if (document.isEmpty()) {
            err << notADocument(argument) << Qt::endl;
        }
    }
    LocalSocketInstanceChannel channel(collection.id());
    if (!channel.send(document)) {
        err << QStringLiteral("Legisdisco ya está abierto para esta colección, pero no respondió.")
            << Qt::endl;
        return 1;
    }
    return 0;
}

// The window on collection, until it is closed.
int runWindow(int argc, char *argv[], const QStringList &arguments, const CommandLine &line,
              const Collection &collection, LockFileInstanceGuard &instance)
{
    // A restart starts the program as it was started, before anything was
    // added for the browser engine.
    const QStringList startArguments = arguments.mid(1);
    const QProcessEnvironment startEnvironment = QProcessEnvironment::systemEnvironment();
    FileProxyStore proxyStore(FileProxyStore::defaultPath(), startEnvironment);
    BrowserEngineArguments engineArguments(argc, argv,
                                           engineProxySwitches(proxyStore.storedRecord()));

    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(engineArguments.argc(), engineArguments.argv());
    QApplication::setDesktopFileName(QStringLiteral("legisdisco"));

    // Before the browser engine starts, which takes its language from here.
    const SpanishLanguage spanish;

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
    LocalSocketInstanceChannel instanceChannel(collection.id());

    frmBrowser window({profile, probe, shell, messages, instance, newBrowser, downloadFolders,
                       fileDownload, windows, proxyStore, packageInstaller, restart,
                       instanceChannel},
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
    if (!line.document.isEmpty() && !window.openDocument(line.document)) {
        QTextStream(stderr) << notADocument(line.document) << Qt::endl;
    }
    // A roomier start than the design size, which is kept as the least.
    if (const QScreen *screen = window.screen()) {
        const QSize room = screen->availableGeometry().size() * 3 / 4;
        window.resize(window.size().expandedTo(room));
    }
    window.show();
    return QApplication::exec();
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
    // earlyProblem has made sure the command line reads and a folder given on it exists.
    const CommandLine line = parseCommandLine(arguments);
    const Collection collection = userCollection(collectionFolder(line));
    LockFileInstanceGuard instance(collection.id());
    if (instance.previousInstance()) {
        return askRunningCopy(argc, argv, collection, line.document);
    }
    const int status = runWindow(argc, argv, arguments, line, collection, instance);
    // The index's reader may have been left inside a PDF page that takes minutes to read:
    // the window and everything it used are gone, and the process ends here rather than
    // tearing the PDF library's globals down under that thread.
    std::fflush(nullptr);
    std::_Exit(status);
}
