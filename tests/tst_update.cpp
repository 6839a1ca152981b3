#include "downloadanswerer.h"
#include "frmactualiza.h"
#include "frmbrowser.h"
#include "packagesize.h"
#include "serverpages.h"
#include "testplatform.h"
#include "updateserver.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {
constexpr int loadTimeout = 30000;
const QString offline = QStringLiteral("Verifique su conexión a Internet");
const QString noList = QStringLiteral("Revise que su conexión a Internet este funcionando");
const QString upToDate = QStringLiteral("A la fecha su programa está actualizado");

QStringList items(const QListWidget *list)
{
    QStringList all;
    for (int row = 0; row < list->count(); ++row) {
        all.append(list->item(row)->text());
    }
    return all;
}

HtmlDocument listPage(const QStringList &labelChildren)
{
    HtmlDocument doc;
    doc.present = true;
    doc.hasBody = true;
    doc.labelChildValues = {labelChildren};
    return doc;
}

} // namespace

class TestUpdate : public QObject {
    Q_OBJECT

    struct Window {
        explicit Window(TestPlatform &p,
                        const QByteArray &settings = "[http]\r\nactualizacion=http://h/act/\r\n")
        {
            p.writeSettings(settings);
            form = std::make_unique<frmActualiza>(p.withFakeBrowser(), p.folder(), nullptr);
            hidden = p.fakeBrowsers.at(0);
            shown = p.fakeBrowsers.at(1);
        }
        std::unique_ptr<frmActualiza> form;
        FakeWebBrowser *hidden;
        FakeWebBrowser *shown;
    };

private slots:
    void loadAsksForTheListPage()
    {
        TestPlatform p;
        Window w(p);
        QCOMPARE(w.hidden->navigations,
                 QStringList{QStringLiteral("http://h/act/actualizacionesValores.asp")});
        QVERIFY(!w.form->btnOK->isEnabled());
        QVERIFY(!w.form->btnActualiza->isEnabled());
        QVERIFY(!w.form->wbrEjecutable->isVisibleTo(w.form.get()));
        QVERIFY(!w.form->wbrowserAct->isVisibleTo(w.form.get()));
        TestPlatform noSettings;
        Window q(noSettings, QByteArray());
        QFile::remove(noSettings.settingsPath());
        QCOMPARE(q.hidden->navigations.first(), QStringLiteral("?actualizacionesValores.asp"));
    }

    void everyNavigationOfTheHiddenBrowserNeedsAConnection()
    {
        TestPlatform p;
        Window w(p);
        p.probe.online = false;
        QVERIFY(w.hidden->offerNavigation(QStringLiteral("file:///local.htm")));
        QVERIFY(p.messages.shown.isEmpty()); // shown once the engine's callback has returned
        QTRY_COMPARE(p.messages.texts(), QStringList{offline});
        QCOMPARE(p.messages.shown.first().icon, MessageIcon::Critical);
        QVERIFY(!w.form->btnOK->isEnabled());
        p.probe.online = true;
        QVERIFY(!w.hidden->offerNavigation(QStringLiteral("http://h/act/x")));
    }

    void checkListsWhatIsMissingAndSendsTheRequest()
    {
        TestPlatform p;
        p.writeFile(QStringLiteral("circulares/101.pdf"), "%PDF");
        p.writeFile(QStringLiteral("circulares/103.PDF"), "%PDF");
        Window w(p);
        w.form->show();
        emit w.hidden->NavigateComplete2(QStringLiteral("http://h/act/actualizacionesValores.asp"));
        w.hidden->document = listPage({QStringLiteral("101,102, 103")});
        QTest::mouseClick(w.form->btnOK, Qt::LeftButton);
        QCOMPARE(items(w.form->listVersion), QStringList{QStringLiteral("102")});
        const QString request = QStringLiteral("http://h/act/archivoValores.asp?Numeros=102");
        QCOMPARE(w.form->actURL, request);
        QCOMPARE(w.hidden->navigations.last(), request);
        QCOMPARE(w.shown->navigations, QStringList{request});
        QVERIFY(w.form->wbrEjecutable->isVisible());
        QVERIFY(!w.form->btnOK->isEnabled());
        QVERIFY(p.messages.shown.isEmpty());
    }

