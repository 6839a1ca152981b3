// Installing an update package: ZipPackageInstaller on arbitrary bytes.
//
// Input: the bytes of the package file.
//
// Properties:
// - nothing outside the collection folder is created, changed or removed;
// - no staging folder or hidden file is left in the collection;
// - a refused package leaves the collection exactly as it was, with a reason;
// - an installed package added only files under circulares/ (PDF, starting
//   with "%PDF-"), sistemas/ (PDF) and pagina/, and left the settings file and
//   the program as they were.
#include "fuzzsupport.h"

#include "zippackageinstaller.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>

namespace {

QMap<QString, QByteArray> below(const QString &root)
{
    QMap<QString, QByteArray> all;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        QByteArray bytes("<folder>");
        if (!it.fileInfo().isDir() && file.open(QIODevice::ReadOnly)) {
            bytes = file.readAll();
        }
        all.insert(QDir(root).relativeFilePath(path), bytes);
    }
    return all;
}

void write(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(bytes);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    QTemporaryDir root;
    const QString collection = root.filePath(QStringLiteral("coleccion"));
    write(collection + QStringLiteral("/legisdis.ini"), "[http]\nweb=x\n");
    write(collection + QStringLiteral("/legisdisco"), "programa");
    write(collection + QStringLiteral("/circulares/1001.pdf"), "%PDF-1.4 1001");
    const QString package = root.filePath(QStringLiteral("paquete.zip"));
    write(package, QByteArray(reinterpret_cast<const char *>(bytes), qsizetype(size)));

    const QMap<QString, QByteArray> before = below(root.path());
    ZipPackageInstaller installer([](const QString &) { return quint64(1) << 30; });
    const InstallOutcome outcome = installer.install(package, collection, PackageTrust());
    const QMap<QString, QByteArray> after = below(root.path());

    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        const QString &path = it.key();
        FUZZ_CHECK(path == QStringLiteral("paquete.zip") ||
                       path.startsWith(QStringLiteral("coleccion")),
                   {"path", fuzz::shown(path)});
        FUZZ_CHECK(!path.contains(QStringLiteral("/.")), {"path", fuzz::shown(path)});
        if (before.contains(path)) {
            continue;
        }
        FUZZ_CHECK(outcome.installed, {"path", fuzz::shown(path)});
        const bool allowed = path.startsWith(QStringLiteral("coleccion/pagina")) ||
                             path.startsWith(QStringLiteral("coleccion/sistemas")) ||
                             path.startsWith(QStringLiteral("coleccion/circulares"));
        FUZZ_CHECK(allowed, {"path", fuzz::shown(path)});
        if (path.startsWith(QStringLiteral("coleccion/circulares/"))) {
            FUZZ_CHECK(it.value().startsWith("%PDF-"), {"path", fuzz::shown(path)});
        }
    }
    for (const char *kept : {"coleccion/legisdis.ini", "coleccion/legisdisco", "paquete.zip"}) {
        FUZZ_CHECK(after.value(QLatin1String(kept)) == before.value(QLatin1String(kept)),
                   {"file", std::string(kept)});
    }
    if (!outcome.installed) {
        FUZZ_CHECK(after == before, {"reason", fuzz::shown(outcome.reason)});
        FUZZ_CHECK(!outcome.reason.isEmpty(), {"message", fuzz::shown(outcome.message)});
    }
    return 0;
}
