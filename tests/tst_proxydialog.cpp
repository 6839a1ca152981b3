#include "chromiumproxy.h"
#include "fakeplatform.h"
#include "fakeproxystore.h"
#include "fileproxystore.h"
#include "frmproxytest.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTest>

namespace {

QString s(const char *text)
{
    return QString::fromUtf8(text);
}

ProxyRecord record(quint32 accessType, const char *proxy, const char *bypass)
{
    return {accessType, s(proxy), s(bypass)};
}

template <typename W> W *child(QWidget &dialog, const char *name)
{
    W *widget = dialog.findChild<W *>(QLatin1String(name));
    if (!widget) {
        qWarning("no control %s", name);
    }
    return widget;
}

const char *const hostAndPortBoxes[] = {
    "txtHttp",    "txtHttpPort", "txtSecure",     "txtSecurePort", "txtFtp",
    "txtFtpPort", "txtGopher",   "txtGopherPort", "txtSocks",      "txtSocksPort",
};
const char *const otherEightBoxes[] = {
    "txtSecure", "txtSecurePort", "txtGopher", "txtGopherPort",
    "txtFtp",    "txtFtpPort",    "txtSocks",  "txtSocksPort",
};
// Whether the control itself is enabled, whatever its frame.
bool ownEnabled(QWidget *widget)
{
    return !widget->testAttribute(Qt::WA_ForceDisabled);
}

void click(QAbstractButton *button)
{
    QVERIFY(button);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
}

// Shows the dialog and makes it the active window, as a user's click would.
bool showActive(QWidget &dialog)
{
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    return QTest::qWaitForWindowActive(&dialog);
}

} // namespace

class TestProxyDialog : public QObject {
    Q_OBJECT

    // The use-proxy box rules every control of the three frames but itself
    // and the pictures; the buttons below the frames keep to themselves.
    static void verifyRuled(frmProxyTest &dialog, bool enabled)
    {
        for (QGroupBox *frame : {dialog.Frame1, dialog.Frame2, dialog.Frame3}) {
            const QList<QWidget *> controls =
                frame->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly);
            for (QWidget *control : controls) {
                if (control != dialog.chkUseProxy && control != dialog.Image1 &&
                    control != dialog.Image2) {
                    QVERIFY2(ownEnabled(control) == enabled, qPrintable(control->objectName()));
                    QVERIFY2(control->isEnabled() == enabled, qPrintable(control->objectName()));
                }
            }
        }
        QCOMPARE(dialog.Frame2->isEnabled(), enabled);
        QCOMPARE(dialog.Frame3->isEnabled(), enabled);
        for (QWidget *control : std::initializer_list<QWidget *>{
                 dialog.Frame1, dialog.chkUseProxy, dialog.cmdApply, dialog.cmdOK,
                 dialog.cmdSetProxyInfo, dialog.Image1, dialog.Image2}) {
            QVERIFY2(ownEnabled(control), qPrintable(control->objectName()));
        }
    }