    void checkOutcomesWithoutARequest()
    {
        const QString listAddress = QStringLiteral("http://h/act/actualizacionesValores.asp");
        TestPlatform p;
        Window w(p);
        w.form->show();
        emit w.hidden->NavigateComplete2(listAddress);

        w.hidden->busy = true; // still loading: the click does nothing
        w.hidden->document = listPage({QStringLiteral("1")});
        w.form->btnOK_Click();
        QCOMPARE(w.form->listVersion->count(), 0);
        QVERIFY(p.messages.shown.isEmpty());
        w.hidden->busy = false;

        w.hidden->document = HtmlDocument{true, true, {}, {}}; // no label at all
        w.form->btnOK_Click();
        QCOMPARE(p.messages.texts(), QStringList{noList});
        QCOMPARE(p.messages.shown.last().icon, MessageIcon::Information);
        QVERIFY(w.form->btnOK->isEnabled());
        QCOMPARE(w.hidden->navigations.size(), 1);

        // Each later press reads a fresh list page, once it has arrived.
        const std::pair<const char *, HtmlDocument> pages[] = {
            {"a label without text", listPage({QString()})},
            {"a label without child nodes", listPage({})},
        };
        qsizetype navigations = 1;
        for (const auto &[what, page] : pages) {
            const qsizetype said = p.messages.shown.size();
            w.form->btnOK_Click();
            QVERIFY2(!w.form->btnOK->isEnabled(), what);
            QCOMPARE(w.hidden->navigations.size(), ++navigations);
            QCOMPARE(w.hidden->navigations.last(), listAddress);
            QCOMPARE(p.messages.shown.size(), said); // nothing is said before it arrives
            w.hidden->document = page;
            emit w.hidden->NavigateComplete2(listAddress);
            QTRY_COMPARE(p.messages.shown.size(), said + 1);
            QCOMPARE(p.messages.texts().last(), upToDate);
            QVERIFY2(!w.form->btnOK->isEnabled(), what);
        }
    }

    void answerWithoutLinkStillEndsTheWindow()
    {
        TestPlatform p;
        Window w(p);
        w.form->show();
        w.hidden->document = HtmlDocument{true, true, {}, {}};
        emit w.hidden->NavigateComplete2(QStringLiteral("http://h/act/archivo.asp?p=1"));
        QTest::mouseClick(w.form->btnActualiza, Qt::LeftButton);
        QVERIFY(p.fileDownload.started.isEmpty());
        QCOMPARE(p.downloadFolders.stored, std::optional<QString>(p.folder()));
        QVERIFY(p.shell.calls.isEmpty()); // nothing is ever opened
        QVERIFY(p.packageInstaller.calls.isEmpty());
        QCOMPARE(p.messages.texts(),
                 QStringList{QStringLiteral("No se descargó el paquete de actualización: la "
                                            "respuesta del servidor no trae el enlace del "
                                            "paquete.")});
        QVERIFY(!w.form->isVisible());
        QVERIFY(!w.form->btnActualiza->isEnabled());
    }

    void theSavedPackageIsWhatIsInstalled()
    {
        TestPlatform p;
        Window w(p);
        w.form->show();
        w.hidden->document = HtmlDocument{true, true, {}, {QStringLiteral("http://h/p/a.zip")}};
        emit w.hidden->NavigateComplete2(QStringLiteral("http://h/act/archivo.asp?p=1"));
        const QString saved = p.folder() + QStringLiteral("/a (1).zip");
        p.writeFile(QStringLiteral("a (1).zip"), "PK");
        p.fileDownload.answer = {DownloadResult::Status::Saved, saved, {}};
        QTest::mouseClick(w.form->btnActualiza, Qt::LeftButton);
        QCOMPARE(p.fileDownload.started, QStringList{QStringLiteral("http://h/p/a.zip")});
        QCOMPARE(p.packageInstaller.calls.size(), 1);
        QCOMPARE(p.packageInstaller.calls.first().package, saved);
        QCOMPARE(p.packageInstaller.calls.first().folder, p.folder());
        QVERIFY(!QFile::exists(saved)); // only saved to be installed
        // The fake installer placed no file: nothing new is in the collection.
        QCOMPARE(p.messages.texts(),
                 QStringList{QStringLiteral("Se instaló la actualización (1 archivo); no trae "
                                            "circulares nuevas.")});
        QVERIFY(w.form->installed());
        QVERIFY(p.shell.calls.isEmpty());
    }

