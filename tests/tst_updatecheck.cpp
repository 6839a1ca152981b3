#include "download.h"
#include "fakedownloads.h"
#include "qtwindowservice.h"
#include "updatecheck.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestUpdateCheck : public QObject {
    Q_OBJECT

    static void touch(const QString &path)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

private slots:
    void serverListSplitsAtEveryComma()
    {
        QCOMPARE(splitServerList(QString()), QStringList());
        QCOMPARE(
            splitServerList(QStringLiteral("101,102, 103")),
            (QStringList{QStringLiteral("101"), QStringLiteral("102"), QStringLiteral(" 103")}));
        QCOMPARE(splitServerList(QStringLiteral("7,8,")),
                 (QStringList{QStringLiteral("7"), QStringLiteral("8"), QString()}));
        QCOMPARE(splitServerList(QStringLiteral(",,")).size(), 3);
    }

    void findInListIsExactAfterTrimmingSpaces()
    {
        const QSet<QString> local =
            localNameSet({QStringLiteral("abc"), QStringLiteral(" 12 "), QStringLiteral("101")});
        QVERIFY(!FindInList(QStringLiteral("ABC"), local));
        QVERIFY(FindInList(QStringLiteral("abc"), local));
        QVERIFY(!FindInList(QStringLiteral("012"), local));
        QVERIFY(FindInList(QStringLiteral("12"), local));
        QVERIFY(FindInList(QStringLiteral("  101 "), local));
        QVERIFY(!FindInList(QStringLiteral("\t101"), local));
        QVERIFY(!FindInList(QStringLiteral("101\n"), local));
        QVERIFY(!FindInList(QString(), local));
        QVERIFY(FindInList(QString(), localNameSet({QStringLiteral("  ")})));
    }

    void missingKeepsServerOrderAndText()
    {
        QCOMPARE(
            missingCirculars({QStringLiteral("101"), QStringLiteral("102"), QStringLiteral(" 103")},
                             {QStringLiteral("101"), QStringLiteral("103")}),
            QStringList{QStringLiteral("102")});
        QCOMPARE(missingCirculars({QStringLiteral("7"), QStringLiteral("8"), QString()}, {}),
                 (QStringList{QStringLiteral("7"), QStringLiteral("8"), QString()}));
        QCOMPARE(missingCirculars({QStringLiteral(" 9"), QStringLiteral("9")}, {}),
                 (QStringList{QStringLiteral(" 9"), QStringLiteral("9")}));
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
        QCOMPARE(packagePath(folder, QString()), QStringLiteral("/opt/legisdisco/"));
        QCOMPARE(TrimAtNull(QStringLiteral("abc") + QChar(u'\0') + QStringLiteral("def")),
                 QStringLiteral("abc"));
        QCOMPARE(TrimAtNull(QStringLiteral("abc")), QStringLiteral("abc"));
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
        DownloadFile({folders, download, windows},
                     {QString(), QStringLiteral("/p"), QStringLiteral("https://h/p.zip")});
        QCOMPARE(download.started, QStringList{QStringLiteral("https://h/p.zip")});
    }
};

QTEST_MAIN(TestUpdateCheck)
#include "tst_updatecheck.moc"
