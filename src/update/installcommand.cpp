#include "installcommand.h"

#include "collection.h"
#include "packageinstaller.h"

#include <QDir>
#include <QTextStream>

int installPackageCommand(PackageInstaller &installer, const Collection &collection,
                          const QString &packageFile, QTextStream &out, QTextStream &err)
{
    const InstallOutcome outcome = installer.install(packageFile, collection.installFolder());
    if (!outcome.installed) {
        err << outcome.message << Qt::endl;
        return 1;
    }
    out << outcome.message << Qt::endl;
    if (!collection.userFolder().isEmpty()) {
        out << QStringLiteral("Instalado en la colección personal %1")
                   .arg(QDir::toNativeSeparators(collection.userFolder()))
            << Qt::endl;
    }
    return 0;
}