    // The package's download brings no more than the answer page announces, and its install
    // says in the window that it waits while another install into the collection runs.
    void aPackageKeepsToItsSizeAndWaitsItsTurn()
    {
        TestPlatform p;
        Window w(p);
        w.form->show();
        w.hidden->document = HtmlDocument{true, true, {}, {QStringLiteral("http://h/p/a.zip")}};
        w.hidden->document.text = QString::fromUtf8(
            ServerPages::answerPage(QStringLiteral("http://h/p/a.zip"), QStringLiteral("a.zip"),
                                    {QStringLiteral("9001")}, 2048));
        emit w.hidden->NavigateComplete2(QStringLiteral("http://h/act/archivo.asp?p=1"));
        p.writeFile(QStringLiteral("a.zip"), "PK");
        p.fileDownload.answer = {
            DownloadResult::Status::Saved, p.folder() + QStringLiteral("/a.zip"), {}};
        p.packageInstaller.busyPauses = 2;
        QStringList seen; // what the window said while the install waited
        p.packageInstaller.whileWaiting = [&] {
            if (w.form->isVisible() && w.form->lblEspera->isVisible()) {
                seen.append(w.form->lblEspera->text());
            }
        };
        QTest::mouseClick(w.form->btnActualiza, Qt::LeftButton);
        QCOMPARE(p.fileDownload.announced.size(), 1);
        QVERIFY(p.fileDownload.announced.first() >= 2048);
        QVERIFY(p.fileDownload.announced.first() < 2048 + 103);
        QCOMPARE(seen,
                 QStringList(2, QStringLiteral("Esperando a que termine otra instalación...")));
        // The fake installer places nothing, so no circular is new.
        QCOMPARE(p.messages.texts(),
                 QStringList{QStringLiteral(
                     "Se instaló la actualización (1 archivo); no trae circulares nuevas.")});
    }

    // What the update server announces always covers its package, and by no more than its
    // figure's last digit: the announced size is the most a download may bring.
    void theAnnouncedSizeCoversThePackage_data()
    {
        QTest::addColumn<qint64>("size");
        for (const qint64 size :
             {qint64(0), qint64(1023), qint64(1024), qint64(1076), qint64(1048575), qint64(1048576),
              qint64(1289748481), qint64(5) << 32}) {
            QTest::addRow("%lld", size) << size;
        }
    }

    void theAnnouncedSizeCoversThePackage()
    {
        QFETCH(qint64, size);
        const std::optional<qint64> announced = PackageSize::announced(QString::fromUtf8(
            ServerPages::answerPage(QStringLiteral("http://h/p.zip"), QStringLiteral("p.zip"),
                                    {QStringLiteral("9001")}, size)));
        QVERIFY(announced);
        const qint64 digit = size < 1024 ? 0 : size < 1048576 ? 1024 / 10 : 1048576 / 10;
        QVERIFY2(*announced >= size && *announced <= size + digit,
                 qPrintable(QString::number(*announced)));
        QCOMPARE(PackageSize::announced(QStringLiteral("<p>Paquete de 3 circulares</p>")),
                 std::nullopt);
    }

    void theMainWindowReloadsAfterAnInstall_data()
    {
        QTest::addColumn<bool>("installed");
        QTest::newRow("installed") << true;
        QTest::newRow("refused") << false;
    }

