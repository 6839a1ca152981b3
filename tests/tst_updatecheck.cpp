#include "download.h"
#include "downloadnames.h"
#include "fakedownloads.h"
#include "qtwindowservice.h"
#include "updatecheck.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

class TestUpdateCheck : public QObject {
    Q_OBJECT

    static void touch(const QString &path)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

private slots:
    // The server's list as the window reads it, against the circulars at hand: what is
    // missing, in the server's order and spelling. Only spaces around an item are ignored.
    void missingFromTheServerList_data()
    {
        QTest::addColumn<QString>("serverList");
        QTest::addColumn<QStringList>("local");
        QTest::addColumn<QStringList>("missing");
        const auto s = [](const char *text) { return QString::fromUtf8(text); };
        QTest::newRow("nothing offered") << QString() << QStringList{s("101")} << QStringList();
        QTest::newRow("spaces around an item")
            << s("101,102, 103,  104 ") << QStringList{s("101"), s(" 103"), s("104")}
            << QStringList{s("102")};
        QTest::newRow("other blanks count")
            << s("\t101,101\n") << QStringList{s("101")} << QStringList{s("\t101"), s("101\n")};
        QTest::newRow("letter case")
            << s("ABC,abc") << QStringList{s("abc")} << QStringList{s("ABC")};
        QTest::newRow("leading zero")
            << s("012,12") << QStringList{s(" 12 ")} << QStringList{s("012")};
        QTest::newRow("one number spelled twice")
            << s(" 9,9") << QStringList() << QStringList{s(" 9"), s("9")};
        QTest::newRow("trailing comma")
            << s("7,8,") << QStringList() << QStringList{s("7"), s("8"), QString()};
        QTest::newRow("empty item, no blank name")
            << s("1,") << QStringList{s("1")} << QStringList{QString()};
        QTest::newRow("empty item, a blank name")
            << s("1,") << QStringList{s("1"), s("  ")} << QStringList();
    }

    void missingFromTheServerList()
    {
        QFETCH(QString, serverList);
        QFETCH(QStringList, local);
        QFETCH(QStringList, missing);
        QCOMPARE(missingCirculars(splitServerList(serverList), local), missing);
    }

    void localListHoldsVisiblePdfFilesOnly()
    {
        QTemporaryDir dir;
        QCOMPARE(localCircularNames(dir.filePath(QStringLiteral("circulares"))), QStringList());
        QDir(dir.path()).mkpath(QStringLiteral("circulares/carpeta.pdf"));
        const QString folder = dir.filePath(QStringLiteral("circulares"));
        touch(folder + QStringLiteral("/101.pdf"));
        touch(folder + QStringLiteral("/103.PDF"));
        touch(folder + QStringLiteral("/.oculta.pdf"));
        touch(folder + QStringLiteral("/nota.txt"));
        touch(folder + QStringLiteral("/doble.pdf.bak"));
        QCOMPARE(localCircularNames(folder),
                 (QStringList{QStringLiteral("101"), QStringLiteral("103")}));
    }

    void requestAddresses_data()
    {
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<QString>("expected");
        const QString p = QStringLiteral("http://h/act/");
        QTest::newRow("one") << p << QStringList{QStringLiteral("102")}
                             << p + QStringLiteral("archivoValores.asp?Numeros=102");
        QTest::newRow("two") << p << QStringList{QStringLiteral("101"), QStringLiteral("102")}
                             << p + QStringLiteral("archivoValores.asp?Numeros=101,102");
        QTest::newRow("trailing empty item")
            << p << QStringList{QStringLiteral("7"), QStringLiteral("8"), QString()}
            << p + QStringLiteral("archivoValores.asp?Numeros=7,8,");
        QTest::newRow("no separator added")
            << QStringLiteral("http://h/act") << QStringList{QStringLiteral("1")}
            << QStringLiteral("http://h/actarchivoValores.asp?Numeros=1");
        QTest::newRow("characters that change the request")
            << p << QStringList{QStringLiteral("A&B"), QStringLiteral("año 1"),
                                QStringLiteral("x+y"), QStringLiteral("50%"),
                                QStringLiteral("#1"),  QStringLiteral("a-b_c.d~(1)")}
            << p + QStringLiteral("archivoValores.asp?Numeros=A%26B,a%C3%B1o%201,x%2By,50%25,%231,"
                                  "a-b_c.d~(1)");
    }

