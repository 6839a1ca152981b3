// The update server's packages: the archives it writes, read back with libzip the way the
// viewer reads them, and where built packages are kept (memory, then the cache folder).

#include "packagecache.h"
#include "packagezip.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <zip.h>
#include <zlib.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace Qt::StringLiterals;

struct Entry {
    QByteArray data;
    time_t modified = 0;
    zip_uint16_t method = 0;
};

// Every entry of the archive, read with libzip checking its consistency and every CRC;
// an empty map, with *error set, when it cannot be read.
QMap<QString, Entry> readBack(const QByteArray &archive, QString *error)
{
    QMap<QString, Entry> entries;
    zip_error_t zipError;
    zip_error_init(&zipError);
    zip_source_t *source =
        zip_source_buffer_create(archive.constData(), zip_uint64_t(archive.size()), 0, &zipError);
    zip_t *zip =
        source ? zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &zipError) : nullptr;
    if (!zip) {
        *error = QString::fromUtf8(zip_error_strerror(&zipError));
        zip_error_fini(&zipError);
        if (source)
            zip_source_free(source);
        return entries;
    }
    zip_error_fini(&zipError);
    for (zip_int64_t i = 0; i < zip_get_num_entries(zip, 0); ++i) {
        zip_stat_t stat;
        zip_stat_init(&stat);
        zip_uint8_t system = 0;
        zip_uint32_t attributes = 0;
        zip_file_t *file = zip_stat_index(zip, zip_uint64_t(i), 0, &stat) == 0
                               ? zip_fopen_index(zip, zip_uint64_t(i), 0)
                               : nullptr;
        if (!file ||
            zip_file_get_external_attributes(zip, zip_uint64_t(i), 0, &system, &attributes) < 0) {
            *error = QStringLiteral("entry %1 cannot be opened").arg(i);
            return {};
        }
        QByteArray data(qsizetype(stat.size), Qt::Uninitialized);
        const zip_int64_t read = zip_fread(file, data.data(), stat.size);
        char extra = 0;
        const bool atEnd = zip_fread(file, &extra, 1) == 0; // also checks the CRC
        zip_fclose(file);
        if (read != zip_int64_t(stat.size) || !atEnd) {
            *error = QStringLiteral("entry %1 does not read back whole").arg(i);
            return {};
        }
        if (system != ZIP_OPSYS_UNIX || (attributes >> 16) != 0100644) {
            *error = QStringLiteral("entry %1 is not a plain file").arg(i);
            return {};
        }
        entries.insert(QString::fromUtf8(stat.name), {data, stat.mtime, stat.comp_method});
    }
    zip_close(zip);
    return entries;
}

QByteArray written(const QList<PackagePart> &parts, QString *error)
{
    QByteArray bytes;
    const bool ok = PackageZip::write(
        parts,
        [&bytes](const char *data, qint64 size) {
            bytes.append(data, size);
            return true;
        },
        error);
    return ok ? bytes : QByteArray();
}

QByteArray randomBytes(int size, quint32 seed)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator random(seed);
    for (char &c : data)
        c = char(random.bounded(256));
    return data;
}

