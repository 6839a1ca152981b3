#pragma once

class Collection;
class PackageInstaller;
class QString;
class QTextStream;

// Installs a package file into the collection without any window, for
// administrators and scripts: the outcome goes to out when installed, the
// reason to err when refused. Answers the process exit code: 0 when
// installed, 1 when refused.
int installPackageCommand(PackageInstaller &installer, const Collection &collection,
                          const QString &packageFile, QTextStream &out, QTextStream &err);
