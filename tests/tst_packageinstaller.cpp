#include "packagerules.h"
#include "testfiles.h"
#include "testzip.h"
#include "zippackageinstaller.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>

#include <zip.h>

#include <sys/stat.h>

namespace {

// Sets the declared unpacked size of the zip's only entry, in its local header and its
// central directory record.
QByteArray withDeclaredSize(QByteArray zip, quint32 size)
{
    const auto patch = [&zip, size](const QByteArray &signature, int offset) {
        const qsizetype at = zip.indexOf(signature);
        QVERIFY(at >= 0);
        for (int i = 0; i < 4; ++i) {
            zip[at + offset + i] = char((size >> (8 * i)) & 0xff);
        }
    };
    patch(QByteArray("PK\x03\x04", 4), 22);
    patch(QByteArray("PK\x01\x02", 4), 24);
    return zip;
}

} // namespace

class tst_PackageInstaller : public QObject {
    Q_OBJECT

private slots:
    void init();
    void installsDocumentsAndReplacesACircular();
    void refusesHostilePackages_data();
    void refusesHostilePackages();
    void filesKeepThePackagesTimesButNoneLaterThanNow_data();
    void filesKeepThePackagesTimesButNoneLaterThanNow();
    void refusesWhatDoesNotFitTheDisk();
    void aFailedMoveLeavesTheCollectionAsItWas();
    void entryNameRules_data();
    void entryNameRules();
    void spaceAndRatioRules();

private:
    QString makePackage(const QList<TestZipEntry> &entries);
    void verifyUntouched(const InstallOutcome &outcome);

    std::unique_ptr<QTemporaryDir> m_root;
    QString m_collection;
    QMap<QString, QByteArray> m_before;
    QStringList m_rootBefore;
};

void tst_PackageInstaller::init()
{
    m_root = std::make_unique<QTemporaryDir>();
    QVERIFY(m_root->isValid());
    m_collection = m_root->filePath(QStringLiteral("coleccion"));
    QVERIFY(QDir().mkpath(m_collection + QStringLiteral("/circulares")));
    QVERIFY(QDir().mkpath(m_collection + QStringLiteral("/pagina")));
    QVERIFY(writeAll(m_collection + QStringLiteral("/circulares/1001.pdf"), testPdf("vieja")));
    QVERIFY(writeAll(m_collection + QStringLiteral("/pagina/maincd.htm"), "<p>inicio</p>"));
    QVERIFY(writeAll(m_collection + QStringLiteral("/legisdis.ini"), "[http]\nweb=x\n"));
    QVERIFY(writeAll(m_collection + QStringLiteral("/legisdisco"), "#!programa"));
    m_before = snapshot(m_collection);
}

