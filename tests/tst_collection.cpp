#include "collection.h"
#include "collectioninterceptor.h"
#include "downloadanswerer.h"
#include "frmactualiza.h"
#include "iniprofilefile.h"
#include "lockfileinstanceguard.h"
#include "qtwebbrowser.h"
#include "searchindex.h"
#include "testfiles.h"
#include "testplatform.h"
#include "testzip.h"
#include "updateserver.h"
#include "zippackageinstaller.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWebEngineProfile>

namespace {
constexpr int loadTimeout = 30000;

void write(const QString &path, const QByteArray &bytes, int secondsAgo)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QVERIFY(writeAll(path, bytes));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-secondsAgo),
                             QFileDevice::FileModificationTime));
}
} // namespace

// The collection a reader sees: the program folder with the user's own folder
// laid over it, the newer file winning.
class TestCollection : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_root = std::make_unique<QTemporaryDir>();
        m_program = m_root->filePath(QStringLiteral("programa"));
        m_user = m_root->filePath(QStringLiteral("usuario"));
        write(m_program + QStringLiteral("/pagina/maincd.htm"),
              "<html><head><title>instalada</title></head><body>"
              "<a id='c' href='../circulares/4001.pdf'>4001</a>"
              "<a id='v' href='../circulares/1001.pdf'>1001</a></body></html>",
              3600);
        write(m_program + QStringLiteral("/circulares/1001.pdf"), testPdf("1001 instalada"), 3600);
        write(m_program + QStringLiteral("/circulares/1002.pdf"), testPdf("1002 instalada"), 60);
        write(m_user + QStringLiteral("/circulares/1002.pdf"), testPdf("1002 vieja del usuario"),
              600);
        write(m_user + QStringLiteral("/circulares/4001.pdf"), testPdf("4001 del usuario"), 10);
        write(m_user + QStringLiteral("/pagina/maincd.htm"),
              "<html><head><title>actualizada</title></head><body>"
              "<a id='v' href='../circulares/1001.pdf'>1001</a></body></html>",
              10);
        write(m_user + QStringLiteral("/.instalando-x/circulares/9.pdf"), testPdf("a medias"), 1);
    }

    void theNewerCopyWins()
    {
        const Collection c(m_program, m_user);
        QCOMPARE(c.resolve(QStringLiteral("pagina/maincd.htm")),
                 m_user + QStringLiteral("/pagina/maincd.htm"));
        QCOMPARE(c.resolve(QStringLiteral("circulares/1002.pdf")),
                 m_program + QStringLiteral("/circulares/1002.pdf"));
        QCOMPARE(c.resolve(QStringLiteral("circulares/1001.pdf")),
                 m_program + QStringLiteral("/circulares/1001.pdf"));
        QCOMPARE(c.resolve(QStringLiteral("circulares/4001.pdf")),
                 m_user + QStringLiteral("/circulares/4001.pdf"));
        QCOMPARE(c.installFolder(), m_user);
        QCOMPARE(Collection(m_program).installFolder(), m_program);
        QCOMPARE(Collection(m_program).resolve(QStringLiteral("circulares/4001.pdf")),
                 m_program + QStringLiteral("/circulares/4001.pdf"));

        QMap<QString, QString> seen;
        for (const CollectionFile &file : c.files(QStringLiteral("circulares"))) {
            seen.insert(file.relativePath, file.absolutePath);
        }
        QCOMPARE(seen.keys(), (QStringList{QStringLiteral("circulares/1001.pdf"),
                                           QStringLiteral("circulares/1002.pdf"),
                                           QStringLiteral("circulares/4001.pdf")}));
        QCOMPARE(seen.value(QStringLiteral("circulares/1002.pdf")),
                 m_program + QStringLiteral("/circulares/1002.pdf"));
        QCOMPARE(c.relativePathOf(m_user + QStringLiteral("/pagina/x.htm")),
                 QStringLiteral("pagina/x.htm"));
        QVERIFY(c.relativePathOf(m_root->filePath(QStringLiteral("programa2/x"))).isEmpty());
    }

    void theNewerPublicationWinsAfterAnUpgrade_data()
    {
        // When each copy was published: the user's, installed by an update,
        // then the program folder's, brought by an upgrade done later.
        QTest::addColumn<int>("userDaysAgo");
        QTest::addColumn<int>("programDaysAgo");
        QTest::addColumn<bool>("byPackageManager"); // the upgrade keeps the package's times
        QTest::addColumn<QByteArray>("shown");
        QTest::newRow("a newer revision through the package manager")
            << 365 << 30 << true << QByteArray("programa");
        QTest::newRow("a newer revision through --install-package")
            << 365 << 30 << false << QByteArray("programa");
        QTest::newRow("an older one through the package manager")
            << 30 << 365 << true << QByteArray("usuario");
        QTest::newRow("an older one through --install-package")
            << 30 << 365 << false << QByteArray("usuario");
    }

    void theNewerPublicationWinsAfterAnUpgrade()
    {
        QFETCH(int, userDaysAgo);
        QFETCH(int, programDaysAgo);
        QFETCH(bool, byPackageManager);
        QFETCH(QByteArray, shown);
        const QString circular = QStringLiteral("circulares/5001.pdf");
        const QDateTime now = QDateTime::currentDateTime();
        const auto package = [&](const QByteArray &from, int daysAgo) {
            const QString zip = m_root->filePath(QString::fromLatin1(from + ".zip"));
            const bool written = writeTestZip(
                zip, {{circular.toUtf8(), testPdf(from), 0100644, false, now.addDays(-daysAgo)}});
            return written ? zip : QString();
        };
        ZipPackageInstaller installer;
        QVERIFY(
            installer.install(package("usuario", userDaysAgo), m_user, PackageTrust()).installed);
        if (byPackageManager) {
            write(m_program + u'/' + circular, testPdf("programa"), programDaysAgo * 86400);
        } else {
            QVERIFY(
                installer.install(package("programa", programDaysAgo), m_program, PackageTrust())
                    .installed);
        }
        QCOMPARE(readAll(Collection(m_program, m_user).resolve(circular)), testPdf(shown));
    }

    void aReadOnlyProgramFolderGetsAUserFolderNamedLikeTheSettingsCopy()
    {
        const QString data = m_root->filePath(QStringLiteral("datos"));
        const QString user = Collection::userFolderFor(m_program, data);
        QVERIFY(user.startsWith(data + u'/'));
        QCOMPARE(user, Collection::userFolderFor(m_program + QStringLiteral("/."), data));
        QVERIFY(user != Collection::userFolderFor(m_user, data));
        QVERIFY(Collection::forUser(m_program, data).userFolder().isEmpty()); // writable here
    }

    // Everything kept for a collection outside it is named by its identity, so a link
    // to the folder, or a path with "." and "..", reaches the same lock, per-user
    // folder, settings copy and index as the folder's own path.
    void everyRouteToAFolderIsOneCollection_data()
    {
        QTest::addColumn<QString>("route"); // from the folder that holds the collection
        QTest::newRow("link") << QStringLiteral("enlace");
        QTest::newRow("dot") << QStringLiteral("programa/.");
        QTest::newRow("dot-dot") << QStringLiteral("programa/pagina/..");
    }

    void everyRouteToAFolderIsOneCollection()
    {
        QFETCH(QString, route);
        QVERIFY(QFile::link(m_program, m_root->filePath(QStringLiteral("enlace"))));
        route = m_root->filePath(route);
        const QString data = m_root->filePath(QStringLiteral("datos"));
        const QString cache = m_root->filePath(QStringLiteral("cache"));
        const IniProfileFile profile(data);
        const auto named = [&](const QString &folder) {
            const Collection collection(folder, Collection::userFolderFor(folder, data));
            return QStringList{LockFileInstanceGuard::lockPathFor(collection.id()),
                               collection.userFolder(),
                               profile.overlayPath(folder + QStringLiteral("/legisdis.ini")),
                               indexFolderFor(collection, cache)};
        };
        QCOMPARE(named(route), named(m_program));
        QVERIFY(named(m_user) != named(m_program));
    }

    // Per-user folders and settings copies made by earlier versions keep their names,
    // and an index under its earlier name is taken over.
    void earlierNamesStillServe()
    {
        const QString folder = QStringLiteral("/srv/normativa");
        QCOMPARE(CollectionId::of(folder).key(), QStringLiteral("41bf65b83cfe9341"));
        QCOMPARE(Collection::userFolderFor(folder, QStringLiteral("/datos")),
                 QStringLiteral("/datos/41bf65b83cfe9341"));
        QCOMPARE(IniProfileFile(QStringLiteral("/datos"))
                     .overlayPath(QStringLiteral("/srv/normativa/legisdis.ini")),
                 QStringLiteral("/datos/legisdis-41bf65b83cfe9341.ini"));

        const QDir cache(m_root->filePath(QStringLiteral("cache")));
        const Collection collection(m_program, m_user);
        const QByteArray earlierKey =
            QDir(m_program).absolutePath().toUtf8() + '\n' + QDir(m_user).absolutePath().toUtf8();
        const QString earlier = cache.filePath(
            QStringLiteral("indice-") +
            QString::fromLatin1(
                QCryptographicHash::hash(earlierKey, QCryptographicHash::Sha1).toHex().left(16)));
        write(earlier + QStringLiteral("/registro"), "hecho", 0);
        const QString index = indexFolderFor(collection, cache.path());
        QVERIFY(index != earlier);
        QVERIFY(!QFileInfo::exists(earlier));
        QVERIFY(QFileInfo::exists(index + QStringLiteral("/registro")));
    }

    void theBrowserShowsTheWinningCopies()
    {
        CollectionInterceptor interceptor(Collection(m_program, m_user));
        QWebEngineProfile *profile = testEngineProfile();
        profile->setUrlRequestInterceptor(&interceptor);
        FakeDocumentDialogs dialogs;
        QtPdfDocuments pdf;
        QtWebBrowser browser(profile, dialogs, pdf);
        browser.resize(600, 400);
        browser.show();
        QSignalSpy complete(&browser, &WebBrowser::DocumentComplete);

        // The installed home page is older than the user's: the user's shows.
        browser.Navigate2(m_program + QStringLiteral("/pagina/maincd.htm"));
        QTRY_VERIFY_WITH_TIMEOUT(!complete.isEmpty(), loadTimeout);
        QCOMPARE(complete.last().first().toString(), m_user + QStringLiteral("/pagina/maincd.htm"));
        QCOMPARE(browser.Document().links.size(), 1);

        // From the user's page, a circular that only the program folder has.
        browser.Navigate2(browser.Document().links.first());
        QTRY_COMPARE_WITH_TIMEOUT(complete.last().first().toString(),
                                  m_program + QStringLiteral("/circulares/1001.pdf"), loadTimeout);

        // And a circular the user installed, asked for in the program folder.
        browser.Navigate2(m_program + QStringLiteral("/circulares/4001.pdf"));
        QTRY_COMPARE_WITH_TIMEOUT(complete.last().first().toString(),
                                  m_user + QStringLiteral("/circulares/4001.pdf"), loadTimeout);
        profile->setUrlRequestInterceptor(nullptr);
    }

    void anUpdateLandsInTheUserFolder()
    {
        // The program folder as an installed package has it: read-only. (As root the
        // permissions do not stop a write; the collection decides where updates go.)
        QTemporaryDir serverFolder;
        for (const char *id : {"1001", "1002", "4001", "4002"}) {
            QVERIFY(writeAll(serverFolder.filePath(QLatin1String(id) + QStringLiteral(".pdf")),
                             testPdf(id)));
        }
        UpdateServer server(serverFolder.path());
        QVERIFY(server.listen());
        TestPlatform p;
        write(m_program + QStringLiteral("/legisdis.ini"),
              "[http]\r\nactualizacion=" + server.baseUrl().toString().toUtf8() + "\r\n", 100);
        QFile::setPermissions(m_program, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        const auto restore = qScopeGuard([this] {
            QFile::setPermissions(m_program, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                 QFileDevice::ExeOwner);
        });
        const QMap<QString, QByteArray> installedBefore = [this] {
            QMap<QString, QByteArray> all;
            for (const CollectionFile &f : Collection(m_program).files(QString())) {
                all.insert(f.relativePath, readAll(f.absolutePath));
            }
            return all;
        }();

        frmActualiza form(p.withRealBrowser(), Collection(m_program, m_user), nullptr);
        form.show();
        QTRY_VERIFY_WITH_TIMEOUT(form.btnOK->isEnabled(), loadTimeout);
        QTest::mouseClick(form.btnOK, Qt::LeftButton);
        // 4001 is the user's already; 1001 and 1002 the program folder's.
        QCOMPARE(form.listVersion->count(), 1);
        QCOMPARE(form.listVersion->item(0)->text(), QStringLiteral("4002"));
        QTRY_VERIFY_WITH_TIMEOUT(form.btnActualiza->isEnabled(), loadTimeout);
        DownloadAnswerer answerer("saveButton");
        QTest::mouseClick(form.btnActualiza, Qt::LeftButton);
        QCOMPARE(
            p.messages.texts(),
            QStringList{QStringLiteral(
                "Se instaló 1 circular nueva en la colección:\n"
                "• Circular 4002\n\nNo se pudo verificar que el paquete sea del publicador: esta "
                "instalación no tiene su clave pública (legisdis.pub).")});
        QCOMPARE(readAll(m_user + QStringLiteral("/circulares/4002.pdf")), testPdf("4002"));
        QMap<QString, QByteArray> installedAfter;
        for (const CollectionFile &f : Collection(m_program).files(QString())) {
            installedAfter.insert(f.relativePath, readAll(f.absolutePath));
        }
        QCOMPARE(installedAfter, installedBefore);
        QCOMPARE(QDir(m_user).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

private:
    std::unique_ptr<QTemporaryDir> m_root;
    QString m_program;
    QString m_user;
};

QTEST_MAIN(TestCollection)
#include "tst_collection.moc"
