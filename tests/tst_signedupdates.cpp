#include "catalog.h"
#include "collection.h"
#include "collectioncheck.h"
#include "downloadanswerer.h"
#include "frmactualiza.h"
#include "frmbrowser.h"
#include "indexrefresh.h"
#include "packagetrust.h"
#include "pdfprinting.h"
#include "qtupdatefeed.h"
#include "searchcommand.h"
#include "startupcheck.h"
#include "testfiles.h"
#include "testpdf.h"
#include "testplatform.h"
#include "testzip.h"
#include "updatenotice.h"
#include "updateserver.h"
#include "verifycommand.h"
#include "zippackageinstaller.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <functional>

namespace {

QByteArray sha256(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

// Runs the publisher's tool; its standard output, or a failed test.
bool minisign(const QStringList &arguments, const QString &folder)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(QStringLiteral("minisign"), arguments);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// What a row of the table does to the package before it is installed.
struct Package {
    QList<TestZipEntry> entries;
    Catalog catalog;
    QString signingKey = QStringLiteral("editor"); // the publisher's
    bool legacySignature = false;
    bool signCatalog = true;
    std::function<void(Package &)> afterSigning;
    QByteArray catalogText;
    QByteArray signature;
};

} // namespace

// Packages signed by the publisher with minisign, made with the real tool, installed by the
// real installer into a real collection folder.
class TestSignedUpdates : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void onlyWhatTheCatalogVouchesForInstalls_data();
    void onlyWhatTheCatalogVouchesForInstalls();
    void withoutTheKeyPackagesInstallUnverified();
    void theCommandLineInstallsAndRefusesAlike();
    void verifyNamesWhatDiffersFromTheCatalog();
    void theWindowTakesOnlyThePublishersPackages_data();
    void theWindowTakesOnlyThePublishersPackages();
    void theStartupCheckTellsOfSignedNewsOnly_data();
    void theStartupCheckTellsOfSignedNewsOnly();
    void aSearchSaysWhenACircularWasRepealed();
    void newUntilTheIndexIsOpened();

private:
    QString program() const { return m_root->filePath(QStringLiteral("programa")); }
    Package goodPackage() const;
    // Signs the package's catalog and writes the zip; its path.
    QString write(Package package);

    std::unique_ptr<QTemporaryDir> m_keys;
    std::unique_ptr<QTemporaryDir> m_root;
};

void TestSignedUpdates::initTestCase()
{
    m_keys = std::make_unique<QTemporaryDir>();
    for (const char *name : {"editor", "intruso"}) {
        const QString key = QString::fromLatin1(name);
        QVERIFY(minisign({QStringLiteral("-G"), QStringLiteral("-W"), QStringLiteral("-p"),
                          key + QStringLiteral(".pub"), QStringLiteral("-s"),
                          key + QStringLiteral(".key")},
                         m_keys->path()));
    }
}

void TestSignedUpdates::init()
{
    m_root = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir().mkpath(program() + QStringLiteral("/circulares")));
    QVERIFY(writeAll(program() + QStringLiteral("/circulares/1001.pdf"), testPdf("1001")));
    QVERIFY(QFile::copy(m_keys->filePath(QStringLiteral("editor.pub")),
                        program() + QStringLiteral("/legisdis.pub")));
}

Package TestSignedUpdates::goodPackage() const
{
    Package package;
    package.catalog.sequence = 7;
    package.catalog.validUntil = QDate::currentDate().addDays(30);
    for (const char *number : {"1001", "1002"}) {
        const QByteArray pdf = testPdf(QByteArray("circular ") + number);
        package.entries.append(TestZipEntry{QByteArray("circulares/") + number + ".pdf", pdf});
        package.catalog.circulars.append(
            CatalogCircular{QString::fromLatin1(number),
                            QDate(2024, 1, 15),
                            sha256(pdf),
                            pdf.size(),
                            {},
                            {},
                            QStringLiteral("Circular %1").arg(QString::fromLatin1(number))});
    }
    return package;
}

