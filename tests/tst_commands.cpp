#include "frmbrowser.h"
#include "testfiles.h"
#include "testplatform.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

namespace {
constexpr int loadTimeout = 30000;
const QString title = QStringLiteral("Legisdisco");
const QString errorsOffline = QStringLiteral(
    "Para accesar a esta página debe tener conexión a Internet.\r\n"
    "Si no cuenta con la conexión indicada, comuníquese con el departamento de sistemas de su "
    "Entidad, o su proveedor de Internet");
const QString manualOffline = QStringLiteral(
    "Para accesar a esta página debe tener conexión a la red Finared. \r\n"
    "Si no cuenta con la conexión indicada, comuníquese con el departamento de sistemas de su "
    "Entidad");

} // namespace

class TestCommands : public QObject {
    Q_OBJECT

private slots:
    void helpGoesToTheShellHidden()
    {
        TestPlatform p;
        frmBrowser window(p.withFakeBrowser(), p.folder());
        window.mnuHelp_Click();
        QCOMPARE(p.shell.calls.size(), 1);
        const FakeShell::Call call = p.shell.calls.first();
        QCOMPARE(call.owner, &window);
        QCOMPARE(call.verb, QStringLiteral("Open"));
        QCOMPARE(call.document, QDir(p.folder()).filePath(QStringLiteral("legisdis.hlp")));
        QVERIFY(call.parameters.isEmpty());
        QCOMPARE(call.directory, p.folder());
        QCOMPARE(call.show, 0);
    }

    void manualsNeedAConnectionEvenThoughTheyAreLocal_data()
    {
        QTest::addColumn<bool>("manual");
        QTest::addColumn<QString>("document");
        QTest::addColumn<QString>("message");
        QTest::newRow("common errors")
            << false << QStringLiteral("sistemas/Errores.pdf") << errorsOffline;
        QTest::newRow("systems manual")
            << true << QStringLiteral("sistemas/manuales.pdf") << manualOffline;
    }

    void manualsNeedAConnectionEvenThoughTheyAreLocal()
    {
        QFETCH(bool, manual);
        QFETCH(QString, document);
        QFETCH(QString, message);
        TestPlatform p;
        frmBrowser window(p.withFakeBrowser(), p.folder());
        const auto choose = [&] {
            manual ? window.mnConsultaSarc_Click() : window.mnConsultaGen_Click();
        };
        p.probe.online = false;
        choose();
        QCOMPARE(p.messages.texts(), QStringList{message});
        QCOMPARE(p.messages.shown.first().icon, MessageIcon::Critical);
        QCOMPARE(p.messages.shown.first().title, title);
        QVERIFY(p.lastFakeBrowser->navigations.isEmpty());

        p.probe.online = true;
        choose();
        QCOMPARE(p.lastFakeBrowser->navigations, QStringList{QDir(p.folder()).filePath(document)});
        QCOMPARE(p.messages.shown.size(), 1);
        // The document is local: its navigation makes no second check, and saving it
        // stays possible (it is saved as itself).
        const int calls = p.probe.calls;
        QVERIFY(!p.lastFakeBrowser->offerNavigation(p.lastFakeBrowser->navigations.first()));
        QCOMPARE(p.probe.calls, calls);
        QVERIFY(window.mnuSave->isEnabled());
    }

    void saveAndPrintThroughTheHostDialogs()
    {
        TestPlatform p;
        p.writeFile(QStringLiteral("pagina/maincd.htm"),
                    "<html><head><meta charset='utf-8'></head><body><h1>Página de inicio</h1>"
                    "</body></html>");
        frmBrowser window(p.withRealBrowser(), p.folder());
        QVERIFY(window.Form_Load());
        window.show();
        QTRY_VERIFY_WITH_TIMEOUT(!window.txtURL->text().isEmpty(), loadTimeout);
        QTest::qWait(200);

        // Cancelled dialogs: nothing happens and nothing is reported.
        window.mnuSave->trigger();
        window.mnuPrint->trigger();
        QCOMPARE(p.dialogs.suggested, QStringList{QStringLiteral("maincd.htm")});
        QCOMPARE(p.dialogs.printAsked, 1);

        const QString saved = QDir(p.folder()).filePath(QStringLiteral("guardada.htm"));
        p.dialogs.savePath = saved;
        window.mnuSave->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(readAll(saved).contains("Página de inicio"), loadTimeout);

        const QString printed = QDir(p.folder()).filePath(QStringLiteral("impresa.pdf"));
        p.dialogs.printFile = printed;
        window.mnuPrint->trigger();
        // The page printed to a file keeps its text, not a picture of it.
        const auto printedText = [&printed] {
            QProcess text;
            text.start(QStringLiteral("pdftotext"), {printed, QStringLiteral("-")});
            text.waitForFinished(30000);
            return QString::fromUtf8(text.readAllStandardOutput());
        };
        QTRY_VERIFY_WITH_TIMEOUT(printedText().contains(QStringLiteral("Página de inicio")),
                                 loadTimeout);
        QVERIFY(p.messages.shown.isEmpty());
    }
};

QTEST_MAIN(TestCommands)
#include "tst_commands.moc"