    void theMainWindowReloadsAfterAnInstall()
    {
        QFETCH(bool, installed);
        TestPlatform p;
        p.writeSettings("[http]\r\nactualizacion=http://h/act/\r\n");
        p.packageInstaller.answer.installed = installed;
        p.fileDownload.answer = {
            DownloadResult::Status::Saved, p.folder() + QStringLiteral("/a.zip"), {}};
        frmBrowser window(p.withFakeBrowser(), p.folder());
        auto *main = qobject_cast<FakeWebBrowser *>(window.WebBrowser1);
        QVERIFY(main);
        // Once the update window is up, the server offers a package and the user takes it.
        QTimer::singleShot(0, &window, [&p] {
            auto *form = qobject_cast<frmActualiza *>(QApplication::activeModalWidget());
            QVERIFY(form);
            FakeWebBrowser *hidden = p.fakeBrowsers.at(1);
            hidden->document = HtmlDocument{true, true, {}, {QStringLiteral("http://h/p/a.zip")}};
            emit hidden->NavigateComplete2(QStringLiteral("http://h/act/archivo.asp?p=1"));
            QTest::mouseClick(form->btnActualiza, Qt::LeftButton);
        });
        window.mnuCirculares_Click();
        QCOMPARE(p.packageInstaller.calls.size(), 1);
        QCOMPARE(main->operations.contains(QStringLiteral("Refresh")), installed);
    }

    void updateEndToEnd_data()
    {
        QTest::addColumn<QByteArray>("button");
        QTest::addColumn<bool>("saved");
        QTest::newRow("saved") << QByteArray("saveButton") << true;
        QTest::newRow("cancelled") << QByteArray("cancelButton") << false;
    }

    void updateEndToEnd()
    {
        QFETCH(QByteArray, button);
        QFETCH(bool, saved);
        QTemporaryDir serverFolder;
        for (const char *id : {"1001", "1002", "1003"}) {
            QFile file(serverFolder.filePath(QLatin1String(id) + QStringLiteral(".pdf")));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray("%PDF-1.4 circular ") + id);
        }
        UpdateServer server(serverFolder.path());
        QVERIFY(server.listen());

        TestPlatform p;
        p.writeFile(QStringLiteral("circulares/1001.pdf"), "%PDF");
        p.writeSettings("[http]\r\nactualizacion=" + server.baseUrl().toString().toUtf8() + "\r\n");
        frmActualiza form(p.withRealBrowser(), p.folder(), nullptr);
        form.show();
        QTRY_VERIFY_WITH_TIMEOUT(form.btnOK->isEnabled(), loadTimeout);

        QTest::mouseClick(form.btnOK, Qt::LeftButton);
        QCOMPARE(items(form.listVersion),
                 (QStringList{QStringLiteral("1002"), QStringLiteral("1003")}));
        QVERIFY(form.actURL.endsWith(QLatin1String("archivoValores.asp?Numeros=1002,1003")));
        QVERIFY(form.wbrEjecutable->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(form.btnActualiza->isEnabled(), loadTimeout);
        QVERIFY(!form.btnOK->isEnabled());

        DownloadAnswerer answerer(button.constData());
        QTest::mouseClick(form.btnActualiza, Qt::LeftButton);
        QVERIFY(!form.isVisible());
        QVERIFY(answerer.titles.contains(QStringLiteral("Legisdisco")));
        QVERIFY(!answerer.titles.contains(QStringLiteral("File Download")));
        QCOMPARE(p.downloadFolders.stored, std::optional<QString>(p.folder()));

        // The package was installed into the collection, never opened.
        QVERIFY(p.shell.calls.isEmpty());
        QCOMPARE(QFile::exists(p.folder() + QStringLiteral("/circulares/1002.pdf")), saved);
        QCOMPARE(QFile::exists(p.folder() + QStringLiteral("/circulares/1003.pdf")), saved);
        QCOMPARE(form.installed(), saved);
        if (saved) {
            QCOMPARE(p.messages.texts(),
                     QStringList{
                         QStringLiteral("Se instalaron 2 circulares nuevas en la colección:\n"
                                        "• Circular 1002\n• Circular 1003\n\nNo se pudo verificar "
                                        "que el paquete sea del publicador: esta "
                                        "instalación no tiene su clave pública (legisdis.pub).")});
        } else {
            QVERIFY(p.messages.shown.isEmpty());
        }
        // Nothing but the collection's own files is left in the folder.
        const QStringList left =
            QDir(p.folder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        for (const QString &name : left) {
            QVERIFY2(!name.endsWith(QLatin1String(".zip")) && !name.startsWith(u'.'),
                     qPrintable(name));
        }
    }
};

QTEST_MAIN(TestUpdate)
#include "tst_update.moc"