private slots:
    void directConfigurationOpensWithEverythingEnabled()
    {
        FakeProxyStore store;
        store.stored = record(1, "http=h:80 socks=k:1080", "x intranet;<local>");
        FakeMessageBoxes messages;
        frmProxyTest dialog(store, messages, nullptr);
        dialog.show();

        QVERIFY(!dialog.chkUseProxy->isChecked());
        QCOMPARE(dialog.txtHttp->text(), s("h"));
        QCOMPARE(dialog.txtHttpPort->text(), s("80"));
        QCOMPARE(dialog.txtSocks->text(), s("k"));
        QCOMPARE(dialog.txtSocksPort->text(), s("1080"));
        QCOMPARE(dialog.txtAddresses->toPlainText(), s("intranet;<local>"));
        QVERIFY(!dialog.chkBypass->isChecked());
        verifyRuled(dialog, true);

        click(dialog.chkUseProxy); // checking changes nothing visible
        QVERIFY(dialog.chkUseProxy->isChecked());
        verifyRuled(dialog, true);

        click(dialog.chkUseProxy);
        QVERIFY(!dialog.chkUseProxy->isChecked());
        verifyRuled(dialog, false);

        click(dialog.chkUseProxy); // the box can always be checked again
        verifyRuled(dialog, true);
        QVERIFY(store.sets.isEmpty());
        QVERIFY(messages.shown.isEmpty());
    }

    void proxyConfigurationChecksTheBoxAndRunsTheRule()
    {
        FakeProxyStore store;
        store.stored = record(3, "https=s:443", "");
        FakeMessageBoxes messages;
        frmProxyTest dialog(store, messages, nullptr);
        QVERIFY(dialog.chkUseProxy->isChecked());
        QCOMPARE(dialog.txtSecure->text(), s("s"));
        verifyRuled(dialog, true);

        // The box checked while everything is disabled: reading access type 3
        // runs the rule although the box was checked already.
        click(dialog.chkUseProxy);
        verifyRuled(dialog, false);
        dialog.chkUseProxy->setChecked(true);
        verifyRuled(dialog, false);
        messages.onShow = [&store] { store.stored = record(3, "", ""); };
        click(dialog.cmdApply);
        QCOMPARE(store.sets.last(), record(3, "https=s:443", ""));
        QVERIFY(dialog.chkUseProxy->isChecked());
        verifyRuled(dialog, true);
    }

    void readingAccessType1DoesNotRunTheRule()
    {
        FakeProxyStore store;
        FakeMessageBoxes messages;
        frmProxyTest dialog(store, messages, nullptr);
        verifyRuled(dialog, true);
        click(dialog.cmdApply); // stores and reads back {1, "", ""}
        QCOMPARE(store.sets, QList<ProxyRecord>{record(1, "", "")});
        QVERIFY(!dialog.chkUseProxy->isChecked());
        verifyRuled(dialog, true);

        // A checked box stays checked when access type 1 is read.
        dialog.chkUseProxy->setChecked(true);
        messages.onShow = [&store] { store.stored = record(1, "", ""); };
        click(dialog.cmdApply);
        QCOMPARE(store.sets.last().accessType, 3u);
        QVERIFY(dialog.chkUseProxy->isChecked());
    }

    void sameServerRule()
    {
        FakeProxyStore store;
        FakeMessageBoxes messages;
        frmProxyTest dialog(store, messages, nullptr);
        dialog.show();
        dialog.txtHttp->setText(s("h"));
        dialog.txtHttpPort->setText(s("8080"));
        dialog.txtSecure->setText(s("s"));

        click(dialog.chkUseSame);
        QVERIFY(dialog.chkUseSame->isChecked());
        QCOMPARE(dialog.txtAddress->text(), s("h"));
        QCOMPARE(dialog.txtPort->text(), s("8080"));
        for (const char *name : otherEightBoxes) {
            QVERIFY2(!child<QLineEdit>(dialog, name)->isEnabled(), name);
        }
        QVERIFY(dialog.txtHttp->isEnabled());
        QVERIFY(dialog.txtHttpPort->isEnabled());
        QCOMPARE(dialog.txtSecure->text(), s("s")); // kept while disabled

        dialog.txtHttp->setText(s("otro")); // not mirrored
        QCOMPARE(dialog.txtAddress->text(), s("h"));

        click(dialog.chkUseSame);
        QCOMPARE(dialog.txtAddress->text(), QString());
        QCOMPARE(dialog.txtPort->text(), QString());
        for (const char *name : otherEightBoxes) {
            QVERIFY2(child<QLineEdit>(dialog, name)->isEnabled(), name);
        }
        QVERIFY(store.sets.isEmpty());
    }

    void useProxyRuleEnablesTheRowsDespiteTheSameServerBox()
    {
        FakeProxyStore store;
        FakeMessageBoxes messages;
        frmProxyTest dialog(store, messages, nullptr);
        dialog.show();
        click(dialog.chkUseProxy);
        click(dialog.chkUseSame);
        QVERIFY(!dialog.txtSocks->isEnabled());
        click(dialog.chkUseProxy);
        click(dialog.chkUseProxy);
        QVERIFY(dialog.chkUseSame->isChecked());
        for (const char *name : hostAndPortBoxes) {
            QVERIFY2(child<QLineEdit>(dialog, name)->isEnabled(), name);
        }
    }

    void okStoresEveryRowWhateverTheSameServerBox()
    {
        FakeProxyStore store;
        FakeMessageBoxes messages;
        frmProxyTest dialog(store, messages, nullptr);
        dialog.show();
        click(dialog.chkUseProxy);
        dialog.txtHttp->setText(s("h"));
        dialog.txtHttpPort->setText(s("8080"));
        dialog.txtSecure->setText(s("s"));
        dialog.txtSecurePort->setText(s("443"));
        click(dialog.chkUseSame);
        dialog.txtAddress->setText(s("typed")); // never stored
        dialog.txtPort->setText(s("1"));

        click(dialog.cmdOK);
        QCOMPARE(store.sets, QList<ProxyRecord>{record(3, "https=s:443 http=h:8080", "")});
        // The outcome, then (with no way to restart) when the change takes effect.
        QCOMPARE(messages.shown.size(), 2);
        QCOMPARE(messages.shown.last().text, s("La nueva configuración del proxy se usará la "
                                               "próxima vez que inicie el programa."));
        QCOMPARE(messages.shown.last().title, s("Legisdisco"));
        QCOMPARE(messages.shown.first().text, s("The IE proxy settings was updated sucsessfully."));
        QCOMPARE(messages.shown.first().icon, MessageIcon::Information);
        QCOMPARE(messages.shown.first().title, s("IE Proxy Settings"));
        QCOMPARE(messages.shown.first().owner, &dialog);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }

    void applyStoresShowsTheOutcomeAndReadsBack()
    {
        FakeProxyStore store;
        store.stored = record(1, "ftp=old:21", "");
        FakeMessageBoxes messages;
        frmProxyTest dialog(store, messages, nullptr);
        dialog.show();
        QCOMPARE(dialog.txtFtp->text(), s("old"));
        bool openWhileShown = false;
        messages.onShow = [&] { openWhileShown = dialog.isVisible(); };

        dialog.txtAddresses->setPlainText(s("a;b"));
        click(dialog.chkBypass);
        dialog.txtFtp->clear();
        dialog.txtGopher->setText(s("g"));
        dialog.txtGopherPort->setText(s("70"));
        click(dialog.cmdApply);

        QCOMPARE(store.sets, QList<ProxyRecord>{record(1, "gopher=g:70", "a b <local>")});
        QCOMPARE(messages.texts(),
                 QStringList{s("The IE proxy settings was updated sucsessfully.")});
        QVERIFY(openWhileShown);
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.txtAddresses->toPlainText(), s("b"));
        QVERIFY(dialog.chkBypass->isChecked());
        QCOMPARE(dialog.txtFtp->text(), QString()); // the stored list no longer names it
        QCOMPARE(dialog.txtFtpPort->text(), s("21"));
        QCOMPARE(dialog.txtGopher->text(), s("g"));
    }

    void refusedStoreShowsTheExclamationBox()
    {
        FakeProxyStore store;
        store.refuse = true;
        FakeMessageBoxes messages;
        frmProxyTest dialog(store, messages, nullptr);
        dialog.show();
        dialog.txtHttp->setText(s("h"));
        dialog.txtHttpPort->setText(s("80"));
        click(dialog.cmdApply);
        QCOMPARE(store.sets, QList<ProxyRecord>{record(1, "http=h:80", "")});
        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(messages.shown.first().text, s("Unable to update the IE proxy settings."));
        QCOMPARE(messages.shown.first().icon, MessageIcon::Exclamation);
        QCOMPARE(messages.shown.first().title, s("IE Proxy Settings"));
        QCOMPARE(messages.shown.first().owner, &dialog);
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.txtHttp->text(), s("h"));
        QCOMPARE(dialog.txtHttpPort->text(), s("80"));

        click(dialog.cmdOK); // not retried, and the dialog closes all the same
        QCOMPARE(store.sets.size(), 2);
        QCOMPARE(messages.texts().last(), s("Unable to update the IE proxy settings."));
        QCOMPARE(messages.shown.last().icon, MessageIcon::Exclamation);
        QVERIFY(!dialog.isVisible());
    }

    void cancelEscAndTheCloseBoxStoreNothing_data()
    {
        QTest::addColumn<int>("way");
        QTest::newRow("Cancelar") << 0;
        QTest::newRow("Esc") << 1;
        QTest::newRow("close box") << 2;
        QTest::newRow("Esc in the exceptions") << 3;
    }

    void cancelEscAndTheCloseBoxStoreNothing()
    {
        QFETCH(int, way);
        FakeProxyStore store;
        store.stored = record(3, "http=h:80", "");
        FakeMessageBoxes messages;
        frmProxyTest dialog(store, messages, nullptr);
        QVERIFY(showActive(dialog));
        dialog.txtHttp->setText(s("changed"));
        dialog.txtAddresses->setPlainText(s("x;y"));
        switch (way) {
        case 0:
            click(dialog.cmdSetProxyInfo);
            break;
        case 1:
            QTest::keyClick(dialog.txtHttp, Qt::Key_Escape);
            break;
        case 2:
            QVERIFY(dialog.close());
            break;
        case 3:
            dialog.txtAddresses->setFocus();
            QTest::keyClick(dialog.txtAddresses, Qt::Key_Escape);
            break;
        }
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QVERIFY(store.sets.isEmpty());
        QVERIFY(messages.shown.isEmpty());
        QCOMPARE(store.stored, record(3, "http=h:80", ""));
    }

    void aChangeOffersToRestart_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<bool>("restartWorks");
        QTest::newRow("OK, yes") << s("cmdOK") << true << true;
        QTest::newRow("OK, no") << s("cmdOK") << false << true;
        QTest::newRow("Aplicar, yes") << s("cmdApply") << true << true;
        QTest::newRow("Aplicar, yes, the restart fails") << s("cmdApply") << true << false;
    }

    void aChangeOffersToRestart()
    {
        QFETCH(QString, button);
        QFETCH(bool, answer);
        QFETCH(bool, restartWorks);
        FakeProxyStore store;
        FakeMessageBoxes messages;
        messages.answer = answer;
        FakeProgramRestart restart;
        restart.works = restartWorks;
        frmProxyTest dialog(store, messages, nullptr, &restart);
        dialog.show();
        click(dialog.chkUseProxy);
        dialog.txtHttp->setText(s("h"));
        dialog.txtHttpPort->setText(s("8080"));
        click(dialog.findChild<QPushButton *>(button));

        QCOMPARE(messages.asked.size(), 1);
        QCOMPARE(messages.asked.first().text,
                 s("La nueva configuración del proxy se usará cuando el programa se reinicie. "
                   "¿Desea reiniciarlo ahora?"));
        QCOMPARE(messages.asked.first().title, s("Legisdisco"));
        QCOMPARE(messages.asked.first().owner, &dialog);
        QCOMPARE(restart.restarts, answer ? 1 : 0);
        QStringList shown{s("The IE proxy settings was updated sucsessfully.")};
        if (answer && !restartWorks) {
            shown.append(s("No se pudo reiniciar el programa."));
        }
        QCOMPARE(messages.texts(), shown);
    }

    void noChangeForTheEngineNoOffer()
    {
        // Storing what is stored already, or what the engine cannot tell from
        // it (a Gopher row), changes nothing the browser uses.
        FakeProxyStore store;
        store.stored = record(3, "http=h:80", "");
        FakeMessageBoxes messages;
        FakeProgramRestart restart;
        frmProxyTest dialog(store, messages, nullptr, &restart);
        dialog.show();
        click(dialog.cmdApply);
        dialog.txtGopher->setText(s("g"));
        dialog.txtGopherPort->setText(s("70"));
        click(dialog.cmdOK);
        QCOMPARE(store.sets.size(), 2);
        QVERIFY(messages.asked.isEmpty());
        QCOMPARE(restart.restarts, 0);
    }

    void aFirstChoiceOffersToRestart()
    {
        // Until the reader chooses, the engine follows the system's settings;
        // storing the direct connection the dialog shows then is a change.
        FakeProxyStore store;
        store.chosen = false;
        FakeMessageBoxes messages;
        FakeProgramRestart restart;
        frmProxyTest dialog(store, messages, nullptr, &restart);
        dialog.show();
        click(dialog.cmdOK);
        QCOMPARE(store.sets, QList<ProxyRecord>{record(1, "", "")});
        QCOMPARE(messages.asked.size(), 1);
    }

    void enterInTheExceptionsIsOkAndNoLineBreakIsStored()
    {
        FakeProxyStore store;
        FakeMessageBoxes messages;
        frmProxyTest dialog(store, messages, nullptr);
        QVERIFY(showActive(dialog));
        QVERIFY(dialog.cmdOK->isDefault());
        dialog.txtAddresses->setFocus();
        QTest::keyClicks(dialog.txtAddresses, s("a;b"));
        QTest::keyClick(dialog.txtAddresses, Qt::Key_Return);
        QCOMPARE(store.sets, QList<ProxyRecord>{record(1, "", "a b")});
        QVERIFY(!dialog.isVisible());

        // A line break that gets in all the same (pasted) separates entries.
        frmProxyTest again(store, messages, nullptr);
        again.txtAddresses->setPlainText(s("x\ny\r\nz"));
        click(again.cmdOK);
        QCOMPARE(store.sets.last(), record(1, "", "x y z"));
    }

    void theImagesAreNeverGreyed()
    {
        FakeProxyStore store;
        FakeMessageBoxes messages;
        frmProxyTest dialog(store, messages, nullptr);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        const QImage image1 = dialog.Image1->grab().toImage();
        const QImage image2 = dialog.Image2->grab().toImage();
        click(dialog.chkUseProxy);
        click(dialog.chkUseProxy); // unchecked: both frames disabled
        QVERIFY(!dialog.Frame2->isEnabled() && !dialog.Frame3->isEnabled());
        QVERIFY(!dialog.txtHttp->isEnabled());
        QCOMPARE(dialog.Image1->grab().toImage(), image1);
        QCOMPARE(dialog.Image2->grab().toImage(), image2);
    }

    void okReachesTheNextStart()
    {
        // What OK stores is what the next start gives the browser engine.
        QStandardPaths::setTestModeEnabled(true);
        const QString path = FileProxyStore::defaultPath();
        QFile::remove(path);
        const auto cleanUp = qScopeGuard([&] { QFile::remove(path); });
        {
            FileProxyStore store(path, QProcessEnvironment());
            FakeMessageBoxes messages;
            frmProxyTest dialog(store, messages, nullptr);
            click(dialog.chkUseProxy);
            dialog.txtHttp->setText(s("10.0.0.1"));
            dialog.txtHttpPort->setText(s("8080"));
            dialog.txtAddresses->setPlainText(s("intranet"));
            click(dialog.cmdOK);
        }
        const FileProxyStore atStart(FileProxyStore::defaultPath(),
                                     QProcessEnvironment::systemEnvironment());
        QCOMPARE(engineProxySwitches(atStart.storedRecord()),
                 (QStringList{s("--proxy-server=http=10.0.0.1:8080"),
                              s("--proxy-bypass-list=intranet")}));
    }

    void eachOpeningStartsFromTheStore()
    {
        FakeProxyStore store;
        FakeMessageBoxes messages;
        {
            frmProxyTest dialog(store, messages, nullptr);
            click(dialog.chkUseProxy);
            dialog.txtSocks->setText(s("k"));
            dialog.txtSocksPort->setText(s("1080"));
            dialog.txtAddresses->setPlainText(s("a;b;c"));
            click(dialog.cmdOK);
        }
        QCOMPARE(store.stored, record(3, "socks=k:1080", "a b c"));
        frmProxyTest again(store, messages, nullptr);
        QVERIFY(again.chkUseProxy->isChecked());
        QCOMPARE(again.txtSocks->text(), s("k"));
        QCOMPARE(again.txtSocksPort->text(), s("1080"));
        QCOMPARE(again.txtAddresses->toPlainText(), s("b;c"));
        QVERIFY(!again.chkUseSame->isChecked());
        QCOMPARE(again.txtAddress->text(), QString());
    }

    void centredOnItsOwner()
    {
        QWidget owner;
        owner.setGeometry(100, 80, 900, 700);
        owner.show();
        QVERIFY(QTest::qWaitForWindowExposed(&owner));
        FakeProxyStore store;
        FakeMessageBoxes messages;
        frmProxyTest dialog(store, messages, &owner);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        const QPoint offset = dialog.frameGeometry().center() - owner.frameGeometry().center();
        QVERIFY2(offset.manhattanLength() <= 2,
                 qPrintable(QStringLiteral("%1,%2").arg(offset.x()).arg(offset.y())));
    }
};

QTEST_MAIN(TestProxyDialog)
#include "tst_proxydialog.moc"
