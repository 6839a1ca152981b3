#include "packagetrust.h"

#include "collection.h"
#include "updatecontract.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

constexpr qint64 maxKeyBytes = 4096;

std::optional<QByteArray> readSmallFile(const QString &path, qint64 limit)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly) || file.size() > limit) {
        return std::nullopt;
    }
    return file.readAll();
}

// The catalog kept in folder, when it verifies with key.
std::optional<Catalog> keptCatalog(const QString &folder, const Minisign::PublicKey &key)
{
    const QDir dir(folder);
    const std::optional<QByteArray> text =
        readSmallFile(dir.filePath(UpdateContract::catalogFile), maxCatalogBytes);
    const std::optional<QByteArray> signature =
        readSmallFile(dir.filePath(UpdateContract::catalogSignatureFile), maxSignatureBytes);
    QString comment;
    QString error;
    if (!text || !signature || !Minisign::verify(key, *text, *signature, &comment, &error)) {
        return std::nullopt;
    }
    return parseCatalog(*text, &error);
}

} // namespace

std::optional<Catalog> acceptedCatalog(const Collection &collection, const Minisign::PublicKey &key)
{
    std::optional<Catalog> newest = keptCatalog(collection.programFolder(), key);
    if (!collection.userFolder().isEmpty()) {
        std::optional<Catalog> user = keptCatalog(collection.userFolder(), key);
        if (user && (!newest || user->sequence >= newest->sequence)) {
            newest = std::move(user);
        }
    }
    return newest;
}

PackageTrust trustFor(const Collection &collection, QDate today)
{
    PackageTrust trust;
    trust.today = today;
    const QString keyFile =
        QDir(collection.programFolder()).filePath(QStringLiteral("legisdis.pub"));
    if (!QFileInfo::exists(keyFile)) {
        return trust;
    }
    trust.keyed = true;
    const std::optional<QByteArray> text = readSmallFile(keyFile, maxKeyBytes);
    if (!text) {
        trust.keyProblem = QStringLiteral("no se pudo leer la clave pública del publicador");
        return trust;
    }
    trust.key = Minisign::parsePublicKey(*text, &trust.keyProblem);
    if (trust.key) {
        if (const std::optional<Catalog> accepted = acceptedCatalog(collection, *trust.key)) {
            trust.acceptedSequence = accepted->sequence;
        }
    }
    return trust;
}

std::optional<Catalog> vouchedCatalog(const PackageTrust &trust, const QByteArray &catalogText,
                                      const QByteArray &signature, const QList<PackageFile> &files,
                                      QString *reason)
{
    if (!trust.key) {
        *reason = trust.keyProblem;
        return std::nullopt;
    }
    if (catalogText.isNull() || signature.isNull()) {
        *reason = QStringLiteral("el paquete no trae el catálogo firmado por el publicador");
        return std::nullopt;
    }
    QString comment;
    QString why;
    if (!Minisign::verify(*trust.key, catalogText, signature, &comment, &why)) {
        *reason = QStringLiteral("la firma del catálogo no es válida: %1").arg(why);
        return std::nullopt;
    }
    std::optional<Catalog> catalog = parseCatalog(catalogText, reason);
    if (!catalog) {
        return std::nullopt;
    }
    if (trust.acceptedSequence && catalog->sequence < *trust.acceptedSequence) {
        *reason = QStringLiteral("el catálogo del paquete (número %1) es anterior al que ya "
                                 "tiene la colección (número %2)")
                      .arg(catalog->sequence)
                      .arg(*trust.acceptedSequence);
        return std::nullopt;
    }
    if (catalog->validUntil < trust.today) {
        *reason = QStringLiteral("el catálogo del paquete venció el %1")
                      .arg(catalog->validUntil.toString(QStringLiteral("dd/MM/yyyy")));
        return std::nullopt;
    }
    const QHash<QString, CatalogFile> listed = catalog->filesByPath();
    for (const PackageFile &file : files) {
        const auto entry = listed.constFind(file.path);
        if (entry == listed.constEnd()) {
            *reason = QStringLiteral("«%1» no figura en el catálogo firmado").arg(file.path);
            return std::nullopt;
        }
        if (entry->sha256 != file.sha256 || entry->size != file.size) {
            *reason = QStringLiteral("«%1» no es el que firmó el publicador").arg(file.path);
            return std::nullopt;
        }
    }
    return catalog;
}
