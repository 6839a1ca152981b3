#include "installcommand.h"

#include "collection.h"
#include "indexrefresh.h"
#include "packageinstaller.h"
#include "packagetrust.h"

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QTextStream>
#include <QThread>

int installPackageCommand(PackageInstaller &installer, PdfDocuments &pdf,
                          const Collection &collection, const QString &packageFile,
                          QTextStream &out, QTextStream &err, std::chrono::milliseconds patience)
{
    // Another install into the collection is waited for, a while; the wait is said at once.
    QElapsedTimer waited;
    const auto wait = [&] {
        if (!waited.isValid()) {
            waited.start();
            err << QStringLiteral("Esperando a que termine otra instalación...") << Qt::endl;
        }
        QThread::msleep(100);
        return waited.elapsed() < patience.count();
    };
    const QSet<QString> before = collectionCirculars(collection);
    const InstallOutcome outcome = installer.install(
        packageFile, collection.installFolder(), trustFor(collection, QDate::currentDate()), wait);
    if (!outcome.installed) {
        err << outcome.message << Qt::endl;
        return 1;
    }
    out << installNews(collection, before, outcome, pdf).message << Qt::endl;
    if (!collection.userFolder().isEmpty()) {
        out << QStringLiteral("Instalado en la colección personal %1")
                   .arg(QDir::toNativeSeparators(collection.userFolder()))
            << Qt::endl;
    }
    return 0;
}