QString TestSignedUpdates::write(Package package)
{
    const QString folder = m_root->filePath(QStringLiteral("firma"));
    QDir().mkpath(folder);
    const QString catalogPath = QDir(folder).filePath(QStringLiteral("catalogo.txt"));
    writeAll(catalogPath, package.catalog.text());
    QFile::remove(catalogPath + QStringLiteral(".minisig"));
    if (package.signCatalog) {
        QStringList arguments = {QStringLiteral("-S"), QStringLiteral("-s"),
                                 m_keys->filePath(package.signingKey + QStringLiteral(".key")),
                                 QStringLiteral("-m"), catalogPath};
        if (package.legacySignature) {
            arguments.append(QStringLiteral("-l"));
        }
        if (!minisign(arguments, folder)) {
            return {};
        }
        package.signature = readAll(catalogPath + QStringLiteral(".minisig"));
    }
    package.catalogText = readAll(catalogPath);
    if (package.afterSigning) {
        package.afterSigning(package);
    }
    QList<TestZipEntry> entries = package.entries;
    if (!package.catalogText.isEmpty()) {
        entries.append(TestZipEntry{"catalogo.txt", package.catalogText});
    }
    if (!package.signature.isEmpty()) {
        entries.append(TestZipEntry{"catalogo.txt.minisig", package.signature});
    }
    const QString zip = m_root->filePath(QStringLiteral("paquete.zip"));
    QFile::remove(zip);
    return writeTestZip(zip, entries) ? zip : QString();
}

void TestSignedUpdates::onlyWhatTheCatalogVouchesForInstalls_data()
{
    QTest::addColumn<std::function<void(Package &)>>("change");
    QTest::addColumn<QString>("refusal"); // empty: installs

    using Change = std::function<void(Package &)>;
    QTest::newRow("signed by the publisher") << Change([](Package &) {}) << QString();
    QTest::newRow("older kind of signature")
        << Change([](Package &p) { p.legacySignature = true; }) << QString();
    QTest::newRow("the same sequence again")
        << Change([](Package &p) { p.catalog.sequence = 5; }) << QString();
    QTest::newRow("unsigned") << Change([](Package &p) {
        p.signCatalog = false;
        p.afterSigning = [](Package &q) { q.catalogText.clear(); };
    }) << QStringLiteral("no trae el catálogo firmado");
    QTest::newRow("catalog without its signature")
        << Change([](Package &p) { p.signCatalog = false; })
        << QStringLiteral("no trae el catálogo firmado");
    QTest::newRow("signed with another key")
        << Change([](Package &p) { p.signingKey = QStringLiteral("intruso"); })
        << QStringLiteral("otra clave");
    QTest::newRow("a circular changed after signing") << Change([](Package &p) {
        p.afterSigning = [](Package &q) { q.entries[1].data = testPdf("falsificada"); };
    }) << QStringLiteral("«circulares/1002.pdf» no es el que firmó el publicador");
    QTest::newRow("the catalog changed after signing") << Change([](Package &p) {
        p.afterSigning = [](Package &q) {
            q.catalogText.replace("Circular 1002", "Circular 1003");
        };
    }) << QStringLiteral("la firma no corresponde");
    QTest::newRow("the trusted comment changed") << Change([](Package &p) {
        p.afterSigning = [](Package &q) {
            q.signature.replace("trusted comment: ", "trusted comment: x");
        };
    }) << QStringLiteral("comentario de confianza");
    QTest::newRow("a file the catalog does not list") << Change([](Package &p) {
        p.afterSigning = [](Package &q) {
            q.entries.append(TestZipEntry{"pagina/circulares.htm", "<html>falsa</html>"});
        };
    }) << QStringLiteral("«pagina/circulares.htm» no figura en el catálogo firmado");
    QTest::newRow("a signature file too large to be one") << Change([](Package &p) {
        p.afterSigning = [](Package &q) { q.signature += QByteArray(8192, '\n'); };
    }) << QStringLiteral("«catalogo.txt.minisig» es demasiado grande");
    QTest::newRow("expired") << Change([](Package &p) {
        p.catalog.validUntil = QDate::currentDate().addDays(-1);
    }) << QStringLiteral("venció");
    QTest::newRow("older than the one accepted")
        << Change([](Package &p) { p.catalog.sequence = 4; })
        << QStringLiteral("es anterior al que ya tiene la colección (número 5)");
}

