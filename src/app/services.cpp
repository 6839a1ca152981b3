// The services module: the index of the collection (Xapian; the PDFs' text from its reader
// processes, legisdisco-pdftext), the package installer and its checks (libzip, libcrypto) and the
// commands built on them. The window loads it when one of them is first wanted, so that its start
// loads none of their libraries; the commands of the command line load it at once.

#include "services.h"

#include "deferredservices.h"
#include "featuremodule.h"
#include "installcommand.h"
#include "programfolder.h"
#include "searchbackend.h"
#include "searchcommand.h"
#include "verifycommand.h"
#include "zippackageinstaller.h"

#include <QDate>
#include <QDir>
#include <QStandardPaths>
#include <QTextStream>

extern "C" Q_DECL_EXPORT PackageInstaller *legisdiscoNewPackageInstaller()
{
    return new ZipPackageInstaller;
}

extern "C" Q_DECL_EXPORT SearchBackend *legisdiscoNewSearchBackend()
{
    return new XapianSearchBackend;
}

extern "C" Q_DECL_EXPORT int legisdiscoRunCommand(const CommandLine &line,
                                                  const Collection &collection, QTextStream &out,
                                                  QTextStream &err)
{
    switch (line.mode) {
    case CommandLine::Mode::Verify:
        return verifyCommand(collection, QDate::currentDate(), out, err);
    case CommandLine::Mode::InstallPackage: {
        ZipPackageInstaller installer;
        // The titles of new circulars the catalog lacks come from the printing module, loaded
        // only when there are such circulars.
        SharedObjectModule printing(QDir(runningProgramFolder()).filePath(printModuleName()));
        DeferredPdfDocuments pdf(printing);
        return installPackageCommand(installer, pdf, collection, line.packageFile, out, err);
    }
    case CommandLine::Mode::Search:
        return runSearchCommand(collection,
                                indexFolderFor(collection, QStandardPaths::writableLocation(
                                                               QStandardPaths::CacheLocation)),
                                line.searchText, line.searchLimit, out, err);
    default:
        return 2;
    }
}

// The entries' types are the ones their callers cast to.
static_assert(std::is_same_v<decltype(&legisdiscoNewPackageInstaller), NewPackageInstaller>);
static_assert(std::is_same_v<decltype(&legisdiscoNewSearchBackend), NewSearchBackend>);
static_assert(std::is_same_v<decltype(&legisdiscoRunCommand), RunCommand>);
