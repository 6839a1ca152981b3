// Every window as a user meets it: nothing clipped, overlapping or cut off,
// every control named for assistive technologies, and the keyboard reaching
// every control. Run again on a screen of 144 dpi (tst_windows_144dpi).

#include "classicfont.h"
#include "coolbar.h"
#include "downloaddialog.h"
#include "findbar.h"
#include "firstdialog.h"
#include "frmactualiza.h"
#include "frmbrowser.h"
#include "frmdatos.h"
#include "frmproxytest.h"
#include "printprogress.h"
#include "qtmessageboxes.h"
#include "searchtools.h"
#include "testplatform.h"
#include "updatecontract.h"
#include "windowfaults.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

const char *const windows[] = {
    "proxy dialog",
    "user data form",
    "first-run prompt",
    "update window",
    "update window with the answer",
    "main window",
    "main window, find bar and results open",
};

// Windows that only show how something goes: their keys are their own.
const char *const progressWindows[] = {
    "print progress",
    "download dialog",
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
    } else if (which == QLatin1String("print progress")) {
        auto progress = std::make_unique<PrintProgress>(QStringLiteral("1007.pdf"), 40, nullptr);
        progress->advance(3, 40);
        opened->window = std::move(progress);
    } else if (which == QLatin1String("download dialog")) {
        opened->window = std::make_unique<DownloadDialog>(
            QStringLiteral("http://127.0.0.1/paquete.zip"), 1024, nullptr, p.downloadFolders, 1000);
    } else {
        auto main = std::make_unique<frmBrowser>(p.withFakeBrowser(), p.folder());
        if (which.endsWith(QLatin1String("open"))) {
            main->search->togglePane();
            main->search->findBar->openBar(QStringLiteral("circular"));
        }
        opened->window = std::move(main);
    }
    opened->window->show();
    QApplication::setActiveWindow(opened->window.get());
    if (!QTest::qWaitForWindowActive(opened->window.get())) {
        qWarning("%s did not become active", qPrintable(which));
    }
    return opened;
}