quint32 crcOf(const QByteArray &data)
{
    return quint32(
        crc32_z(0, reinterpret_cast<const Bytef *>(data.constData()), z_size_t(data.size())));
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

// A package of one small part, different for every seed.
PackageCache::PartsMaker smallPackage(quint32 seed)
{
    return [seed](QList<PackagePart> *parts, QString *) {
        parts->append(PackagePart::compressed(u"x.pdf"_s, randomBytes(1000, seed), 0));
        return true;
    };
}

QString nameOf(int n)
{
    return QString::number(n, 16).rightJustified(32, u'0');
}

// The package from the folder, written there when it is not there whole, as the server does
// for a package asked for again.
bool keepPackage(PackageCache &cache, const QString &name,
                 const PackageCache::PartsMaker &makeParts, PackageData *package, QString *error)
{
    QList<PackagePart> parts;
    if (!makeParts(&parts, error))
        return false;
    const qint64 size = PackageZip::sizeOf(parts);
    return cache.findKept(name, size, package) || cache.keep(name, parts, size, package, error);
}

// The bytes of a package's file (the file is closed).
QByteArray contentsOf(PackageData *package)
{
    QFile file;
    if (!file.open(package->file, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return {};
    package->file = -1;
    return file.readAll();
}

} // namespace

class TestPackageCache : public QObject {
    Q_OBJECT

private slots:
    void archiveReadsBackAsWritten();
    void archiveIsTheSameEveryTime();
    void archiveRefusesAFileThatChanged();
    void archiveBeyondAPlainZipIsRefused();
    void packageIsSharedThroughTheFolder();
    void folderStaysBoundedUnderAFlood();
    void fileOfAnotherSizeIsNeverServed_data();
    void fileOfAnotherSizeIsNeverServed();
};

void TestPackageCache::archiveReadsBackAsWritten()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"1001.pdf"_s);
    const QByteArray pdf = "%PDF-1.4\n" + randomBytes(300000, 1);
    QVERIFY(writeFile(path, pdf));
    const FileStamp stamp = fileStamp(path);
    const QByteArray page = QStringLiteral("<p>Índice de circulares</p>\n").repeated(500).toUtf8();

    const QList<PackagePart> parts = {
        PackagePart::file(u"circulares/1001.pdf"_s, path, stamp, crcOf(pdf)),
        PackagePart::file(u"circulares/vacía.pdf"_s, path, stamp, crcOf(pdf)),
        PackagePart::compressed(u"pagina/circulares.htm"_s, page, 1764979200),
        PackagePart::compressed(u"pagina/vacío.htm"_s, QByteArray(), 0),
    };
    QString error;
    const QByteArray archive = written(parts, &error);
    QVERIFY2(!archive.isEmpty(), qPrintable(error));
    QCOMPARE(archive.size(), PackageZip::sizeOf(parts));

    const QMap<QString, Entry> entries = readBack(archive, &error);
    QVERIFY2(!entries.isEmpty(), qPrintable(error));
    QCOMPARE(entries.size(), 4);
    QCOMPARE(entries.value(u"circulares/1001.pdf"_s).data, pdf);
    QCOMPARE(entries.value(u"circulares/1001.pdf"_s).method, zip_uint16_t(ZIP_CM_STORE));
    QCOMPARE(entries.value(u"circulares/vacía.pdf"_s).data, pdf);
    QCOMPARE(entries.value(u"pagina/circulares.htm"_s).data, page);
    QCOMPARE(entries.value(u"pagina/circulares.htm"_s).method, zip_uint16_t(ZIP_CM_DEFLATE));
    QVERIFY(entries.value(u"pagina/vacío.htm"_s).data.isEmpty());
    QVERIFY(archive.size() < pdf.size() * 2 + page.size() / 4); // the page is compressed

    // Times are kept to the two seconds the format holds, in UTC, and dates before 1980
    // (which it cannot hold) become its first day.
    struct tm fields {};
    const time_t read = entries.value(u"pagina/circulares.htm"_s).modified;
    localtime_r(&read, &fields);
    QCOMPARE(timegm(&fields), time_t(1764979200));
    const time_t early = entries.value(u"pagina/vacío.htm"_s).modified;
    localtime_r(&early, &fields);
    QCOMPARE(fields.tm_year, 80);
}

void TestPackageCache::archiveIsTheSameEveryTime()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"7.pdf"_s);
    QVERIFY(writeFile(path, "%PDF-1.4 siete"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC),
                                 QFileDevice::FileModificationTime));
    }
    const QList<PackagePart> parts = {
        PackagePart::file(u"circulares/7.pdf"_s, path, fileStamp(path), crcOf("%PDF-1.4 siete")),
        PackagePart::compressed(u"pagina/circulares.htm"_s, "<p>7</p>", 1700000000),
    };
    QString error;
    const QByteArray first = written(parts, &error);
    QVERIFY(!first.isEmpty());
    // Made again, as another server would from the same files.
    const QList<PackagePart> again = {
        PackagePart::file(u"circulares/7.pdf"_s, path, fileStamp(path), crcOf("%PDF-1.4 siete")),
        PackagePart::compressed(u"pagina/circulares.htm"_s, "<p>7</p>", 1700000000),
    };
    QCOMPARE(written(again, &error), first);
    // And the bytes every server has made for these parts: clients and caches that hold a
    // package by its name keep holding the same bytes.
    QCOMPARE(QCryptographicHash::hash(first, QCryptographicHash::Sha256).toHex(),
             "c1660ac053c5247ed3ddce080289e028b56f3f5797bf1db306c845da5a445ffc");
}

void TestPackageCache::archiveRefusesAFileThatChanged()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"9.pdf"_s);
    QVERIFY(writeFile(path, "%PDF-1.4 nueve"));
    const PackagePart part =
        PackagePart::file(u"circulares/9.pdf"_s, path, fileStamp(path), crcOf("%PDF-1.4 nueve"));
    QString error;

    // Longer, shorter, replaced, gone: never an archive whose entry is not the file named.
    for (const QByteArray &now :
         {QByteArray("%PDF-1.4 nueve y más"), QByteArray("%PDF"), QByteArray("%PDF-1.4 NUEVE")}) {
        QVERIFY(writeFile(path, now));
        error.clear();
        QVERIFY(written({part}, &error).isEmpty());
        QVERIFY2(error.contains(u"cambió"_s), qPrintable(error));
    }
    QVERIFY(QFile::remove(path));
    error.clear();
    QVERIFY(written({part}, &error).isEmpty());
    QVERIFY(!error.isEmpty());

    // A sink that stops taking bytes stops the archive.
    QVERIFY(writeFile(path, "%PDF-1.4 nueve"));
    const PackagePart fresh =
        PackagePart::file(u"circulares/9.pdf"_s, path, fileStamp(path), crcOf("%PDF-1.4 nueve"));
    error.clear();
    QVERIFY(!PackageZip::write(
        {fresh}, [](const char *, qint64) { return false; }, &error));
    QVERIFY(!error.isEmpty());
}

