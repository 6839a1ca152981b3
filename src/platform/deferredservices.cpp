#include "deferredservices.h"

#include "zippackageinstaller.h"

DeferredPackageInstaller::DeferredPackageInstaller(FeatureModule &module)
    : m_real(module, newPackageInstallerEntry)
{
}

DeferredPackageInstaller::~DeferredPackageInstaller() = default;

InstallOutcome DeferredPackageInstaller::install(const QString &packagePath,
                                                 const QString &collectionFolder,
                                                 const PackageTrust &trust, const InstallWait &wait)
{
    QString problem;
    PackageInstaller *installer = m_real.get(&problem);
    if (!installer) {
        InstallOutcome refused;
        refused.reason = problem;
        refused.message = ZipPackageInstaller::refusedMessage(problem);
        return refused;
    }
    return installer->install(packagePath, collectionFolder, trust, wait);
}

DeferredPdfDocuments::DeferredPdfDocuments(FeatureModule &module)
    : m_real(module, newPdfDocumentsEntry)
{
}

DeferredPdfDocuments::~DeferredPdfDocuments() = default;

QString DeferredPdfDocuments::unavailable()
{
    QString problem;
    PdfDocuments *documents = m_real.get(&problem);
    return documents ? documents->unavailable() : problem;
}

int DeferredPdfDocuments::pageCount(const QString &path)
{
    QString problem;
    PdfDocuments *documents = m_real.get(&problem);
    return documents ? documents->pageCount(path) : 0;
}

QList<QSizeF> DeferredPdfDocuments::pageSizes(const QString &path)
{
    QString problem;
    PdfDocuments *documents = m_real.get(&problem);
    return documents ? documents->pageSizes(path) : QList<QSizeF>();
}

QString DeferredPdfDocuments::title(const QString &path)
{
    QString problem;
    PdfDocuments *documents = m_real.get(&problem);
    return documents ? documents->title(path) : QString();
}

QString DeferredPdfDocuments::print(const QString &path, QPrinter &printer, bool toFile,
                                    const PdfPrintProgress &progress)
{
    QString problem;
    PdfDocuments *documents = m_real.get(&problem);
    return documents ? documents->print(path, printer, toFile, progress)
                     : QStringLiteral("No se pudo imprimir el documento: %1.").arg(problem);
}