    void requestAddresses()
    {
        QFETCH(QString, prefix);
        QFETCH(QStringList, items);
        QFETCH(QString, expected);
        QCOMPARE(requestAddress(prefix, items), expected);
    }

    void packagePaths()
    {
        const QString folder = QStringLiteral("/opt/legisdisco");
        QCOMPARE(packagePath(folder, QStringLiteral("http://h/files/package.exe")),
                 QStringLiteral("/opt/legisdisco/package.exe"));
        QCOMPARE(packagePath(folder, QStringLiteral("package.exe")),
                 QStringLiteral("/opt/legisdisco/package.exe"));
        QCOMPARE(packagePath(folder, QStringLiteral("http://h/get?id=1")),
                 QStringLiteral("/opt/legisdisco/get?id=1"));
        QCOMPARE(packagePath(folder, QString()), QStringLiteral("/opt/legisdisco/descarga"));
        QCOMPARE(TrimAtNull(QStringLiteral("abc") + QChar(u'\0') + QStringLiteral("def")),
                 QStringLiteral("abc"));
        QCOMPARE(TrimAtNull(QStringLiteral("abc")), QStringLiteral("abc"));
    }

    void downloadNamesAreSafe_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("name");
        QTest::newRow("plain") << QStringLiteral("http://h/paquetes/a.zip")
                               << QStringLiteral("a.zip");
        QTest::newRow("encoded") << QStringLiteral("http://h/p/paquete%20nuevo.zip")
                                 << QStringLiteral("paquete nuevo.zip");
        QTest::newRow("encoded parent")
            << QStringLiteral("http://h/p/%2E%2E") << QStringLiteral("descarga");
        QTest::newRow("dot") << QStringLiteral("http://h/p/.") << QStringLiteral("descarga");
        QTest::newRow("encoded separator") << QStringLiteral("http://h/p/..%2F..%2Flegisdisco")
                                           << QStringLiteral("_._.._legisdisco");
        QTest::newRow("backslash")
            << QStringLiteral("http://h/p/a%5Cb.zip") << QStringLiteral("a_b.zip");
        QTest::newRow("control") << QStringLiteral("http://h/p/a%0Ab.zip")
                                 << QStringLiteral("a_b.zip");
        QTest::newRow("hidden") << QStringLiteral("http://h/p/.bashrc")
                                << QStringLiteral("_bashrc");
        QTest::newRow("folder link") << QStringLiteral("http://h/p/") << QStringLiteral("descarga");
    }

    void downloadNamesAreSafe()
    {
        QFETCH(QString, link);
        QFETCH(QString, name);
        QCOMPARE(DownloadNames::safeName(link), name);
    }

    void longDownloadNamesKeepTheirExtensionAndWholeCharacters()
    {
        const QString stem = QString(200, u'ñ'); // 400 bytes in UTF-8
        const QString name =
            DownloadNames::safeName(QStringLiteral("http://h/") + stem + QStringLiteral(".zip"));
        QVERIFY(name.toUtf8().size() <= 255);
        QVERIFY(name.endsWith(QLatin1String(".zip")));
        QCOMPARE(name, QString(125, u'ñ') + QStringLiteral(".zip"));
    }

    void freshPathsNeverNameWhatExists()
    {
        QTemporaryDir dir;
        const auto make = [&dir](const QString &name) {
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        };
        QCOMPARE(DownloadNames::freshPath(dir.path(), QStringLiteral("p.zip")),
                 dir.filePath(QStringLiteral("p.zip")));
        make(QStringLiteral("p.zip"));
        make(QStringLiteral("p (1).zip"));
        QCOMPARE(DownloadNames::freshPath(dir.path(), QStringLiteral("p.zip")),
                 dir.filePath(QStringLiteral("p (2).zip")));
        QVERIFY(QDir().mkdir(dir.filePath(QStringLiteral("carpeta"))));
        QCOMPARE(DownloadNames::freshPath(dir.path(), QStringLiteral("carpeta")),
                 dir.filePath(QStringLiteral("carpeta (1)")));
        // The collection's own names are never taken, existing or not.
        for (const char *own : {"legisdisco", "legisdis.ini", "circulares", "pagina", "sistemas",
                                "legisdis.pub", "catalogo.txt", "CATALOGO.TXT.minisig"}) {
            const QString path = DownloadNames::freshPath(dir.path(), QLatin1String(own));
            QVERIFY2(path != dir.filePath(QLatin1String(own)), own);
        }
        QCOMPARE(DownloadNames::freshPath(dir.path(), QStringLiteral("legisdis.ini")),
                 dir.filePath(QStringLiteral("legisdis (1).ini")));
    }

    void requestsAreCutToWhatAServerTakes()
    {
        const QString prefix = QStringLiteral("http://h/act/");
        QStringList ids;
        for (int i = 0; i < 100000; ++i) {
            ids.append(QString::number(100000 + i));
        }
        const qsizetype fitting = identifiersThatFit(prefix, ids);
        const QString address = requestAddress(prefix, ids.first(fitting));
        QVERIFY(address.toUtf8().size() <= maxRequestAddressBytes);
        QVERIFY(requestAddress(prefix, ids.first(fitting + 1)).toUtf8().size() >
                maxRequestAddressBytes);
        // Encoded characters count as sent.
        const QStringList spaced{QStringLiteral("a b"), QStringLiteral("ñ")};
        const qsizetype exact = requestAddress(prefix, spaced).toUtf8().size();
        QCOMPARE(identifiersThatFit(prefix, spaced, exact), 2);
        QCOMPARE(identifiersThatFit(prefix, spaced, exact - 1), 1);
        QCOMPARE(identifiersThatFit(QString(9000, u'x'), spaced), 0);
    }

    void downloadFolderIsWrittenOnlyWhenItDiffers()
    {
        FakeDownloadFolderStore folders;
        FakeFileDownload download;
        QtWindowService windows;
        const DownloadRequest request{QStringLiteral("Legisdisco"), QStringLiteral("/Opt/Programa"),
                                      QStringLiteral("http://h/p.zip")};

        DownloadFile({folders, download, windows}, request); // nothing stored yet
        QCOMPARE(folders.writes, QStringList{QStringLiteral("/Opt/Programa")});
        QCOMPARE(download.started, QStringList{QStringLiteral("http://h/p.zip")});

        folders.stored = QStringLiteral("/opt/programa");
        DownloadFile({folders, download, windows}, request);
        QCOMPARE(folders.writes.size(), 1);

        folders.stored = QStringLiteral("/otra");
        folders.refuse = true; // a refused write does not stop the download
        DownloadFile({folders, download, windows}, request);
        QCOMPARE(folders.writes.size(), 2);
        QCOMPARE(download.started.size(), 3);
    }

    void onlyWebAddressesAreDownloaded()
    {
        FakeDownloadFolderStore folders;
        FakeFileDownload download;
        QtWindowService windows;
        for (const QString &url : {QString(), QStringLiteral("javascript:alert(1)"),
                                   QStringLiteral("file:///etc/passwd"), QStringLiteral("p.zip")}) {
            DownloadFile({folders, download, windows},
                         {QStringLiteral("Legisdisco"), QStringLiteral("/p"), url});
        }
        QVERIFY(download.started.isEmpty());
        // Nor is a download dialog that is open meanwhile (another download's) taken over.
        QWidget other;
        other.setProperty(windowClassProperty(), DownloadDialogWindow::windowClass());
        other.setWindowTitle(DownloadDialogWindow::title());
        other.show();
        const DownloadResult refused = DownloadFile(
            {folders, download, windows},
            {QStringLiteral("Legisdisco"), QStringLiteral("/p"), QStringLiteral("p.zip")});
        QCOMPARE(refused.status, DownloadResult::Status::Failed);
        QCOMPARE(other.windowTitle(), DownloadDialogWindow::title());
        other.close();
        DownloadFile({folders, download, windows},
                     {QString(), QStringLiteral("/p"), QStringLiteral("https://h/p.zip")});
        QCOMPARE(download.started, QStringList{QStringLiteral("https://h/p.zip")});
    }
};

QTEST_MAIN(TestUpdateCheck)
#include "tst_updatecheck.moc"
