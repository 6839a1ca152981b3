#include "fifounblocker.h"
#include "frmbrowser.h"
#include "modalcloser.h"
#include "testplatform.h"

#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include <algorithm>

#include <sys/stat.h>

#include <utility>

namespace {
int navigations(const TestPlatform &p)
{
    return p.lastFakeBrowser ? p.lastFakeBrowser->navigations.size() : -1;
}
} // namespace

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void anotherInstanceEndsAtOnce_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<frmBrowser::HomePage>("homePage");
        QTest::newRow("forms to open") << QByteArray("[user]\r\nname=\r\n[init]\r\nshow=1\r\n")
                                       << frmBrowser::HomePage::AtFormLoad;
        QTest::newRow("home page asked for early")
            << QByteArray("[user]\r\nname=Ana\r\n[init]\r\nshow=0\r\n")
            << frmBrowser::HomePage::BeforeBuilding;
    }
    void anotherInstanceEndsAtOnce()
    {
        QFETCH(QByteArray, settings);
        QFETCH(frmBrowser::HomePage, homePage);
        TestPlatform p;
        p.instance.running = true;
        p.writeSettings(settings);
        ModalCloser closer([&p] { return navigations(p); });
        frmBrowser window(p.withFakeBrowser(), p.folder(), homePage);
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
    }

    void settingsThatCannotBeReadAreSaidAndTheStartGoesOn()
    {
        // A named pipe in the settings file's place: the start neither waits
        // on it nor stays silent.
        TestPlatform p;
        QCOMPARE(::mkfifo(QFile::encodeName(p.settingsPath()).constData(), 0600), 0);
        FifoUnblocker unblocker(p.settingsPath());
        ModalCloser closer([&p] { return navigations(p); });
        frmBrowser window(p.withFakeBrowser(), p.folder(), frmBrowser::HomePage::BeforeBuilding);
        QCOMPARE(navigations(p), 0); // the reader is told first
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
        // The program asks for the home page before building the window when no form
        // comes first; either way the page comes after every form, and once.
        for (const auto homePage :
             {frmBrowser::HomePage::AtFormLoad, frmBrowser::HomePage::BeforeBuilding}) {
            TestPlatform p;
            p.writeSettings(settings);
            ModalCloser closer([&p] { return navigations(p); });
            frmBrowser window(p.withFakeBrowser(), p.folder(), homePage);
            const bool early = homePage == frmBrowser::HomePage::BeforeBuilding;
            QCOMPARE(navigations(p), early && modals.isEmpty() ? 1 : 0);
            QVERIFY(window.Form_Load());
            QCOMPARE(closer.seen, modals);
            QCOMPARE(p.lastFakeBrowser->navigations,
                     QStringList{QDir(p.folder()).filePath(QStringLiteral("pagina/maincd.htm"))});
            // Closing the prompt with its box unticked leaves the offer for the next start.
            if (settings.contains("show=1\r")) {
                QCOMPARE(p.profile.getString(QStringLiteral("init"), QStringLiteral("show"),
                                             QStringLiteral("?"), 255, p.settingsPath()),
                         QStringLiteral("1"));
            }
        }
    }

    // The menu paths the README gives, and what each opens: a window, or the
    // control that takes the keyboard.
    void theReadmesMenuPathsLeadWhereItSays_data()
    {
        QTest::addColumn<QStringList>("path");
        QTest::addColumn<QString>("opens");
        QTest::newRow("updates") << QStringList{QStringLiteral("Herramientas"),
                                                QStringLiteral("Actualización Circulares")}
                                 << QStringLiteral("frmActualiza");
        QTest::newRow("search") << QStringList{QStringLiteral("Herramientas"),
                                               QStringLiteral("Buscar en la colección...")}
                                << QStringLiteral("txtSearch");
    }

    void theReadmesMenuPathsLeadWhereItSays()
    {
        QFETCH(QStringList, path);
        QFETCH(QString, opens);
        TestPlatform p;
        frmBrowser window(p.withFakeBrowser(), p.folder());
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QList<QAction *> entries = window.menuBar()->actions();
        QAction *entry = nullptr;
        for (const QString &step : path) {
            const auto found = std::find_if(entries.cbegin(), entries.cend(), [&](QAction *a) {
                return QString(a->text()).remove(u'&') == step && a->isEnabled();
            });
            QVERIFY2(found != entries.cend(), qPrintable(step));
            entry = *found;
            entries = entry->menu() ? entry->menu()->actions() : QList<QAction *>();
        }
        ModalCloser closer;
        entry->trigger();
        if (opens.startsWith(u"frm")) {
            QCOMPARE(closer.seen, QStringList{opens});
        } else {
            QTRY_COMPARE(QApplication::focusWidget()->objectName(), opens);
        }
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