QString lines(const QStringList &faults)
{
    return faults.join(u'\n');
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

    void nothingAUserWouldFindWrong_data()
    {
        QTest::addColumn<QString>("window");
        // The main window's address bar comes before the toolbar above it.
        QTest::addColumn<bool>("readingOrder");
        for (const char *window : windows) {
            QTest::newRow(window) << QString::fromLatin1(window)
                                  << !QByteArray(window).startsWith("main window");
        }
        for (const char *window : progressWindows) {
            QTest::newRow(window) << QString::fromLatin1(window) << true;
        }
    }
    void nothingAUserWouldFindWrong()
    {
        QFETCH(QString, window);
        QFETCH(bool, readingOrder);
        const auto opened = open(window);
        QWidget *const w = opened->window.get();
        // The find bar lies over the top of the page by design.
        const bool overPage = window.endsWith(QLatin1String("open"));
        const QStringList faults = (overPage ? QStringList() : WindowFaults::layout(w)) +
                                   WindowFaults::unnamed(w) + WindowFaults::sharedAccessKeys(w) +
                                   WindowFaults::tab(w, readingOrder);
        QVERIFY2(faults.isEmpty(), qPrintable(lines(faults)));
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
        QVERIFY2(faults.isEmpty(), qPrintable(lines(faults)));
        const QRect page = main->WebBrowser1->geometry();
        QCOMPARE(page.left(), 0);
        const int above = page.top() - main->CoolBar1->geometry().bottom() - 1;
        const int below = main->StatusBar1->geometry().top() - page.bottom() - 1;
        QVERIFY2(
            above >= 0 && above <= 2 && below >= 0 && below <= 3,
            qPrintable(QStringLiteral("%1 px above the page, %2 below").arg(above).arg(below)));
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

    // The message boxes the program builds, as they stand open.
    void messageBoxes_data()
    {
        QTest::addColumn<int>("kind"); // 0 message, 1 offer, 2 question
        QTest::newRow("message") << 0;
        QTest::newRow("offer of an action") << 1;
        QTest::newRow("question") << 2;
    }
    void messageBoxes()
    {
        QFETCH(int, kind);
        QtMessageBoxes messages;
        QStringList faults{QStringLiteral("no box opened")};
        // Looked for until it stands open, then closed whatever is found in it.
        QTimer closer;
        closer.setInterval(10);
        QObject::connect(&closer, &QTimer::timeout, [&faults, &closer] {
            QWidget *box = QApplication::activeModalWidget();
            if (!box) {
                return;
            }
            closer.stop();
            faults = QTest::qWaitForWindowActive(box)
                         ? WindowFaults::unnamed(box) + WindowFaults::sharedAccessKeys(box) +
                               WindowFaults::tab(box, false)
                         : QStringList{QStringLiteral("the box never became active")};
            if (auto *button = box->findChild<QAbstractButton *>()) {
                button->click();
            } else if (auto *dialog = qobject_cast<QDialog *>(box)) {
                faults.append(QStringLiteral("the box has no button"));
                dialog->done(0);
            }
        });
        closer.start();
        const QString text = QStringLiteral("Se descargaron 3 circulares nuevas.");
        if (kind == 0) {
            messages.show(nullptr, text, MessageIcon::Information, QStringLiteral("Legisdisco"));
        } else if (kind == 1) {
            messages.offer(nullptr, text, MessageIcon::Information, QStringLiteral("Legisdisco"),
                           QStringLiteral("&Ver la lista"));
        } else {
            messages.ask(nullptr, text, QStringLiteral("Legisdisco"));
        }
        QVERIFY2(faults.isEmpty(), qPrintable(lines(faults)));
    }

    // Enter is OK and Escape is Cancel where a dialog has them; where it has
    // not, neither closes it. (The proxy dialog's Escape and the user data
    // form's keys are tested with what they store, in their own tests.)
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
        row("proxy dialog, Enter", "proxy dialog", "txtHttp", Qt::Key_Return, QDialog::Accepted);
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

    // The checks above can fail: each finds its fault, and nothing else, in
    // the proxy dialog with that fault put in.
    void theChecksFindTheirFaults_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("check"); // 0 layout, 1 names, 2 access keys, 3 Tab
        QTest::newRow("clipped caption") << 0 << 0;
        QTest::newRow("overlapping boxes") << 1 << 0;
        QTest::newRow("button outside the window") << 2 << 0;
        QTest::newRow("button without a name") << 3 << 1;
        QTest::newRow("button without caption or tooltip") << 4 << 1;
        QTest::newRow("one access key for two boxes") << 5 << 2;
        QTest::newRow("a box that keeps Tab") << 6 << 3;
        QTest::newRow("Tab out of reading order") << 7 << 3;
    }
    void theChecksFindTheirFaults()
    {
        QFETCH(int, fault);
        QFETCH(int, check);
        const auto opened = open(QStringLiteral("proxy dialog"));
        auto *dialog = static_cast<frmProxyTest *>(opened->window.get());
        QWidget *const address = dialog->txtAddress;
        QWidget *const cancel = dialog->cmdSetProxyInfo;
        switch (fault) {
        case 0:
            dialog->Label4->resize(dialog->Label4->width() / 2, dialog->Label4->height());
            break;
        case 1:
            address->resize(dialog->txtPort->x() - address->x() + 1, address->height());
            break;
        case 2:
            cancel->resize(2 * cancel->width(), cancel->height());
            break;
        case 3:
            dialog->cmdOK->setAccessibleName(QString());
            dialog->cmdOK->setText(QString());
            dialog->cmdOK->setToolTip(QStringLiteral("OK"));
            break;
        case 4:
            dialog->cmdApply->setText(QString());
            break;
        case 5:
            dialog->Label7->setText(dialog->Label6->text());
            break;
        case 6:
            dialog->txtAddresses->setTabChangesFocus(false);
            break;
        case 7:
            QWidget::setTabOrder(dialog->txtHttp, dialog->txtSocks);
            break;
        }
        const QStringList found[] = {WindowFaults::layout(dialog), WindowFaults::unnamed(dialog),
                                     WindowFaults::sharedAccessKeys(dialog),
                                     WindowFaults::tab(dialog, true)};
        for (int i = 0; i < 4; ++i) {
            QVERIFY2(found[i].isEmpty() == (i != check), qPrintable(lines(found[i])));
        }
    }
};

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