void TestSignedUpdates::onlyWhatTheCatalogVouchesForInstalls()
{
    QFETCH(std::function<void(Package &)>, change);
    QFETCH(QString, refusal);

    // The collection already accepted the publisher's catalog number 5.
    Package accepted = goodPackage();
    accepted.catalog.sequence = 5;
    accepted.entries.removeLast();
    accepted.catalog.circulars.removeLast();
    accepted.entries.first().data = testPdf("1001");
    accepted.catalog.circulars.first().sha256 = sha256(testPdf("1001"));
    accepted.catalog.circulars.first().size = testPdf("1001").size();
    ZipPackageInstaller installer;
    const Collection collection(program());
    const QString first = write(accepted);
    QVERIFY(!first.isEmpty());
    QVERIFY(
        installer.install(first, program(), trustFor(collection, QDate::currentDate())).verified);

    Package package = goodPackage();
    change(package);
    const QString path = write(package);
    QVERIFY(!path.isEmpty());
    const QMap<QString, QByteArray> before = filesBelow(program());
    const InstallOutcome outcome =
        installer.install(path, program(), trustFor(collection, QDate::currentDate()));
    if (refusal.isEmpty()) {
        QVERIFY2(outcome.installed, qPrintable(outcome.message));
        QVERIFY(outcome.verified);
        QCOMPARE(readAll(program() + QStringLiteral("/circulares/1002.pdf")),
                 testPdf("circular 1002"));
        // The catalog stays with the collection, and the next package is judged against it.
        QCOMPARE(trustFor(collection, QDate::currentDate()).acceptedSequence,
                 std::optional<quint64>(package.catalog.sequence));
    } else {
        QVERIFY(!outcome.installed);
        QVERIFY2(outcome.reason.contains(refusal), qPrintable(outcome.reason));
        QVERIFY(outcome.message.contains(QStringLiteral("La colección no se modificó")));
        QCOMPARE(filesBelow(program()), before);
    }
}

void TestSignedUpdates::withoutTheKeyPackagesInstallUnverified()
{
    QVERIFY(QFile::remove(program() + QStringLiteral("/legisdis.pub")));
    Package package = goodPackage();
    package.signingKey = QStringLiteral("intruso"); // nothing to check it with
    ZipPackageInstaller installer;
    const InstallOutcome outcome = installer.install(
        write(package), program(), trustFor(Collection(program()), QDate::currentDate()));
    QVERIFY(outcome.installed);
    QVERIFY(!outcome.verified);
    QVERIFY(outcome.message.contains(QStringLiteral("No se pudo verificar")));
    // An unchecked catalog does not become the collection's.
    QVERIFY(!QFileInfo::exists(program() + QStringLiteral("/catalogo.txt")));
}

void TestSignedUpdates::theCommandLineInstallsAndRefusesAlike()
{
    QTemporaryDir home;
    const auto install = [&](const QString &package) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("datos")));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral("cache")));
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(LEGISDISCO_PROGRAM),
                      {QStringLiteral("--collection"), program(),
                       QStringLiteral("--install-package"), package});
        process.waitForFinished(60000);
        return std::make_pair(process.exitCode(),
                              QString::fromUtf8(process.readAllStandardError()));
    };
    Package forged = goodPackage();
    forged.signingKey = QStringLiteral("intruso");
    const QMap<QString, QByteArray> before = filesBelow(program());
    const auto [refusedCode, refusedError] = install(write(forged));
    QCOMPARE(refusedCode, 1);
    QVERIFY2(refusedError.contains(QStringLiteral("otra clave")), qPrintable(refusedError));
    QCOMPARE(filesBelow(program()), before);

    const auto [code, error] = install(write(goodPackage()));
    QCOMPARE(code, 0);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(readAll(program() + QStringLiteral("/circulares/1002.pdf")), testPdf("circular 1002"));
}

