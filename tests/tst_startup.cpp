#include "frmbrowser.h"
#include "modalcloser.h"
#include "testplatform.h"

#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include <algorithm>

namespace {
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
