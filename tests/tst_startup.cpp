#include "coolbar.h"
#include "fifounblocker.h"
#include "frmbrowser.h"
#include "layoutrules.h"
#include "modalcloser.h"
#include "testplatform.h"
#include "twips.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolBar>

#include <sys/stat.h>

#include <utility>

namespace {
const QString caption =
    QStringLiteral("ORVE - Vazivid ad adozudud oz azaraduze zad Ozoduzo ra Vovazar");

int navigations(const TestPlatform &p)
{
    return p.lastFakeBrowser ? p.lastFakeBrowser->navigations.size() : -1;
}
} // namespace

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void anotherInstanceEndsAtOnce()
    {
        TestPlatform p;
        p.instance.running = true;
        p.writeSettings("[user]\r\nname=\r\n[init]\r\nshow=1\r\n");
        ModalCloser closer([&p] { return navigations(p); });
        frmBrowser window(p.withFakeBrowser(), p.folder());
        QVERIFY(!window.Form_Load());
        QVERIFY(closer.seen.isEmpty());
        QVERIFY(p.lastFakeBrowser->navigations.isEmpty());
        QVERIFY(!window.isVisible());
        QVERIFY(p.messages.shown.isEmpty());
        QCOMPARE(p.instanceChannel.listens, 0); // the running copy takes the requests
    }

    void anotherStartDuringTheStartWaitsForIt()
    {
        // The user-data form is up when a later start asks for a circular: the
        // form stays in front, the window is not shown half made, and the
        // circular opens over the home page once the start is done.
        TestPlatform p;
        p.writeSettings("[user]\r\nname=\r\n");
        p.writeFile(QStringLiteral("circulares/1001.pdf"), "%PDF-1.4 1001");
        bool asked = false;
        ModalCloser closer([&p, &asked] {
            if (!std::exchange(asked, true)) {
                emit p.instanceChannel.requested(QStringLiteral("1001"));
            }
            return navigations(p);
        });
        frmBrowser window(p.withFakeBrowser(), p.folder());
        QVERIFY(window.Form_Load());
        QVERIFY(asked);
        QCOMPARE(closer.seen, QStringList{QStringLiteral("frmDatos before 0")});
        QVERIFY(!window.isVisible());
        QCOMPARE(p.lastFakeBrowser->navigations,
                 (QStringList{QDir(p.folder()).filePath(QStringLiteral("pagina/maincd.htm")),
                              QDir(p.folder()).filePath(QStringLiteral("circulares/1001.pdf"))}));
    }

    void anotherStartBringsTheWindowToTheFront_data()
    {
        QTest::addColumn<QString>("document"); // as the other start asked for it
        QTest::addColumn<QString>("opened");   // below the program folder; empty: nothing
        QTest::newRow("nothing") << QString() << QString();
        QTest::newRow("a circular")
            << QStringLiteral("circulares/1001.pdf") << QStringLiteral("circulares/1001.pdf");
        QTest::newRow("a circular's number")
            << QStringLiteral("1001") << QStringLiteral("circulares/1001.pdf");
        QTest::newRow("a way out") << QStringLiteral("circulares/../../x.pdf") << QString();
        QTest::newRow("the settings file") << QStringLiteral("legisdis.ini") << QString();
        QTest::newRow("a missing document") << QStringLiteral("circulares/9.pdf") << QString();
    }

    void anotherStartBringsTheWindowToTheFront()
    {
        QFETCH(QString, document);
        QFETCH(QString, opened);
        TestPlatform p;
        p.writeSettings("[init]\r\nshow=0\r\n");
        p.writeFile(QStringLiteral("circulares/1001.pdf"), "%PDF-1.4 1001");
        frmBrowser window(p.withFakeBrowser(), p.folder());
        QVERIFY(window.Form_Load());
        QCOMPARE(p.instanceChannel.listens, 1);
        window.showMinimized();
        const QStringList before = p.lastFakeBrowser->navigations;

        emit p.instanceChannel.requested(document);
        QVERIFY(!window.isMinimized());
        QVERIFY(window.isVisible());
        QStringList expected = before;
        if (!opened.isEmpty()) {
            expected.append(QDir(p.folder()).filePath(opened));
        }
        QCOMPARE(p.lastFakeBrowser->navigations, expected);
        QVERIFY(p.messages.shown.isEmpty());
    }

    void withoutSettingsOnlyTheHomePageOpens()
    {
        TestPlatform p;
        ModalCloser closer([&p] { return navigations(p); });
        frmBrowser window(p.withFakeBrowser(), p.folder());
        QVERIFY(window.Form_Load());
        QVERIFY(closer.seen.isEmpty());
        const QString home = QDir(p.folder()).filePath(QStringLiteral("pagina/maincd.htm"));
        QCOMPARE(p.lastFakeBrowser->navigations, QStringList{home});
        QCOMPARE(window.initPage(), home);
        QCOMPARE(window.helpFile(), QDir(p.folder()).filePath(QStringLiteral("legisdis.hlp")));
    }

    void settingsThatCannotBeReadAreSaidAndTheStartGoesOn()
    {
        // A named pipe in the settings file's place: the start neither waits
        // on it nor stays silent.
        TestPlatform p;
        QCOMPARE(::mkfifo(QFile::encodeName(p.settingsPath()).constData(), 0600), 0);
        FifoUnblocker unblocker(p.settingsPath());
        ModalCloser closer([&p] { return navigations(p); });
        frmBrowser window(p.withFakeBrowser(), p.folder());
        QVERIFY(window.Form_Load());
        QCOMPARE(unblocker.freed(), 0);
        QCOMPARE(p.messages.shown.size(), 1);
        const QString text = p.messages.shown.first().text;
        QVERIFY2(text.contains(QStringLiteral("no es un archivo común")), qPrintable(text));
        QVERIFY2(text.contains(p.settingsPath()), qPrintable(text));
        QCOMPARE(p.messages.shown.first().icon, MessageIcon::Exclamation);
        QVERIFY(closer.seen.isEmpty());
        QCOMPARE(p.lastFakeBrowser->navigations,
                 QStringList{QDir(p.folder()).filePath(QStringLiteral("pagina/maincd.htm"))});
    }

    void userDataFormThenPromptThenHomePage_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QStringList>("modals");
        const QString form = QStringLiteral("frmDatos before 0");
        const QString prompt = QStringLiteral("firstDialog before 0 unticked");
        QTest::newRow("empty lastname, show 1")
            << QByteArray("[user]\r\nname=Ana\r\nlastname=\r\nemail=a@b\r\n[init]\r\nshow=1\r\n")
            << QStringList{form, prompt};
        QTest::newRow("empty email only")
            << QByteArray("[user]\r\nname=Ana\r\nlastname=Mora\r\nemail=\r\n") << QStringList{form};
        QTest::newRow("missing keys are not empty")
            << QByteArray("[user]\r\njob=\r\n[init]\r\nshow=1\r\n") << QStringList{prompt};
        QTest::newRow("show 0") << QByteArray("[init]\r\nshow=0\r\n") << QStringList();
        QTest::newRow("show yes") << QByteArray("[init]\r\nshow=yes\r\n") << QStringList();
        QTest::newRow("show 11") << QByteArray("[init]\r\nshow=11\r\n") << QStringList();
        QTest::newRow("no show key") << QByteArray("[init]\r\n") << QStringList();
    }

    void userDataFormThenPromptThenHomePage()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QStringList, modals);
        TestPlatform p;
        p.writeSettings(settings);
        ModalCloser closer([&p] { return navigations(p); });
        frmBrowser window(p.withFakeBrowser(), p.folder());
        QVERIFY(window.Form_Load());
        QCOMPARE(closer.seen, modals);
        QCOMPARE(p.lastFakeBrowser->navigations.size(), 1);
        // Closing the prompt with its box unticked leaves the offer for the next start.
        if (settings.contains("show=1\r")) {
            QCOMPARE(p.profile.getString(QStringLiteral("init"), QStringLiteral("show"),
                                         QStringLiteral("?"), 255, p.settingsPath()),
                     QStringLiteral("1"));
        }
    }

    void menuTree_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<bool>("enabled");
        const auto row = [](const char *name, const char *parent, const QString &text,
                            bool enabled) {
            QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(parent) << text
                                << enabled;
        };
        row("mnuFile", "", QStringLiteral("&Archivo"), true);
        row("mnuSave", "mnuFile", QStringLiteral("&Guardar..."), true);
        row("mnuPrint", "mnuFile", QStringLiteral("&Imprimir"), true);
        row("mnuSendto", "mnuFile", QStringLiteral("Enviar página por email..."), true);
        row("sep1", "mnuFile", QString(), true);
        row("mnuClose", "mnuFile", QStringLiteral("&Salir"), true);
        row("mnConsulta", "", QStringLiteral("Sis&temas de Información"), false);
        row("mnConsultaSarc", "mnConsulta", QStringLiteral("Ma&nual Sistemas"), true);
        row("mnConsultaGen", "mnConsulta", QStringLiteral("Erro&res mas comunes"), true);
        row("mnuActualiza", "", QStringLiteral("H&erramientas"), true);
        row("mnuActUltima", "mnuActualiza", QStringLiteral("Suscripciones"), true);
        row("mnSuscribir", "mnuActUltima", QStringLiteral("Suscribir"), false);
        row("mnSuscribirWeb", "mnuActUltima", QStringLiteral("Suscribir via Web"), true);
        row("mnuDessucri", "mnuActUltima", QStringLiteral("Quitar la suscripción"), false);
        row("mnuDessucriWeb", "mnuActUltima", QStringLiteral("Quitar la suscripción via Web"),
            true);
        row("mnuCirculares", "mnuActualiza", QStringLiteral("Actualización Circulares"), true);
        row("mnuConfig", "mnuActualiza", QStringLiteral("Se&rvidor Proxy"), false);
        row("mnuHelp", "", QStringLiteral("A&yuda"), false);
    }

    void menuTree()
    {
        QFETCH(QString, name);
        QFETCH(QString, parent);
        QFETCH(QString, caption);
        QFETCH(bool, enabled);
        TestPlatform p;
        frmBrowser window(p.withFakeBrowser(), p.folder());
        QList<QAction *> siblings = window.menuBar()->actions();
        if (!parent.isEmpty()) {
            siblings = window.findChild<QMenu *>(parent)->actions();
        }
        QAction *action = nullptr;
        for (QAction *candidate : siblings) {
            if (candidate->objectName() == name) {
                action = candidate;
            }
        }
        QVERIFY2(action, qPrintable(name + QStringLiteral(" is not under ") + parent));
        QCOMPARE(action->text(), caption);
        QCOMPARE(action->isEnabled(), enabled);
        QVERIFY(action->shortcut().isEmpty());
    }

    void menuOrder()
    {
        TestPlatform p;
        frmBrowser window(p.withFakeBrowser(), p.folder());
        const auto names = [](const QList<QAction *> &actions) {
            QStringList all;
            for (QAction *a : actions) {
                all.append(a->objectName());
            }
            return all;
        };
        QCOMPARE(names(window.menuBar()->actions()),
                 (QStringList{QStringLiteral("mnuFile"), QStringLiteral("mnConsulta"),
                              QStringLiteral("mnuActualiza"), QStringLiteral("mnuHelp")}));
        QCOMPARE(names(window.mnuFile->actions()),
                 (QStringList{QStringLiteral("mnuSave"), QStringLiteral("mnuPrint"),
                              QStringLiteral("mnuSendto"), QStringLiteral("sep1"),
                              QStringLiteral("mnuClose")}));
        QVERIFY(window.sep1->isSeparator());
        QCOMPARE(names(window.mnuActualiza->actions()),
                 (QStringList{QStringLiteral("mnuActUltima"), QStringLiteral("mnuCirculares"),
                              QStringLiteral("mnuConfig"), QStringLiteral("mnuBuscar")}));
        QCOMPARE(names(window.mnuActUltima->actions()),
                 (QStringList{QStringLiteral("mnSuscribir"), QStringLiteral("mnSuscribirWeb"),
                              QStringLiteral("mnuDessucri"), QStringLiteral("mnuDessucriWeb")}));
    }

    void barsButtonsAndTabOrder()
    {
        TestPlatform p;
        frmBrowser window(p.withFakeBrowser(), p.folder());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.windowTitle(), caption);

        const QList<QAction *> buttons = window.Toolbar1->actions();
        const QStringList keys{QStringLiteral("back"), QStringLiteral("fordward"),
                               QStringLiteral("stop"), QStringLiteral("refresh"),
                               QStringLiteral("home")};
        const QStringList tips{QStringLiteral("Atrás"), QStringLiteral("Siguiente"),
                               QStringLiteral("Parar"), QStringLiteral("Refrescar página"),
                               QStringLiteral("Ir al inicio")};
        QCOMPARE(buttons.size(), 5);
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(buttons[i]->data().toString(), keys[i]);
            QCOMPARE(buttons[i]->toolTip(), tips[i]);
        }

        // Two bands: the toolbar on the first row, the captioned address bar under it.
        QVERIFY(window.CoolBar1->isAncestorOf(window.Toolbar1));
        QVERIFY(window.CoolBar1->isAncestorOf(window.txtURL));
        const auto *bandCaption = window.CoolBar1->findChild<QLabel *>();
        QVERIFY(bandCaption);
        QCOMPARE(bandCaption->text(), QStringLiteral("  Dirección  "));
        QVERIFY(window.txtURL->mapTo(&window, QPoint()).y() >=
                window.Toolbar1->mapTo(&window, QPoint(0, window.Toolbar1->height())).y());
        QCOMPARE(window.CoolBar1->y(), 0);
        QCOMPARE(window.StatusBar1->geometry().bottom(), window.centralWidget()->height() - 1);

        // Keyboard focus runs address bar, toolbar, browser.
        QList<QWidget *> order;
        QWidget *w = window.txtURL;
        for (int i = 0; i < 200 && order.size() < 3; ++i, w = w->nextInFocusChain()) {
            if (w == window.txtURL || w == window.Toolbar1 || w == window.WebBrowser1) {
                if (!order.contains(w)) {
                    order.append(w);
                }
            }
        }
        QCOMPARE(order, (QList<QWidget *>{window.txtURL, window.Toolbar1, window.WebBrowser1}));
    }

    // The two layout rules as the window applies them, checked against plain
    // pixel arithmetic: browser height = client height - cool bar - status
    // bar, less 20 twips after a resize of the window and nothing after a
    // change of the cool bar's own height.
    void layoutRules()
    {
        TestPlatform p;
        frmBrowser window(p.withFakeBrowser(), p.folder());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const double pixelsPerTwip = window.logicalDpiY() / 1440.0;
        QWidget *client = window.centralWidget();
        const auto rest = [&] {
            return client->height() - window.CoolBar1->height() - window.StatusBar1->height();
        };

        window.resize(800, 600);
        QTRY_COMPARE(window.WebBrowser1->width(), client->width());
        QVERIFY(qAbs(window.WebBrowser1->height() - (rest() - 20 * pixelsPerTwip)) <= 1.0);
        QCOMPARE(window.WebBrowser1->y(), qRound(840 * pixelsPerTwip));
        QCOMPARE(window.WebBrowser1->x(), 0);
        const int resizeShortfall = rest() - window.WebBrowser1->height();

        // The bands rearrange: the cool bar grows by itself, the window keeps
        // its size, and the browser follows without the allowance.
        const QSize windowSize = window.size();
        window.CoolBar1->resize(window.CoolBar1->width(), window.CoolBar1->height() + 25);
        QCOMPARE(window.size(), windowSize);
        QVERIFY(qAbs(window.WebBrowser1->height() - rest()) <= 1.0);
        QVERIFY(rest() - window.WebBrowser1->height() < resizeShortfall);
        QCOMPARE(window.WebBrowser1->y(), qRound(840 * pixelsPerTwip));
        QCOMPARE(window.WebBrowser1->width(), client->width());

        // A window too low for the browser keeps the browser's height.
        window.resize(800, 500);
        QTRY_VERIFY(qAbs(window.WebBrowser1->height() - (rest() - 20 * pixelsPerTwip)) <= 1.0);
        const int before = window.WebBrowser1->height();
        window.setMinimumSize(0, 0);
        client->setMinimumSize(0, 0);
        window.resize(500, window.menuBar()->height() + 30);
        QTRY_COMPARE(window.WebBrowser1->width(), client->width());
        QVERIFY(rest() < 0);
        QCOMPARE(window.WebBrowser1->height(), before);
        QVERIFY(p.messages.shown.isEmpty());
    }

    void layoutArithmetic()
    {
        QCOMPARE(*browserHeightTwips(3195, 825, 315, 20), 2035.0f);
        QCOMPARE(*browserHeightTwips(3195, 825, 315, 0), 2055.0f);
        QVERIFY(!browserHeightTwips(1000, 825, 315, 20));
        QCOMPARE(*browserHeightTwips(1160, 825, 315, 20), 0.0f);
        QVERIFY(!browserHeightTwips(std::numeric_limits<float>::infinity(), 1, 1, 0));
    }

    void salirClosesWithoutQuestionOrWrite()
    {
        TestPlatform p;
        p.writeSettings("[user]\r\nname=Ana\r\nlastname=Mora\r\nemail=a@b\r\n[init]\r\nshow=0\r\n");
        QFile file(p.settingsPath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray before = file.readAll();
        file.close();
        frmBrowser window(p.withFakeBrowser(), p.folder());
        QVERIFY(window.Form_Load());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.mnuClose->trigger();
        QVERIFY(!window.isVisible());
        QVERIFY(p.messages.shown.isEmpty());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
