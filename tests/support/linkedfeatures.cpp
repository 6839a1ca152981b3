#include "linkedfeatures.h"

#include "deferredservices.h"
#include "pdfprinting.h"
#include "searchbackend.h"
#include "zippackageinstaller.h"

#include <cstring>

namespace {
PackageInstaller *newPackageInstaller()
{
    return new ZipPackageInstaller;
}

PdfDocuments *newPdfDocuments()
{
    return new QtPdfDocuments;
}

SearchBackend *newSearchBackend()
{
    return new XapianSearchBackend;
}
} // namespace

void *LinkedFeatures::entry(const char *symbol, QString *problem)
{
    if (!missing) {
        if (std::strcmp(symbol, newPackageInstallerEntry) == 0) {
            return reinterpret_cast<void *>(&newPackageInstaller);
        }
        if (std::strcmp(symbol, newPdfDocumentsEntry) == 0) {
            return reinterpret_cast<void *>(&newPdfDocuments);
        }
        if (std::strcmp(symbol, newSearchBackendEntry) == 0) {
            return reinterpret_cast<void *>(&newSearchBackend);
        }
    }
    *problem = QStringLiteral("no hay módulo de servicios en esta prueba");
    return nullptr;
}
