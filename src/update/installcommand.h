#pragma once

#include <chrono>

class Collection;
class PackageInstaller;
class PdfDocuments;
class QString;
class QTextStream;

// Installs a package file into the collection without any window, for
// administrators and scripts: the outcome goes to out when installed, the
// reason to err when refused; pdf reads the titles of new circulars the catalog lacks. Answers the
// process exit code: 0 when installed, 1 when refused. While another install into the collection
// runs it waits, saying so on err, for patience at most; then it is refused.
int installPackageCommand(PackageInstaller &installer, PdfDocuments &pdf,
                          const Collection &collection, const QString &packageFile,
                          QTextStream &out, QTextStream &err,
                          std::chrono::milliseconds patience = std::chrono::minutes(5));