void TestPackageCache::archiveBeyondAPlainZipIsRefused()
{
    PackageEntry entry = *PackagePart::compressed(u"circulares/1.pdf"_s, "x", 0);
    entry.path = u"/nonexistent"_s;
    entry.size = qint64(5) * 1024 * 1024 * 1024;
    const PackagePart huge(entry);
    QCOMPARE(PackageZip::sizeOf({huge}), -1);
    QString error;
    QVERIFY(!PackageZip::write(
        {huge}, [](const char *, qint64) { return true; }, &error));
    QVERIFY(!error.isEmpty());

    const QList<PackagePart> many(70000, PackagePart::compressed(u"a.htm"_s, "a", 0));
    QCOMPARE(PackageZip::sizeOf(many), -1);
    QVERIFY(PackageZip::sizeOf(many.mid(0, 65000)) > 0);
}

void TestPackageCache::packageIsSharedThroughTheFolder()
{
    QTemporaryDir folder;
    const QString name = nameOf(5);
    QByteArray first;
    {
        PackageCache cache(folder.path(), 1024 * 1024, 3600);
        QString error;
        QVERIFY(cache.open(&error));
        PackageData package;
        QVERIFY2(keepPackage(cache, name, smallPackage(5), &package, &error), qPrintable(error));
        first = contentsOf(&package);
        QVERIFY(readBack(first, &error).contains(u"x.pdf"_s));
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{name + u".zip"_s});
        QCOMPARE(cache.bytes(), qint64(first.size()));
    }
    // Another process over the same folder serves it from there, without writing it again.
    const QString path = folder.filePath(name + u".zip"_s);
    struct stat before {};
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &before), 0);
    PackageCache other(folder.path(), 1024 * 1024, 3600);
    QString error;
    QVERIFY(other.open(&error));
    PackageData package;
    QVERIFY(keepPackage(other, name, smallPackage(5), &package, &error));
    QVERIFY(package.file >= 0);
    struct stat served {};
    QCOMPARE(::fstat(package.file, &served), 0);
    QCOMPARE(served.st_ino, before.st_ino);
    QCOMPARE(contentsOf(&package), first);
}

void TestPackageCache::folderStaysBoundedUnderAFlood()
{
    // Packages kept for an hour, but no more than 20 KB of them.
    QTemporaryDir folder;
    PackageCache cache(folder.path(), 20 * 1024, 3600);
    QString error;
    QVERIFY(cache.open(&error));
    for (int i = 0; i < 200; ++i) {
        PackageData package;
        QVERIFY2(keepPackage(cache, nameOf(i), smallPackage(quint32(i)), &package, &error),
                 qPrintable(error));
        QVERIFY(package.file >= 0); // the one just built always stays
        ::close(package.file);
        QVERIFY(cache.bytes() <= 2 * 20 * 1024 + 4096);
    }
    const QFileInfoList files = QDir(folder.path()).entryInfoList(QDir::Files | QDir::Hidden);
    qint64 total = 0;
    for (const QFileInfo &file : files)
        total += file.size();
    QCOMPARE(total, cache.bytes());
    QVERIFY(files.size() < 200);
}

void TestPackageCache::fileOfAnotherSizeIsNeverServed_data()
{
    // What is left under the package's name, from the whole package's bytes: a file renamed
    // into place before its data reached the disk, and the power went.
    QTest::addColumn<int>("cut");   // bytes taken off the end
    QTest::addColumn<int>("extra"); // bytes added at the end
    QTest::newRow("empty") << -1 << 0;
    QTest::newRow("half") << -2 << 0;
    QTest::newRow("one byte short") << 1 << 0;
    QTest::newRow("one byte too many") << 0 << 1;
}

void TestPackageCache::fileOfAnotherSizeIsNeverServed()
{
    QFETCH(int, cut);
    QFETCH(int, extra);
    const auto parts = [](QList<PackagePart> *list, QString *) {
        list->append(PackagePart::compressed(u"x.pdf"_s, randomBytes(50000, 3), 0));
        return true;
    };
    QList<PackagePart> made;
    QString error;
    parts(&made, &error);
    const QByteArray whole = written(made, &error);
    QVERIFY(!whole.isEmpty());
    const qsizetype kept = cut == -1 ? 0 : cut == -2 ? whole.size() / 2 : whole.size() - cut;
    QTemporaryDir folder;
    const QString path = folder.filePath(nameOf(7) + u".zip"_s);
    QVERIFY(writeFile(path, whole.left(kept) + QByteArray(extra, 'x')));

    // Found at start, never served, and written again whole in place of the file.
    PackageCache cache(folder.path(), 1024 * 1024, 3600);
    QVERIFY(cache.open(&error));
    PackageData package;
    QVERIFY(!cache.findKept(nameOf(7), qint64(whole.size()), &package));
    QVERIFY(!QFile::exists(path));
    QVERIFY2(keepPackage(cache, nameOf(7), parts, &package, &error), qPrintable(error));
    QCOMPARE(package.size, qint64(whole.size()));
    QCOMPARE(contentsOf(&package), whole);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), whole);
}

QTEST_GUILESS_MAIN(TestPackageCache)
#include "tst_packagecache.moc"
