#pragma once

#include "packagetrust.h"

#include <QString>

#include <functional>

// What became of one package: installed, with how many files and circulars,
// or refused, with the reason. message says it to the user, in Spanish.
struct InstallOutcome {
    bool installed = false;
    bool verified = false; // its signed catalog vouched for every file
    int circulars = 0;     // circulars installed
    int files = 0;         // every file installed, circulars included
    QString reason;        // why the package was refused; empty when installed
    QString message;       // the whole outcome, for a message box or a terminal
};

// Unpacks an update package (a zip) into a collection folder, taking only
// documents the collection is made of and checking every entry first, and,
// where trust holds the publisher's key, only what the package's signed
// catalog vouches for; all or nothing. Nothing of the package is ever run. The
// catalog of a package that passed is kept at the top of the folder.
// Only one install into a collection runs at a time: while another holds the
// collection, install() waits, calling wait every tenth of a second or so; when
// wait answers false it stops waiting and refuses the package. Without a wait
// it waits as long as it takes.
class PackageInstaller {
public:
    using InstallWait = std::function<bool()>;

    virtual ~PackageInstaller() = default;

    virtual InstallOutcome install(const QString &packagePath, const QString &collectionFolder,
                                   const PackageTrust &trust, const InstallWait &wait) = 0;

    InstallOutcome install(const QString &packagePath, const QString &collectionFolder,
                           const PackageTrust &trust)
    {
        return install(packagePath, collectionFolder, trust, {});
    }
};
