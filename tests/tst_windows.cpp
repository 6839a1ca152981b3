// Every window as a user meets it: nothing clipped, overlapping or cut off,
// every control named for assistive technologies, and the keyboard reaching
// every control. Run again on a screen of 144 dpi (tst_windows_144dpi).

#include "classicfont.h"
#include "coolbar.h"
#include "firstdialog.h"
#include "frmactualiza.h"
#include "frmbrowser.h"
#include "frmdatos.h"
#include "frmproxytest.h"
#include "testplatform.h"
#include "updatecontract.h"
#include "windowfaults.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QStatusBar>
#include <QStyle>
#include <QTest>
#include <QToolButton>

#include <algorithm>
#include <memory>

namespace {

const char *const windows[] = {
    "proxy dialog",
    "user data form",
    "first-run prompt",
    "update window",
    "update window with the answer",
    "main window",
};

struct Opened {
    TestPlatform platform;
    std::unique_ptr<QWidget> window;
};

std::unique_ptr<Opened> open(const QString &which)
{
    auto opened = std::make_unique<Opened>();
    TestPlatform &p = opened->platform;
    if (which == QLatin1String("proxy dialog")) {
        opened->window = std::make_unique<frmProxyTest>(p.proxyStore, p.messages, nullptr);
    } else if (which == QLatin1String("user data form")) {
        opened->window = std::make_unique<frmDatos>(p.profile, p.messages, p.folder(), nullptr);
    } else if (which == QLatin1String("first-run prompt")) {
        opened->window =
            std::make_unique<firstDialog>(p.profile, p.shell, p.messages, p.folder(), nullptr);
    } else if (which.startsWith(QLatin1String("update window"))) {
        auto updates = std::make_unique<frmActualiza>(p.withFakeBrowser(), p.folder(), nullptr);
        // The server's list has come: the check is open.
        FakeWebBrowser *server = p.fakeBrowsers.at(0);
        emit server->NavigateComplete2(QLatin1String(UpdateContract::listPage));
        if (which.endsWith(QLatin1String("answer"))) {
            // It lists a circular this collection lacks, and answers with a package.
            server->document.present = true;
            server->document.hasBody = true;
            server->document.labelChildValues = {{QStringLiteral("1001")}};
            updates->btnOK_Click();
            emit server->NavigateComplete2(QLatin1String(UpdateContract::answerPage));
        }
        opened->window = std::move(updates);
    } else {
        opened->window = std::make_unique<frmBrowser>(p.withFakeBrowser(), p.folder());
    }
    opened->window->show();
    QApplication::setActiveWindow(opened->window.get());
    if (!QTest::qWaitForWindowActive(opened->window.get())) {
        qWarning("%s did not become active", qPrintable(which));
    }
    return opened;
}

void addWindowRows()
{
    QTest::addColumn<QString>("window");
    for (const char *window : windows) {
        QTest::newRow(window) << QString::fromLatin1(window);
    }
}

// The first pair of controls that Tab takes out of reading order (row by row
// from the top, left to right along a row), starting from the control read first.
QString outOfReadingOrder(const QList<QWidget *> &cycle, const QWidget *window)
{
    const auto place = [window](const QWidget *w) {
        return QRect(w->mapTo(window, QPoint()), w->size());
    };
    const auto readBefore = [&place](const QWidget *a, const QWidget *b) {
        const QRect first = place(a);
        const QRect second = place(b);
        const bool sameRow =
            (first.top() <= second.center().y() && second.center().y() <= first.bottom()) ||
            (second.top() <= first.center().y() && first.center().y() <= second.bottom());
        return sameRow ? first.left() < second.left() : first.top() < second.top();
    };
    qsizetype start = 0;
    for (qsizetype i = 1; i < cycle.size(); ++i) {
        if (readBefore(cycle[i], cycle[start])) {
            start = i;
        }
    }
    for (qsizetype step = 0; step + 1 < cycle.size(); ++step) {
        const QWidget *from = cycle[(start + step) % cycle.size()];
        const QWidget *to = cycle[(start + step + 1) % cycle.size()];
        if (!readBefore(from, to)) {
            return WindowFaults::pathOf(from, window) + QStringLiteral(" > ") +
                   WindowFaults::pathOf(to, window);
        }
    }
    return {};
}

QStringList names(const QList<QWidget *> &widgets, const QWidget *window)
{
    QStringList all;
    for (const QWidget *widget : widgets) {
        all.append(widget ? WindowFaults::pathOf(widget, window) : QStringLiteral("<lost>"));
    }
    return all;
}

} // namespace