void TestSignedUpdates::verifyNamesWhatDiffersFromTheCatalog()
{
    const Collection collection(program());
    const auto verify = [&collection](QString *printed) {
        QString errors;
        QTextStream out(printed);
        QTextStream err(&errors);
        return verifyCommand(collection, QDate::currentDate(), out, err);
    };
    QString printed;
    QCOMPARE(verify(&printed), 1); // nothing accepted yet to compare with

    ZipPackageInstaller installer;
    QVERIFY(
        installer
            .install(write(goodPackage()), program(), trustFor(collection, QDate::currentDate()))
            .installed);
    printed.clear();
    QCOMPARE(verify(&printed), 0);

    QVERIFY(writeAll(program() + QStringLiteral("/circulares/1001.pdf"), testPdf("alterada")));
    QVERIFY(QFile::remove(program() + QStringLiteral("/circulares/1002.pdf")));
    QVERIFY(writeAll(program() + QStringLiteral("/circulares/9999.pdf"), testPdf("9999")));
    printed.clear();
    QCOMPARE(verify(&printed), 1);
    QCOMPARE(printed.split(u'\n', Qt::SkipEmptyParts),
             QStringList({QStringLiteral("modificado\tcirculares/1001.pdf"),
                          QStringLiteral("falta\tcirculares/1002.pdf"),
                          QStringLiteral("no figura en el catálogo\tcirculares/9999.pdf")}));
}

void TestSignedUpdates::theWindowTakesOnlyThePublishersPackages_data()
{
    QTest::addColumn<QString>("signingKey");
    QTest::addColumn<bool>("installs");
    QTest::newRow("the publisher's key") << QStringLiteral("editor") << true;
    QTest::newRow("another key") << QStringLiteral("intruso") << false;
}

