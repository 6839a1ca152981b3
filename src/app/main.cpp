#include "collection.h"
#include "commandline.h"
#include "featuremodule.h"
#include "installrecovery.h"
#include "instancerequest.h"
#include "localsocketinstancechannel.h"
#include "lockfileinstanceguard.h"
#include "programfolder.h"
#include "services.h"
#include "spanishlanguage.h"
#include "window.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTextStream>

#include <cstdio>
#include <cstdlib>

#include <dlfcn.h>

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

// The window's module lies beside the program (the folder of the running file, whatever
// link it was started by).
QString windowModulePath()
{
    return QDir(runningProgramFolder()).filePath(windowModuleName());
}

Collection userCollection(const QString &programFolder)
{
    return Collection::forUser(programFolder,
                               QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
}

// Before anything reads the collection: an install cut short is finished or undone, so
// that a reader sees a package whole or not at all.
void recoverInterruptedInstall(const Collection &collection, QTextStream &err)
{
    for (const QString &problem : recoverInterruptedInstall(collection.installFolder()).problems) {
        err << problem << Qt::endl;
    }
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
        if (line.mode != CommandLine::Mode::InstallPackage) {
            // The install itself does this once it holds the collection.
            recoverInterruptedInstall(collection, err);
        }
        // The commands live with the libraries they use, in the services module.
        SharedObjectModule services(QDir(runningProgramFolder()).filePath(servicesModuleName()));
        QString problem;
        const auto runCommand =
            reinterpret_cast<RunCommand>(services.entry(runCommandEntry, &problem));
        if (!runCommand) {
            err << QStringLiteral("No se puede ejecutar la orden: %1.").arg(problem) << Qt::endl;
            return 1;
        }
        // The index's PDF readers are processes of their own, killed when the pass ends:
        // nothing is left running here.
        return runCommand(line, collection, out, err);
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
            err << notADocumentText(argument) << Qt::endl;
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
    {
        QTextStream err(stderr);
        recoverInterruptedInstall(collection, err);
    }
    // The window and the browser engine come from their module, loaded now: a command never
    // loads them.
    void *module =
        dlopen(QFile::encodeName(windowModulePath()).constData(), RTLD_LAZY | RTLD_LOCAL);
    const auto runWindow =
        module ? reinterpret_cast<RunWindow>(dlsym(module, runWindowSymbol)) : nullptr;
    if (!runWindow) {
        const char *problem = dlerror();
        QTextStream(stderr) << QStringLiteral("No se puede cargar la ventana del programa: %1")
                                   .arg(QString::fromLocal8Bit(problem ? problem : "?"))
                            << Qt::endl;
        return 1;
    }
    const int status = runWindow(argc, argv, arguments, line, collection, instance);
    // The window and everything it used are gone: the process ends here, without tearing
    // down the globals of the libraries it loaded (an index pass still ending on its thread
    // uses them; its PDF readers die with the process).
    std::fflush(nullptr);
    std::_Exit(status);
}
