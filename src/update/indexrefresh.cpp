#include "indexrefresh.h"

#include "indexpage.h"
#include "packagetrust.h"
#include "pdfdocuments.h"
#include "updatecontract.h"
#include "zippackageinstaller.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

constexpr qint64 maxSeenBytes = 16 * 1024 * 1024;

std::optional<Catalog> collectionCatalog(const Collection &collection)
{
    const PackageTrust trust = trustFor(collection, QDate::currentDate());
    if (!trust.key) {
        return std::nullopt;
    }
    return acceptedCatalog(collection, *trust.key);
}

QString circularNumber(const CollectionFile &file)
{
    const QString name = QFileInfo(file.relativePath).fileName();
    if (!name.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive) ||
        file.relativePath.count(u'/') != 1) {
        return {};
    }
    return name.chopped(4);
}

// The circulars present; titles and dates from the files only for those catalog lacks.
QList<PresentCircular> presentCirculars(const Collection &collection,
                                        const std::optional<Catalog> &catalog, PdfDocuments &pdf)
{
    QSet<QString> listed;
    if (catalog) {
        for (const CatalogCircular &circular : catalog->circulars) {
            listed.insert(circular.number);
        }
    }
    QList<PresentCircular> present;
    for (const CollectionFile &file : collection.files(UpdateContract::circularsFolder)) {
        const QString number = circularNumber(file);
        if (number.isEmpty()) {
            continue;
        }
        PresentCircular circular{number, {}, {}};
        if (!listed.contains(number)) {
            circular.title = pdf.title(file.absolutePath);
            circular.date = file.modified.date();
        }
        present.append(circular);
    }
    return present;
}

// Kept with the reader's own data, not in the collection, which other readers may share.
QString seenPath(const Collection &collection)
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation))
        .filePath(collection.id().key() + QStringLiteral("-circulares-vistas.txt"));
}

std::optional<QSet<QString>> readSeen(const Collection &collection)
{
    QFile file(seenPath(collection));
    if (!file.open(QIODevice::ReadOnly) || file.size() > maxSeenBytes) {
        return std::nullopt;
    }
    QSet<QString> seen;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (!line.isEmpty()) {
            seen.insert(QString::fromUtf8(line));
        }
    }
    return seen;
}

void writeSeen(const Collection &collection, const QSet<QString> &seen)
{
    const QString path = seenPath(collection);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return;
    }
    for (const QString &number : seen) {
        file.write(number.toUtf8() + '\n');
    }
    file.commit();
}

QString pagePath(const Collection &collection)
{
    return QDir(collection.installFolder()).filePath(UpdateContract::indexPage);
}

} // namespace

QSet<QString> collectionCirculars(const Collection &collection)
{
    QSet<QString> numbers;
    for (const CollectionFile &file : collection.files(UpdateContract::circularsFolder)) {
        if (const QString number = circularNumber(file); !number.isEmpty()) {
            numbers.insert(number);
        }
    }
    return numbers;
}

namespace {

bool writePage(const Collection &collection, const std::optional<Catalog> &catalog,
               PdfDocuments &pdf)
{
    const QString html = circularIndexPage(catalog, presentCirculars(collection, catalog, pdf),
                                           readSeen(collection));
    const QString path = pagePath(collection);
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        return false;
    }
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(html.toUtf8()) >= 0 && file.commit();
}

} // namespace

bool writeCircularIndex(const Collection &collection, PdfDocuments &pdf)
{
    return writePage(collection, collectionCatalog(collection), pdf);
}

void refreshCircularIndex(const Collection &collection, PdfDocuments &pdf)
{
    // Looked at, not read: this runs before the home page is asked for, and a collection of
    // thousands of circulars makes a list of thousands of lines.
    QFileInfo seen(seenPath(collection));
    if (!seen.isFile() || !seen.isReadable() || seen.size() > maxSeenBytes) {
        writeSeen(collection, collectionCirculars(collection));
        seen.refresh();
    }
    const QFileInfo page(pagePath(collection));
    // A change in the same instant as the page counts as after it.
    bool stale = !page.isFile() || seen.lastModified() >= page.lastModified();
    for (const QString &folder : {collection.programFolder(), collection.userFolder()}) {
        if (stale || folder.isEmpty()) {
            continue;
        }
        const QDir dir(folder);
        for (const QString &name :
             {QString(UpdateContract::catalogFile), QString(UpdateContract::circularsFolder)}) {
            const QFileInfo source(dir.filePath(name));
            stale = stale || (source.exists() && source.lastModified() >= page.lastModified());
        }
    }
    if (!stale) {
        return;
    }
    // Only the publisher's catalog is rewritten at start-up: it names every circular, so no
    // file need be read for its title. Without one the page is the one the last install
    // wrote.
    if (const std::optional<Catalog> catalog = collectionCatalog(collection)) {
        writePage(collection, catalog, pdf);
    }
}

void markCircularsSeen(const Collection &collection)
{
    const QSet<QString> present = collectionCirculars(collection);
    if (readSeen(collection) != present) {
        writeSeen(collection, present);
    }
}

QHash<QString, QString> catalogTitles(const Collection &collection)
{
    QHash<QString, QString> titles;
    if (const std::optional<Catalog> catalog = collectionCatalog(collection)) {
        for (const CatalogCircular &circular : catalog->circulars) {
            titles.insert(circular.number, circular.title);
        }
    }
    return titles;
}

InstallNews installNews(const Collection &collection, const QSet<QString> &before,
                        const InstallOutcome &outcome, PdfDocuments &pdf)
{
    InstallNews news;
    news.message = outcome.message;
    if (!outcome.installed) {
        return news;
    }
    // What the reader had before the install is what they knew of, if nothing says otherwise.
    if (!readSeen(collection)) {
        writeSeen(collection, before);
    }
    writeCircularIndex(collection, pdf);
    const QSet<QString> after = collectionCirculars(collection);
    for (const QString &number : after) {
        if (!before.contains(number)) {
            news.circulars.append(number);
        }
    }
    QHash<QString, QString> titles = catalogTitles(collection);
    for (const QString &number : std::as_const(news.circulars)) {
        if (!titles.contains(number)) {
            titles.insert(number, pdf.title(collection.resolve(circularPath(number))));
        }
    }
    // The installer counted every circular it placed; the reader is told of the new ones.
    QString rest = outcome.message;
    const QString counted = ZipPackageInstaller::installedMessage(outcome.circulars, outcome.files);
    if (rest.startsWith(counted)) {
        rest = rest.mid(counted.size()).trimmed();
    }
    news.message = newCircularsText(news.circulars, titles, outcome.files);
    if (!rest.isEmpty()) {
        news.message += QStringLiteral("\n\n") + rest;
    }
    return news;
}
