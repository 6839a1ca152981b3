#include "deferredservices.h"

#include "featuremodule.h"
#include "zippackageinstaller.h"

namespace {
// The service made by the module's entry symbol; nullptr, with *problem set, when there
// is none.
template <typename Service>
std::unique_ptr<Service> made(FeatureModule &module, const char *symbol, QString *problem)
{
    using Make = Service *(*)();
    const auto make = reinterpret_cast<Make>(module.entry(symbol, problem));
    return std::unique_ptr<Service>(make ? make() : nullptr);
}
} // namespace

DeferredPackageInstaller::DeferredPackageInstaller(FeatureModule &module)
    : m_module(module)
{
}

DeferredPackageInstaller::~DeferredPackageInstaller() = default;

InstallOutcome DeferredPackageInstaller::install(const QString &packagePath,
                                                 const QString &collectionFolder,
                                                 const PackageTrust &trust, const InstallWait &wait)
{
    PackageInstaller *installer = nullptr;
    QString problem;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_real) {
            m_real = made<PackageInstaller>(m_module, newPackageInstallerEntry, &problem);
        }
        installer = m_real.get();
    }
    if (!installer) {
        InstallOutcome refused;
        refused.reason = problem;
        refused.message = ZipPackageInstaller::refusedMessage(problem);
        return refused;
    }
    return installer->install(packagePath, collectionFolder, trust, wait);
}

DeferredPdfDocuments::DeferredPdfDocuments(FeatureModule &module)
    : m_module(module)
{
}

DeferredPdfDocuments::~DeferredPdfDocuments() = default;

PdfDocuments *DeferredPdfDocuments::real(QString *problem)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_real) {
        m_real = made<PdfDocuments>(m_module, newPdfDocumentsEntry, problem);
    }
    return m_real.get();
}

QString DeferredPdfDocuments::unavailable()
{
    QString problem;
    PdfDocuments *documents = real(&problem);
    return documents ? documents->unavailable() : problem;
}

int DeferredPdfDocuments::pageCount(const QString &path)
{
    QString problem;
    PdfDocuments *documents = real(&problem);
    return documents ? documents->pageCount(path) : 0;
}

QList<QSizeF> DeferredPdfDocuments::pageSizes(const QString &path)
{
    QString problem;
    PdfDocuments *documents = real(&problem);
    return documents ? documents->pageSizes(path) : QList<QSizeF>();
}

QString DeferredPdfDocuments::title(const QString &path)
{
    QString problem;
    PdfDocuments *documents = real(&problem);
    return documents ? documents->title(path) : QString();
}

QString DeferredPdfDocuments::print(const QString &path, QPrinter &printer, bool toFile,
                                    const PdfPrintProgress &progress)
{
    QString problem;
    PdfDocuments *documents = real(&problem);
    return documents ? documents->print(path, printer, toFile, progress)
                     : QStringLiteral("No se pudo imprimir el documento: %1.").arg(problem);
}