class TestWindows : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The windows are laid out for the dialog font the program sets.
        useClassicDialogFont();
        const QByteArray dpi = qgetenv("LEGISDISCO_TEST_DPI");
        if (!dpi.isEmpty()) {
            QCOMPARE(QGuiApplication::primaryScreen()->logicalDotsPerInchY(), dpi.toDouble());
        }
    }

    void nothingClippedOverlappingOrCutOff_data() { addWindowRows(); }
    void nothingClippedOverlappingOrCutOff()
    {
        QFETCH(QString, window);
        const auto opened = open(window);
        const QStringList faults = WindowFaults::layout(opened->window.get());
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));
    }

    // The page fills the main window between the bars, whatever its size.
    void thePageFillsTheRoomBetweenTheBars_data()
    {
        QTest::addColumn<double>("wider");
        QTest::addColumn<double>("taller");
        QTest::newRow("design size") << 1.0 << 1.0;
        QTest::newRow("larger") << 1.5 << 1.5;
        QTest::newRow("wide") << 2.5 << 1.0;
        QTest::newRow("tall") << 1.0 << 2.5;
    }
    void thePageFillsTheRoomBetweenTheBars()
    {
        QFETCH(double, wider);
        QFETCH(double, taller);
        const auto opened = open(QStringLiteral("main window"));
        auto *main = static_cast<frmBrowser *>(opened->window.get());
        main->resize(qRound(main->width() * wider), qRound(main->height() * taller));
        const QWidget *client = main->centralWidget();
        QTRY_COMPARE(main->WebBrowser1->width(), client->width());
        const QStringList faults = WindowFaults::layout(main);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));
        const QRect page = main->WebBrowser1->geometry();
        QCOMPARE(page.left(), 0);
        const int above = page.top() - main->CoolBar1->geometry().bottom() - 1;
        const int below = main->StatusBar1->geometry().top() - page.bottom() - 1;
        QVERIFY2(
            above >= 0 && above <= 2 && below >= 0 && below <= 3,
            qPrintable(QStringLiteral("%1 px above the page, %2 below").arg(above).arg(below)));
    }

    void everyControlIsNamed_data() { addWindowRows(); }
    void everyControlIsNamed()
    {
        QFETCH(QString, window);
        const auto opened = open(window);
        const QStringList faults = WindowFaults::unnamed(opened->window.get());
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));
    }

    void tabReachesEveryControlOnceAndWraps_data()
    {
        QTest::addColumn<QString>("window");
        // The main window's address bar comes before the toolbar above it.
        QTest::addColumn<bool>("readingOrder");
        for (const char *window : windows) {
            QTest::newRow(window) << QString::fromLatin1(window)
                                  << (QByteArray(window) != "main window");
        }
    }
    void tabReachesEveryControlOnceAndWraps()
    {
        QFETCH(QString, window);
        QFETCH(bool, readingOrder);
        const auto opened = open(window);
        QWidget *const w = opened->window.get();
        const QList<QWidget *> forward = WindowFaults::tabCycle(w);
        QStringList visited = names(forward, w);
        QVERIFY2(!forward.contains(nullptr), qPrintable(visited.join(QStringLiteral(" > "))));
        QStringList stops = names(WindowFaults::tabStops(w), w);
        visited.sort();
        stops.sort();
        QCOMPARE(visited, stops);
        if (readingOrder) {
            const QString jump = outOfReadingOrder(forward, w);
            QVERIFY2(jump.isEmpty(), qPrintable(jump));
        }
        // Shift+Tab walks the same way back.
        QList<QWidget *> backward = WindowFaults::tabCycle(w, true);
        std::reverse(backward.begin() + 1, backward.end());
        QCOMPARE(names(backward, w), names(forward, w));
    }

    void noAccessKeyIsShared_data() { addWindowRows(); }
    void noAccessKeyIsShared()
    {
        QFETCH(QString, window);
        const auto opened = open(window);
        const QStringList faults = WindowFaults::sharedAccessKeys(opened->window.get());
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));
    }

    void eachAccessKeyReachesItsControl_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("control");
        for (const char *window : windows) {
            const auto opened = open(QString::fromLatin1(window));
            for (const WindowFaults::AccessKey &key :
                 WindowFaults::accessKeys(opened->window.get())) {
                if (key.menu ? key.menu->isEnabled() : key.control->isEnabled()) {
                    QTest::addRow("%s, %s", window, qPrintable(key.key.toString()))
                        << QString::fromLatin1(window) << key.name;
                }
            }
        }
    }
    void eachAccessKeyReachesItsControl()
    {
        QFETCH(QString, window);
        QFETCH(QString, control);
        const auto opened = open(window);
        QWidget *const w = opened->window.get();
        WindowFaults::AccessKey key;
        for (const WindowFaults::AccessKey &candidate : WindowFaults::accessKeys(w)) {
            if (candidate.name == control) {
                key = candidate;
            }
        }
        QVERIFY(!key.key.isEmpty());
        std::unique_ptr<QSignalSpy> pressed;
        if (key.presses) {
            pressed = std::make_unique<QSignalSpy>(qobject_cast<QAbstractButton *>(key.control),
                                                   &QAbstractButton::clicked);
        }
        QTest::keyClick(w, key.key[0].key(), key.key[0].keyboardModifiers());
        if (key.menu) {
            QTRY_COMPARE(QApplication::activePopupWidget(), key.menu->menu());
            QApplication::activePopupWidget()->close();
        } else if (pressed) {
            QTRY_COMPARE(pressed->size(), 1);
        } else {
            QTRY_COMPARE(QApplication::focusWidget(), key.control);
        }
    }

    // Enter is OK and Escape is Cancel where a dialog has them; where it has
    // not, neither closes it.
    void enterAndEscape_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("outcome"); // -1: stays open
        const int open = -1;
        const auto row = [](const char *name, const char *window, const char *focus, int key,
                            int outcome) {
            QTest::newRow(name) << QString::fromLatin1(window) << QString::fromLatin1(focus) << key
                                << outcome;
        };
        row("proxy dialog, Escape", "proxy dialog", "txtHttp", Qt::Key_Escape, QDialog::Rejected);
        row("proxy dialog, Enter", "proxy dialog", "txtHttp", Qt::Key_Return, QDialog::Accepted);
        row("user data form, Escape", "user data form", "txtApellido", Qt::Key_Escape, open);
        row("user data form, Enter in a box", "user data form", "txtEmail", Qt::Key_Return, open);
        row("first-run prompt, Escape", "first-run prompt", "OKButton", Qt::Key_Escape, open);
        row("first-run prompt, Enter on the box", "first-run prompt", "chkmostrar", Qt::Key_Return,
            open);
        row("update window, Escape", "update window", "listVersion", Qt::Key_Escape, open);
    }
    void enterAndEscape()
    {
        QFETCH(QString, window);
        QFETCH(QString, focus);
        QFETCH(int, key);
        QFETCH(int, outcome);
        const auto opened = open(window);
        auto *dialog = qobject_cast<QDialog *>(opened->window.get());
        QVERIFY(dialog);
        auto *control = dialog->findChild<QWidget *>(focus);
        QVERIFY(control);
        control->setFocus();
        QTest::keyClick(control, Qt::Key(key));
        QCOMPARE(dialog->isVisible(), outcome < 0);
        if (outcome >= 0) {
            QCOMPARE(dialog->result(), outcome);
        }
    }

    // The checks above can fail: each finds what it looks for in a window
    // built with that fault, and nothing else.
    void theChecksFindTheirFaults_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("check");
        QTest::newRow("clipped caption") << 0 << "layout";
        QTest::newRow("overlapping boxes") << 1 << "layout";
        QTest::newRow("button outside the window") << 2 << "layout";
        QTest::newRow("box without a name") << 3 << "names";
        QTest::newRow("picture button without a tooltip") << 4 << "names";
        QTest::newRow("one access key for two controls") << 5 << "keys";
        QTest::newRow("a box that keeps Tab") << 6 << "tab";
        QTest::newRow("Tab out of reading order") << 7 << "order";
    }
    void theChecksFindTheirFaults()
    {
        QFETCH(int, fault);
        QFETCH(QString, check);
        QDialog dialog;
        dialog.resize(400, 200);
        auto *caption = new QLabel(QStringLiteral("&Nombre:"), &dialog);
        caption->setGeometry(10, 10, 100, 30);
        auto *box = new QLineEdit(&dialog);
        caption->setBuddy(box);
        box->setGeometry(120, 10, 200, 30);
        auto *button = new QPushButton(QStringLiteral("&Aceptar"), &dialog);
        button->setGeometry(250, 60, 140, 40);
        QWidget *extra = nullptr;
        switch (fault) {
        case 0:
            extra = new QLabel(QStringLiteral("Un texto que no cabe en tan poco"), &dialog);
            break;
        case 1:
        case 3:
            extra = new QLineEdit(&dialog);
            extra->setAccessibleName(fault == 1 ? QStringLiteral("Otro") : QString());
            break;
        case 2:
            extra = new QPushButton(QStringLiteral("Salir"), &dialog);
            break;
        case 4:
            extra = new QToolButton(&dialog);
            static_cast<QToolButton *>(extra)->setIcon(
                dialog.style()->standardIcon(QStyle::SP_DialogHelpButton));
            extra->setAccessibleName(QStringLiteral("Ayuda"));
            break;
        case 5:
            extra = new QCheckBox(QStringLiteral("&Notas"), &dialog);
            break;
        case 6:
            extra = new QPlainTextEdit(&dialog);
            extra->setAccessibleName(QStringLiteral("Notas"));
            break;
        case 7:
            extra = new QLineEdit(&dialog);
            extra->setAccessibleName(QStringLiteral("Otro"));
            QWidget::setTabOrder(box, extra);
            break;
        }
        // Where the fault needs it: over the box, or half out of the window.
        extra->setGeometry(fault == 1   ? QRect(100, 20, 100, 30)
                           : fault == 2 ? QRect(340, 110, 100, 30)
                                        : QRect(10, 110, 100, 30));
        dialog.show();
        QApplication::setActiveWindow(&dialog);
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        box->setFocus();
        const QList<QWidget *> cycle = WindowFaults::tabCycle(&dialog);
        const bool wholeCycle =
            cycle.size() == WindowFaults::tabStops(&dialog).size() && !cycle.contains(nullptr);
        const QString jump = wholeCycle ? outOfReadingOrder(cycle, &dialog) : QString();
        const QMap<QString, QStringList> found{
            {QStringLiteral("layout"), WindowFaults::layout(&dialog)},
            {QStringLiteral("names"), WindowFaults::unnamed(&dialog)},
            {QStringLiteral("keys"), WindowFaults::sharedAccessKeys(&dialog)},
            {QStringLiteral("tab"), wholeCycle ? QStringList() : names(cycle, &dialog)},
            {QStringLiteral("order"), jump.isEmpty() ? QStringList() : QStringList{jump}},
        };
        for (auto it = found.cbegin(); it != found.cend(); ++it) {
            QVERIFY2(it.value().isEmpty() == (it.key() != check),
                     qPrintable(it.key() + QStringLiteral(": ") + it.value().join(u'\n')));
        }
    }
};

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