void TestSignedUpdates::theWindowTakesOnlyThePublishersPackages()
{
    // The reference server carries its folder's signed catalog in every package; the
    // update window, driven as a reader does, installs what the publisher signed only.
    QFETCH(QString, signingKey);
    QFETCH(bool, installs);
    QTemporaryDir served;
    Catalog catalog;
    catalog.sequence = 3;
    catalog.validUntil = QDate::currentDate().addDays(30);
    for (const char *number : {"1001", "1002"}) {
        const QByteArray pdf = testPdf(QByteArray("servida ") + number);
        QVERIFY(writeAll(served.filePath(QLatin1String(number) + QStringLiteral(".pdf")), pdf));
        catalog.circulars.append(
            CatalogCircular{QString::fromLatin1(number),
                            QDate(2024, 2, 1),
                            sha256(pdf),
                            pdf.size(),
                            {},
                            {},
                            QStringLiteral("Título de ") + QLatin1String(number)});
    }
    QVERIFY(writeAll(served.filePath(QStringLiteral("catalogo.txt")), catalog.text()));
    QVERIFY(minisign({QStringLiteral("-S"), QStringLiteral("-s"),
                      m_keys->filePath(signingKey + QStringLiteral(".key")), QStringLiteral("-m"),
                      served.filePath(QStringLiteral("catalogo.txt"))},
                     served.path()));
    UpdateServer server(served.path());
    QVERIFY(server.listen());

    TestPlatform p;
    p.writeFile(QStringLiteral("circulares/1001.pdf"), testPdf("servida 1001"));
    QVERIFY(QFile::copy(m_keys->filePath(QStringLiteral("editor.pub")),
                        QDir(p.folder()).filePath(QStringLiteral("legisdis.pub"))));
    p.writeSettings("[http]\r\nactualizacion=" + server.baseUrl().toString().toUtf8() + "\r\n");
    const QMap<QString, QByteArray> before = filesBelow(p.folder());
    QtUpdateFeed feed(ProxyRecord{ProxyAccess::Direct, {}, {}});
    p.updateFeed = &feed;
    frmActualiza form(p.withRealBrowser(), p.folder(), nullptr);
    form.show();
    QTRY_VERIFY_WITH_TIMEOUT(form.btnOK->isEnabled(), 30000);
    QTest::mouseClick(form.btnOK, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(form.btnActualiza->isEnabled(), 30000);
    // The list names what the publisher signed; the request asks by number all the same.
    QCOMPARE(form.listVersion->count(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(
        form.listVersion->item(0)->text(),
        installs ? QStringLiteral("1002 — Título de 1002") : QStringLiteral("1002"), 30000);
    QVERIFY(form.actURL.endsWith(QLatin1String("Numeros=1002")));
    DownloadAnswerer answerer("saveButton");
    QTest::mouseClick(form.btnActualiza, Qt::LeftButton);

    QCOMPARE(p.messages.shown.size(), 1);
    const QString message = p.messages.shown.first().text;
    QCOMPARE(form.installed(), installs);
    if (installs) {
        QCOMPARE(message,
                 QStringLiteral("Se instaló 1 circular nueva en la colección:\n• Circular 1002: "
                                "Título de 1002"));
        QCOMPARE(readAll(QDir(p.folder()).filePath(QStringLiteral("circulares/1002.pdf"))),
                 testPdf("servida 1002"));
    } else {
        QVERIFY2(message.contains(QStringLiteral("otra clave")), qPrintable(message));
        QVERIFY2(message.contains(QStringLiteral("La colección no se modificó")),
                 qPrintable(message));
        QCOMPARE(filesBelow(p.folder()), before);
    }
}

void TestSignedUpdates::theStartupCheckTellsOfSignedNewsOnly_data()
{
    QTest::addColumn<QStringList>("served"); // the circulars the server's catalog lists
    QTest::addColumn<QString>("signingKey");
    QTest::addColumn<bool>("serverUp");
    QTest::addColumn<QString>("notice"); // empty: none shown
    QTest::newRow("two new") << QStringList{QStringLiteral("1001"), QStringLiteral("1002"),
                                            QStringLiteral("1003")}
                             << QStringLiteral("editor") << true
                             << QStringLiteral("Hay 2 circulares nuevas.");
    QTest::newRow("nothing new") << QStringList{QStringLiteral("1001")} << QStringLiteral("editor")
                                 << true << QString();
    QTest::newRow("signed by another key")
        << QStringList{QStringLiteral("1001"), QStringLiteral("1002")} << QStringLiteral("intruso")
        << true << QString();
    QTest::newRow("server not there") << QStringList{QStringLiteral("1001"), QStringLiteral("1002")}
                                      << QStringLiteral("editor") << false << QString();
}

void TestSignedUpdates::theStartupCheckTellsOfSignedNewsOnly()
{
    // The main window, started as a reader starts it, asks the reference server in the
    // background and says so only for circulars the publisher signed and the reader lacks.
    QFETCH(QStringList, served);
    QFETCH(QString, signingKey);
    QFETCH(bool, serverUp);
    QFETCH(QString, notice);
    QTemporaryDir folder;
    Catalog catalog;
    catalog.sequence = 4;
    catalog.validUntil = QDate::currentDate().addDays(30);
    for (const QString &number : served) {
        const QByteArray pdf = testPdf("servida " + number.toLatin1());
        QVERIFY(writeAll(folder.filePath(number + QStringLiteral(".pdf")), pdf));
        catalog.circulars.append(
            CatalogCircular{number, QDate(2024, 2, 1), sha256(pdf), pdf.size(), {}, {}, number});
    }
    QVERIFY(writeAll(folder.filePath(QStringLiteral("catalogo.txt")), catalog.text()));
    QVERIFY(minisign({QStringLiteral("-S"), QStringLiteral("-s"),
                      m_keys->filePath(signingKey + QStringLiteral(".key")), QStringLiteral("-m"),
                      folder.filePath(QStringLiteral("catalogo.txt"))},
                     folder.path()));
    auto server = std::make_unique<UpdateServer>(folder.path());
    QVERIFY(server->listen());
    const QUrl base = server->baseUrl();
    if (!serverUp) {
        server.reset(); // nothing listens at its address any more
    }

    TestPlatform p;
    p.writeFile(QStringLiteral("circulares/1001.pdf"), testPdf("servida 1001"));
    QVERIFY(QFile::copy(m_keys->filePath(QStringLiteral("editor.pub")),
                        QDir(p.folder()).filePath(QStringLiteral("legisdis.pub"))));
    p.writeSettings("[http]\r\nactualizacion=" + base.toString().toUtf8() + "\r\n");
    QtUpdateFeed feed(ProxyRecord{ProxyAccess::Direct, {}, {}});
    p.updateFeed = &feed;
    const QMap<QString, QByteArray> before = filesBelow(p.folder());

    for (int start = 0; start < 2; ++start) {
        frmBrowser window(p.withFakeBrowser(), Collection(p.folder()));
        QSignalSpy finished(window.findChild<StartupCheck *>(), &StartupCheck::finished);
        QVERIFY(window.Form_Load());
        window.show();
        // The start-up waits for nothing: the check runs once the first page is there.
        QTest::qWait(100);
        QCOMPARE(finished.count(), 0);
        emit window.WebBrowser1->DocumentComplete(window.initPage());
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 20000);
        QCOMPARE(window.notice->isVisible(), !notice.isEmpty() && start == 0);
        if (start == 0 && !notice.isEmpty()) {
            QCOMPARE(window.notice->lblAviso->text(), notice);
        }
        // Once a day: the second start of the day tells nothing more.
        QVERIFY2(p.messages.shown.isEmpty(), qPrintable(p.messages.texts().join(u'\n')));
    }
    // A check installs nothing.
    QMap<QString, QByteArray> after = filesBelow(p.folder());
    after.remove(QStringLiteral("legisdis.ini"));
    after.remove(QStringLiteral("pagina/circulares.htm"));
    QMap<QString, QByteArray> expected = before;
    expected.remove(QStringLiteral("legisdis.ini"));
    QCOMPARE(after.keys(), expected.keys());
}

void TestSignedUpdates::aSearchSaysWhenACircularWasRepealed()
{
    // The collection's signed catalog says that 1006 repeals 1002 and 1004 amends 1003.
    Catalog catalog;
    catalog.sequence = 5;
    catalog.validUntil = QDate::currentDate().addDays(30);
    for (const char *number : {"1002", "1003", "1004", "1006"}) {
        const QString name = QString::fromLatin1(number);
        const QString path =
            program() + QStringLiteral("/circulares/") + name + QStringLiteral(".pdf");
        QVERIFY(writeTestPdf(path, {QStringLiteral("Horario de negociación, circular ") + name}));
        const QByteArray pdf = readAll(path);
        catalog.circulars.append(CatalogCircular{name,
                                                 QDate(2024, 3, 4),
                                                 sha256(pdf),
                                                 pdf.size(),
                                                 {},
                                                 {},
                                                 QStringLiteral("Circular ") + name});
    }
    catalog.circulars[2].amends = QStringList{QStringLiteral("1003")};
    catalog.circulars[3].repeals = QStringList{QStringLiteral("1002")};
    QVERIFY(writeAll(program() + QStringLiteral("/catalogo.txt"), catalog.text()));
    QVERIFY(minisign({QStringLiteral("-S"), QStringLiteral("-s"),
                      m_keys->filePath(QStringLiteral("editor.key")), QStringLiteral("-m"),
                      program() + QStringLiteral("/catalogo.txt")},
                     program()));
    QVERIFY(QFile::remove(program() + QStringLiteral("/circulares/1001.pdf")));

    QString text;
    QString errors;
    QTextStream out(&text);
    QTextStream err(&errors);
    QCOMPARE(runSearchCommand(Collection(program()), m_root->filePath(QStringLiteral("indice")),
                              QStringLiteral("negociación"), 0, out, err),
             0);
    QMap<QString, QString> status; // by circular
    for (const QString &line : text.split(u'\n', Qt::SkipEmptyParts)) {
        const QStringList fields = line.split(u'\t');
        QCOMPARE(fields.size(), 4);
        status.insert(fields[0].section(u'#', 0, 0), fields[3]);
    }
    const QMap<QString, QString> expected{
        {QStringLiteral("circulares/1002.pdf"), QStringLiteral("Derogada por la Circular 1006")},
        {QStringLiteral("circulares/1003.pdf"), QStringLiteral("Modificada por la Circular 1004")},
        {QStringLiteral("circulares/1004.pdf"), QStringLiteral("Vigente")},
        {QStringLiteral("circulares/1006.pdf"), QStringLiteral("Vigente")},
    };
    QCOMPARE(status, expected);
}

// "Nueva" stays on a circular that arrived until the reader opens the index, start after
// start, as the collection's signed catalog describes it.
void TestSignedUpdates::newUntilTheIndexIsOpened()
{
    Catalog catalog;
    catalog.sequence = 2;
    catalog.validUntil = QDate::currentDate().addDays(30);
    for (const char *number : {"1001", "1002"}) {
        catalog.circulars.append(
            CatalogCircular{QString::fromLatin1(number),
                            QDate(2024, 1, 15),
                            sha256(testPdf(number)),
                            10,
                            {},
                            {},
                            QStringLiteral("Título %1").arg(QLatin1String(number))});
    }
    QVERIFY(writeAll(program() + QStringLiteral("/catalogo.txt"), catalog.text()));
    QVERIFY(minisign({QStringLiteral("-S"), QStringLiteral("-s"),
                      m_keys->filePath(QStringLiteral("editor.key")), QStringLiteral("-m"),
                      program() + QStringLiteral("/catalogo.txt")},
                     program()));
    const Collection collection(program());
    QtPdfDocuments pdf;
    const auto row = [this](const char *number) {
        const QString page =
            QString::fromUtf8(readAll(program() + QStringLiteral("/pagina/circulares.htm")));
        const qsizetype at = page.indexOf(
            QStringLiteral("<tr><td><a href=\"../circulares/%1.pdf\">").arg(QLatin1String(number)));
        return at < 0 ? QString() : page.mid(at, page.indexOf(QLatin1String("</tr>"), at) - at);
    };

    refreshCircularIndex(collection, pdf); // the first start: what is there is known
    QVERIFY(row("1001").contains(QStringLiteral("Título 1001")));
    QVERIFY(!row("1001").contains(QStringLiteral("Nueva")));
    QVERIFY(row("1002").isEmpty());

    QVERIFY(writeAll(program() + QStringLiteral("/circulares/1002.pdf"), testPdf("1002")));
    refreshCircularIndex(collection, pdf); // a later start: 1002 arrived meanwhile
    QVERIFY(row("1002").contains(QStringLiteral("Nueva")));
    QVERIFY(!row("1001").contains(QStringLiteral("Nueva")));
    refreshCircularIndex(collection, pdf); // and another, the index not opened yet
    QVERIFY(row("1002").contains(QStringLiteral("Nueva")));

    markCircularsSeen(collection);
    refreshCircularIndex(collection, pdf);
    QVERIFY(!row("1002").isEmpty());
    QVERIFY(!row("1002").contains(QStringLiteral("Nueva")));
}

QTEST_MAIN(TestSignedUpdates)
#include "tst_signedupdates.moc"
