#pragma once

#include "featuremodule.h"
#include "packageinstaller.h"
#include "pdfdocuments.h"

// The entries of the services module (featuremodule.h) for the platform's services: each
// makes a new real service, which its caller owns.
using NewPackageInstaller = PackageInstaller *(*)();
constexpr char newPackageInstallerEntry[] = "legisdiscoNewPackageInstaller";
using NewPdfDocuments = PdfDocuments *(*)();
constexpr char newPdfDocumentsEntry[] = "legisdiscoNewPdfDocuments";

// The package installer of the services module, loaded at the first install. When the
// module cannot be loaded, the package is refused and the outcome says why.
class DeferredPackageInstaller final : public PackageInstaller {
public:
    explicit DeferredPackageInstaller(FeatureModule &module);
    ~DeferredPackageInstaller() override;

    using PackageInstaller::install;
    InstallOutcome install(const QString &packagePath, const QString &collectionFolder,
                           const PackageTrust &trust, const InstallWait &wait) override;

private:
    ModuleService<PackageInstaller> m_real;
};

// The PDF documents of the services module, loaded at the first use. When the module
// cannot be loaded, a document reads as having no pages and no title, and printing answers
// why it printed nothing.
class DeferredPdfDocuments final : public PdfDocuments {
public:
    explicit DeferredPdfDocuments(FeatureModule &module);
    ~DeferredPdfDocuments() override;

    QString unavailable() override;
    int pageCount(const QString &path) override;
    QList<QSizeF> pageSizes(const QString &path) override;
    QString title(const QString &path) override;
    QString print(const QString &path, QPrinter &printer, bool toFile,
                  const PdfPrintProgress &progress) override;

private:
    ModuleService<PdfDocuments> m_real;
};
