#include "publishedcatalog.h"

#include "circularcatalog.h"
#include "circularindex.h"
#include "collectioncheck.h"
#include "updatecontract.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

namespace {

const QStringList metadataHeader = {QStringLiteral("numero"), QStringLiteral("fecha"),
                                    QStringLiteral("titulo"), QStringLiteral("deroga"),
                                    QStringLiteral("modifica")};

QStringList numbersOf(const QString &text)
{
    QStringList numbers;
    for (const QString &number : text.split(u',', Qt::SkipEmptyParts)) {
        numbers.append(number.trimmed());
    }
    return numbers;
}

// The table's rows by circular number.
std::optional<QHash<QString, CatalogCircular>> readMetadata(const QString &path, QString *error)
{
    QHash<QString, CatalogCircular> rows;
    if (path.isEmpty()) {
        return rows;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    const QByteArray bytes = file.readAll();
    const QString text = QString::fromUtf8(bytes);
    if (text.toUtf8() != bytes) {
        *error = QStringLiteral("%1 is not UTF-8 text").arg(path);
        return std::nullopt;
    }
    QStringList lines = text.split(u'\n');
    for (QString &line : lines) {
        if (line.endsWith(u'\r')) {
            line.chop(1);
        }
    }
    if (lines.isEmpty() || lines.first().split(u'\t') != metadataHeader) {
        *error = QStringLiteral("%1 does not start with the header \"%2\"")
                     .arg(path, metadataHeader.join(u'\t'));
        return std::nullopt;
    }
    for (int i = 1; i < lines.size(); ++i) {
        if (lines.at(i).trimmed().isEmpty()) {
            continue;
        }
        const QStringList fields = lines.at(i).split(u'\t');
        CatalogCircular row;
        if (fields.size() == metadataHeader.size()) {
            row.number = fields.at(0).trimmed();
            row.date = QDate::fromString(fields.at(1).trimmed(), Qt::ISODate);
            row.title = fields.at(2).trimmed();
            row.repeals = numbersOf(fields.at(3));
            row.amends = numbersOf(fields.at(4));
        }
        if (row.number.isEmpty() || !row.date.isValid()) {
            *error = QStringLiteral("%1, line %2: expected a number, a date (YYYY-MM-DD), a title "
                                    "and two lists of numbers, separated by tabs")
                         .arg(path)
                         .arg(i + 1);
            return std::nullopt;
        }
        rows.insert(row.number, row);
    }
    return rows;
}

} // namespace

QString catalogPathIn(const QString &folder)
{
    return QDir(folder).filePath(UpdateContract::catalogFile);
}

QString catalogSignaturePathIn(const QString &folder)
{
    return QDir(folder).filePath(UpdateContract::catalogSignatureFile);
}

std::optional<Catalog> catalogOfFolder(const QString &folder, const CatalogRequest &request,
                                       QString *error)
{
    CircularCatalog circulars(folder);
    if (!circulars.refresh()) {
        *error = QStringLiteral("cannot read the folder %1").arg(folder);
        return std::nullopt;
    }
    const std::optional<QHash<QString, CatalogCircular>> metadata =
        readMetadata(request.metadataFile, error);
    if (!metadata) {
        return std::nullopt;
    }
    Catalog catalog;
    catalog.sequence = request.sequence;
    catalog.validUntil = request.validUntil;
    for (const QString &number : circulars.identifiers()) {
        const QString path = circulars.filePath(number);
        CatalogCircular circular = metadata->value(number);
        circular.number = number;
        circular.sha256 = fileSha256(path);
        circular.size = QFileInfo(path).size();
        if (circular.sha256.isEmpty()) {
            *error = QStringLiteral("cannot read %1").arg(path);
            return std::nullopt;
        }
        if (!metadata->contains(number)) {
            circular.title = pdfTitle(path);
            circular.date = QFileInfo(path).lastModified().date();
        }
        catalog.circulars.append(circular);
    }
    // The text must read back: a number or a table entry out of format fails here.
    QString unreadable;
    if (!parseCatalog(catalog.text(), &unreadable)) {
        *error = QStringLiteral("the catalog would not be valid: %1").arg(unreadable);
        return std::nullopt;
    }
    return catalog;
}

QString catalogMismatch(const QString &folder)
{
    const QString catalogPath = catalogPathIn(folder);
    if (!QFileInfo::exists(catalogPath)) {
        return {};
    }
    if (!QFileInfo::exists(catalogSignaturePathIn(folder))) {
        return QStringLiteral("%1 has no signature beside it (%2): sign it with minisign -Sm %1")
            .arg(catalogPath, UpdateContract::catalogSignatureFile);
    }
    QFile file(catalogPath);
    QString error;
    std::optional<Catalog> catalog;
    if (file.open(QIODevice::ReadOnly)) {
        catalog = parseCatalog(file.readAll(), &error);
    } else {
        error = file.errorString();
    }
    if (!catalog) {
        return QStringLiteral("%1 cannot be read: %2").arg(catalogPath, error);
    }
    CircularCatalog circulars(folder);
    if (!circulars.refresh()) {
        return QStringLiteral("cannot read the folder %1").arg(folder);
    }
    QHash<QString, CatalogCircular> listed;
    for (const CatalogCircular &circular : catalog->circulars) {
        listed.insert(circular.number, circular);
    }
    QStringList problems;
    for (const QString &number : circulars.identifiers()) {
        const QString path = circulars.filePath(number);
        const auto entry = listed.constFind(number);
        if (entry == listed.constEnd()) {
            problems.append(QStringLiteral("circular %1 is not in the catalog").arg(number));
        } else if (entry->size != QFileInfo(path).size() || entry->sha256 != fileSha256(path)) {
            problems.append(
                QStringLiteral("circular %1 is not the one the catalog lists").arg(number));
        }
        listed.remove(number);
    }
    for (const QString &number : listed.keys()) {
        problems.append(
            QStringLiteral("circular %1 is in the catalog but not in the folder").arg(number));
    }
    if (problems.isEmpty()) {
        return {};
    }
    problems.sort();
    return QStringLiteral("%1 does not match the folder (%2); write and sign it again")
        .arg(catalogPath, problems.join(QStringLiteral("; ")));
}