QString tst_PackageInstaller::makePackage(const QList<TestZipEntry> &entries)
{
    const QString path = m_root->filePath(QStringLiteral("paquete.zip"));
    if (!writeTestZip(path, entries)) {
        return {};
    }
    m_rootBefore =
        QDir(m_root->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    return path;
}

void tst_PackageInstaller::verifyUntouched(const InstallOutcome &outcome)
{
    QVERIFY(!outcome.installed);
    QVERIFY(!outcome.reason.isEmpty());
    QVERIFY(outcome.message.startsWith(QStringLiteral("No se instaló el paquete")));
    QCOMPARE(snapshot(m_collection), m_before);
    QCOMPARE(QDir(m_root->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             m_rootBefore);
}

void tst_PackageInstaller::filesKeepThePackagesTimesButNoneLaterThanNow_data()
{
    QTest::addColumn<int>("daysFromNow"); // the time the package gives the file
    QTest::newRow("published a year ago") << -365;
    QTest::newRow("dated next year") << 365;
}

void tst_PackageInstaller::filesKeepThePackagesTimesButNoneLaterThanNow()
{
    // The newer copy of a file wins where a user's folder lies over the
    // program folder, so a file is as new as its publication, not as its
    // installation; a time in the future would win for ever.
    QFETCH(int, daysFromNow);
    const QDateTime stamped = QDateTime::currentDateTime().addDays(daysFromNow);
    const QString package =
        makePackage({{"circulares/4001.pdf", testPdf("4001"), 0100644, false, stamped}});
    ZipPackageInstaller installer;
    QVERIFY(installer.install(package, m_collection, PackageTrust()).installed);
    const QDateTime modified =
        QFileInfo(m_collection + QStringLiteral("/circulares/4001.pdf")).lastModified();
    QVERIFY2(modified <= QDateTime::currentDateTime(), qPrintable(modified.toString(Qt::ISODate)));
    if (daysFromNow < 0) {
        // Zip files keep times to two seconds.
        QVERIFY2(qAbs(modified.secsTo(stamped)) <= 2, qPrintable(modified.toString(Qt::ISODate)));
    }
}

void tst_PackageInstaller::installsDocumentsAndReplacesACircular()
{
    const QString package = makePackage({
        {"circulares/", {}, 040755},
        {"circulares/1001.pdf", testPdf("nueva"), 0100644, true},
        {"circulares/4001.pdf", testPdf("4001")},
        {"circulares/4002.pdf", testPdf("4002"), 0}, // no Unix mode stored
        {"sistemas/manuales.pdf", testPdf("manual")},
        {"pagina/circulares.htm", "<title>Circulares</title>"},
        {"pagina/img/logo.png", "\x89PNG"},
    });
    ZipPackageInstaller installer;
    const InstallOutcome outcome = installer.install(package, m_collection, PackageTrust());
    QVERIFY2(outcome.installed, qPrintable(outcome.message));
    QCOMPARE(outcome.circulars, 3);
    QCOMPARE(outcome.files, 6);
    QCOMPARE(outcome.message,
             QStringLiteral("Se instalaron 3 circulares nuevas en la colección."
                            " No se pudo verificar que el paquete sea del publicador: esta "
                            "instalación no tiene su clave pública (legisdis.pub)."));

    QMap<QString, QByteArray> expected = m_before;
    expected.insert(QStringLiteral("circulares/1001.pdf"), testPdf("nueva"));
    expected.insert(QStringLiteral("circulares/4001.pdf"), testPdf("4001"));
    expected.insert(QStringLiteral("circulares/4002.pdf"), testPdf("4002"));
    expected.insert(QStringLiteral("sistemas"), "<folder>");
    expected.insert(QStringLiteral("sistemas/manuales.pdf"), testPdf("manual"));
    expected.insert(QStringLiteral("pagina/circulares.htm"), "<title>Circulares</title>");
    expected.insert(QStringLiteral("pagina/img"), "<folder>");
    expected.insert(QStringLiteral("pagina/img/logo.png"), "\x89PNG");
    QCOMPARE(snapshot(m_collection), expected); // the staging folder is gone too

    // Documents, never programs.
    const QFileInfo installed(m_collection + QStringLiteral("/circulares/4001.pdf"));
    QVERIFY(!installed.isExecutable());
    QVERIFY(installed.permissions().testFlag(QFileDevice::ReadOther));
}

void tst_PackageInstaller::refusesHostilePackages_data()
{
    QTest::addColumn<QByteArray>("zip"); // the package's bytes
    QTest::addColumn<QString>("reason"); // a part of the reason given

    const auto zipOf = [this](const QList<TestZipEntry> &entries) {
        const QString path = m_root->filePath(QStringLiteral("plantilla.zip"));
        writeTestZip(path, entries);
        const QByteArray bytes = readAll(path);
        QFile::remove(path);
        return bytes;
    };
    const TestZipEntry good{"circulares/4001.pdf", testPdf("4001")};

    QTest::newRow("absolute name")
        << zipOf({good,
                  {QFile::encodeName(m_root->filePath(QStringLiteral("fuera.pdf"))), testPdf("x")}})
        << QStringLiteral("no es seguro");
    QTest::newRow("parent folder")
        << zipOf({good, {"../fuera.pdf", testPdf("x")}}) << QStringLiteral("no es seguro");
    QTest::newRow("parent inside a path")
        << zipOf({good, {"circulares/../../fuera.pdf", testPdf("x")}})
        << QStringLiteral("no es seguro");
    QTest::newRow("backslashes") << zipOf({good, {"circulares\\..\\..\\fuera.pdf", testPdf("x")}})
                                 << QStringLiteral("no es seguro");
    QTest::newRow("symbolic link") << zipOf({good, {"circulares/4002.pdf", "/etc/passwd", 0120777}})
                                   << QStringLiteral("enlace");
    QTest::newRow("device") << zipOf({good, {"circulares/4002.pdf", testPdf("x"), 0020644}})
                            << QStringLiteral("archivo especial");
    QTest::newRow("hidden file") << zipOf({good, {"circulares/.4002.pdf", testPdf("x")}})
                                 << QStringLiteral("oculto");
    QTest::newRow("hidden folder")
        << zipOf({good, {".config/autostart/x.pdf", testPdf("x")}}) << QStringLiteral("oculto");
    QTest::newRow("settings file") << zipOf({good, {"legisdis.ini", "[http]\nweb=mal\n"}})
                                   << QStringLiteral("no es un documento");
    QTest::newRow("program") << zipOf({good, {"legisdisco", "#!/bin/sh\nrm -rf ~\n", 0100755}})
                             << QStringLiteral("no es un documento");
    QTest::newRow("other folder") << zipOf({good, {"bin/4002.pdf", testPdf("x")}})
                                  << QStringLiteral("no es un documento");
    QTest::newRow("script page") << zipOf({good, {"pagina/instalar.sh", "#!/bin/sh\n"}})
                                 << QStringLiteral("no es un documento");
    QTest::newRow("circular in a subfolder")
        << zipOf({good, {"circulares/2024/4002.pdf", testPdf("x")}})
        << QStringLiteral("no es un documento");
    QTest::newRow("not a PDF") << zipOf({good, {"circulares/4002.pdf", "MZ\x90\x00"}})
                               << QStringLiteral("no es un documento PDF");
    QTest::newRow("empty PDF") << zipOf({good, {"circulares/4002.pdf", ""}})
                               << QStringLiteral("no es un documento PDF");
    QTest::newRow("error page saved as the package")
        << QByteArray("<html><body><h1>404 Not Found</h1></body></html>")
        << QStringLiteral("no es un paquete zip válido");
    QTest::newRow("empty file") << QByteArray() << QStringLiteral("no es un paquete zip válido");
    QTest::newRow("no entries") << QByteArray("PK\x05\x06", 4) + QByteArray(18, '\0')
                                << QStringLiteral("vacío");
    QTest::newRow("only folders") << zipOf({{"circulares/", {}, 040755}})
                                  << QStringLiteral("vacío");

    const QByteArray whole = zipOf({good, {"circulares/4002.pdf", testPdf("4002"), 0100644, true}});
    QTest::newRow("truncated") << whole.left(whole.size() / 2)
                               << QStringLiteral("no es un paquete zip válido");
    QByteArray corrupt =
        zipOf({{"circulares/4002.pdf", testPdf(QByteArray(4000, 'a')), 0100644, true}});
    corrupt[40] = char(corrupt[40] ^ 0x55);
    corrupt[41] = char(corrupt[41] ^ 0x55);
    QTest::newRow("damaged data") << corrupt << QStringLiteral("dañado");

    QByteArray duplicate = zipOf({good, {"circulares/4009.pdf", testPdf("otra")}});
    duplicate.replace("circulares/4009.pdf", "circulares/4001.pdf");
    // libzip takes a repeated name for a damaged archive
    // One file on a file system that folds letter case or composes characters.
    QTest::newRow("names differing in case")
        << zipOf({{"circulares/7779.pdf", testPdf("a")}, {"circulares/7779.PDF", testPdf("b")}})
        << QStringLiteral("son el mismo nombre escrito de dos maneras");
    QTest::newRow("names differing in composition")
        << zipOf({{"pagina/informaci\xc3\xb3n.htm", "<p>a</p>"},
                  {"pagina/informacio\xcc\x81n.htm", "<p>b</p>"}})
        << QStringLiteral("son el mismo nombre escrito de dos maneras");
    QTest::newRow("same name twice") << duplicate << QStringLiteral("no es un paquete zip válido");

    const QByteArray big = testPdf(QByteArray(1 << 20, 'a'));
    QTest::newRow("unpacks to more than it declares")
        << withDeclaredSize(zipOf({{"circulares/4002.pdf", big, 0100644, true}}), 4096)
        << QStringLiteral("más de lo que declara");
    QTest::newRow("zip bomb") << zipOf({{"circulares/4002.pdf",
                                         testPdf(QByteArray(101 << 20, '\0')), 0100644, true}})
                              << QStringLiteral("bomba");
}

void tst_PackageInstaller::refusesHostilePackages()
{
    QFETCH(QByteArray, zip);
    QFETCH(QString, reason);
    const QString package = m_root->filePath(QStringLiteral("paquete.zip"));
    QVERIFY(writeAll(package, zip));
    m_rootBefore =
        QDir(m_root->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);

    ZipPackageInstaller installer;
    const InstallOutcome outcome = installer.install(package, m_collection, PackageTrust());
    QVERIFY2(outcome.reason.contains(reason), qPrintable(outcome.message));
    verifyUntouched(outcome);
}

void tst_PackageInstaller::refusesWhatDoesNotFitTheDisk()
{
    const QString package = makePackage({{"circulares/4001.pdf", testPdf(QByteArray(1000, 'a'))}});
    ZipPackageInstaller installer([](const QString &) { return quint64(1050); });
    const InstallOutcome outcome = installer.install(package, m_collection, PackageTrust());
    QVERIFY2(outcome.reason.contains(QStringLiteral("espacio libre")), qPrintable(outcome.message));
    verifyUntouched(outcome);
}

void tst_PackageInstaller::aFailedMoveLeavesTheCollectionAsItWas()
{
    const QString package = makePackage({
        {"circulares/1001.pdf", testPdf("reemplazo")},
        {"pagina/img/logo.png", "\x89PNG"},
        {"circulares/4001.pdf", testPdf("4001")},
    });
    int moves = 0;
    ZipPackageInstaller installer({}, [&moves](const QString &from, const QString &to) {
        if (++moves == 3) {
            return false; // the disk fails on the third file
        }
        return QFile::rename(from, to) || (QFile::remove(to) && QFile::rename(from, to));
    });
    const InstallOutcome outcome = installer.install(package, m_collection, PackageTrust());
    QCOMPARE(moves, 3);
    QVERIFY2(outcome.reason.contains(QStringLiteral("circulares/4001.pdf")),
             qPrintable(outcome.message));
    verifyUntouched(outcome);
}

void tst_PackageInstaller::entryNameRules_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("allowed");
    QTest::addColumn<int>("kind");
    using PackageRules::EntryKind;
    QTest::newRow("circular") << QStringLiteral("circulares/4001.pdf") << true
                              << int(EntryKind::Circular);
    QTest::newRow("circular, capital extension")
        << QStringLiteral("circulares/4001.PDF") << true << int(EntryKind::Circular);
    QTest::newRow("manual") << QStringLiteral("sistemas/Errores.pdf") << true
                            << int(EntryKind::Manual);
    QTest::newRow("page in a subfolder")
        << QStringLiteral("pagina/anexos/a.html") << true << int(EntryKind::Page);
    QTest::newRow("style sheet") << QStringLiteral("pagina/estilo.css") << true
                                 << int(EntryKind::Page);
    QTest::newRow("page folder") << QStringLiteral("pagina/anexos/") << true
                                 << int(EntryKind::Folder);
    QTest::newRow("accented name")
        << QStringLiteral("circulares/Resolución 5.pdf") << true << int(EntryKind::Circular);
    QTest::newRow("top-level file") << QStringLiteral("circulares") << false << 0;
    QTest::newRow("empty part") << QStringLiteral("circulares//4001.pdf") << false << 0;
    QTest::newRow("dot part") << QStringLiteral("pagina/./a.htm") << false << 0;
    QTest::newRow("control character") << QStringLiteral("pagina/a\nb.htm") << false << 0;
    QTest::newRow("drive letter") << QStringLiteral("C:/pagina/a.htm") << false << 0;
    QTest::newRow("executable in pages") << QStringLiteral("pagina/a.exe") << false << 0;
    QTest::newRow("subfolder of circulars") << QStringLiteral("circulares/viejas/") << false << 0;
    QTest::newRow("long name") << QStringLiteral("circulares/%1.pdf").arg(QString(300, u'a'))
                               << false << 0;
}

void tst_PackageInstaller::entryNameRules()
{
    QFETCH(QString, name);
    QFETCH(bool, allowed);
    QFETCH(int, kind);
    const PackageRules::EntryVerdict verdict = PackageRules::checkEntryName(name);
    QCOMPARE(verdict.allowed, allowed);
    if (allowed) {
        QCOMPARE(int(verdict.kind), kind);
    } else {
        QVERIFY(!verdict.reason.isEmpty());
    }
}

void tst_PackageInstaller::spaceAndRatioRules()
{
    using namespace PackageRules;
    constexpr quint64 MiB = 1024 * 1024;
    QVERIFY(!isSuspiciousRatio(1, 100 * MiB));       // small enough, whatever the ratio
    QVERIFY(isSuspiciousRatio(MiB, 101 * MiB + 1));  // large and over 100:1
    QVERIFY(!isSuspiciousRatio(2 * MiB, 200 * MiB)); // exactly 100:1
    QVERIFY(isSuspiciousRatio(0, 200 * MiB));
    QVERIFY(fitsInFreeSpace(1000, 1100));
    QVERIFY(!fitsInFreeSpace(1000, 1099));
    QVERIFY(
        !fitsInFreeSpace(std::numeric_limits<quint64>::max(), std::numeric_limits<quint64>::max()));
    QVERIFY(fitsInFreeSpace(0, 0));
}

QTEST_GUILESS_MAIN(tst_PackageInstaller)
#include "tst_packageinstaller.moc"
