#include "installcommand.h"

#include "collection.h"
#include "indexrefresh.h"
#include "packageinstaller.h"
#include "packagetrust.h"

#include <QDate>
#include <QDir>
#include <QTextStream>

int installPackageCommand(PackageInstaller &installer, const Collection &collection,
                          const QString &packageFile, QTextStream &out, QTextStream &err)
{
    const QSet<QString> before = collectionCirculars(collection);
    const InstallOutcome outcome = installer.install(packageFile, collection.installFolder(),
                                                     trustFor(collection, QDate::currentDate()));
    if (!outcome.installed) {
        err << outcome.message << Qt::endl;
        return 1;
    }
    out << installNews(collection, before, outcome).message << Qt::endl;
    if (!collection.userFolder().isEmpty()) {
        out << QStringLiteral("Instalado en la colección personal %1")
                   .arg(QDir::toNativeSeparators(collection.userFolder()))
            << Qt::endl;
    }
    return 0;
}
