#include "chromiumproxy.h"
#include "fakeplatform.h"
#include "fakeproxystore.h"
#include "fileproxystore.h"
#include "frmproxytest.h"
#include "twips.h"

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
#include <QTemporaryDir>
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
// Everything the use-proxy box enables and disables.
const char *const ruledControls[] = {
    "Frame2",     "Frame3",     "lblAddress",   "txtAddress",    "Label2",    "txtPort",
    "chkBypass",  "Label3",     "Label4",       "Label5",        "Label6",    "Label7",
    "Label8",     "Label9",     "Label10",      "Label11",       "Label12",   "Label13",
    "Label14",    "Label15",    "txtHttp",      "txtHttpPort",   "txtSecure", "txtSecurePort",
    "txtFtp",     "txtFtpPort", "txtGopher",    "txtGopherPort", "txtSocks",  "txtSocksPort",
    "chkUseSame", "Label16",    "txtAddresses", "Label17",
};
// What the use-proxy box never touches.
const char *const untouchedControls[] = {
    "Frame1", "chkUseProxy", "cmdApply", "cmdOK", "cmdSetProxyInfo", "Image1", "Image2",
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

    static void verifyRuled(frmProxyTest &dialog, bool enabled)
    {
        for (const char *name : ruledControls) {
            QWidget *widget = child<QWidget>(dialog, name);
            QVERIFY2(widget, name);
            QVERIFY2(ownEnabled(widget) == enabled, name);
            QVERIFY2(widget->isEnabled() == enabled, name);
        }
        for (const char *name : untouchedControls) {
            QVERIFY2(ownEnabled(child<QWidget>(dialog, name)), name);
        }
    }

private slots:
    void layoutTextsAndNames()
    {
        FakeProxyStore store;
        FakeMessageBoxes messages;
        frmProxyTest dialog(store, messages, nullptr);
        QCOMPARE(dialog.objectName(), s("frmProxyTest"));
        QCOMPARE(dialog.windowTitle(),
                 s("ORVE - Vazivid ad adozudud oz azaraduze zad Ozoduzo ra Vovazar"));
        QVERIFY((dialog.windowFlags() & Qt::WindowType_Mask) == Qt::Tool);
        QVERIFY(!dialog.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!dialog.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
        QVERIFY(dialog.windowFlags().testFlag(Qt::WindowCloseButtonHint));

        const double dpi = Twips::logicalDpi(&dialog);
        auto px = [dpi](int twips) { return Twips::toPixels(twips, dpi); };
        QCOMPARE(dialog.minimumSize(), QSize(px(6120), px(6750)));
        QCOMPARE(dialog.maximumSize(), QSize(px(6120), px(6750)));

        const struct {
            const char *name;
            const char *text;
        } captions[] = {
            {"Frame1", "Proxy Server"},
            {"chkUseProxy", "Utilizar un proxy server"},
            {"lblAddress", "Direccion IP:"},
            {"Label2", "Puerto:"},
            {"chkBypass", "&No utilizar el proxy server para direcciones locales"},
            {"Frame2", "Servers"},
            {"Label3", "Protocolos"},
            {"Label4", "Direcciones IP del servidor proxy"},
            {"Label5", "Puertos"},
            {"Label6", "&HTTP:"},
            {"Label7", "&Secure:"},
            {"Label8", "&FTP:"},
            {"Label9", "&Gopher:"},
            {"Label10", "So&cks:"},
            {"Label11", ":"},
            {"Label12", ":"},
            {"Label13", ":"},
            {"Label14", ":"},
            {"Label15", ":"},
            {"chkUseSame", "&Utilize el mismo servidor proxy para todos los protocolos"},
            {"Frame3", "Excepciones"},
            {"Label16", "No utilize el servidor proxy para las direcciones que empiezen con:"},
            {"Label17", "Utilize punto y coma ( ; ) para separar las entradas."},
            {"cmdApply", "&Aplicar"},
            {"cmdOK", "OK"},
            {"cmdSetProxyInfo", "Cancelar"},
        };
        for (const auto &caption : captions) {
            QWidget *widget = child<QWidget>(dialog, caption.name);
            QVERIFY2(widget, caption.name);
            QString text;
            if (auto *box = qobject_cast<QGroupBox *>(widget))
                text = box->title();
            else if (auto *label = qobject_cast<QLabel *>(widget))
                text = label->text();
            else if (auto *button = qobject_cast<QAbstractButton *>(widget))
                text = button->text();
            QCOMPARE(text, s(caption.text));
        }
        for (const char *name : {"Label11", "Label12", "Label13", "Label14", "Label15"}) {
            QVERIFY(child<QLabel>(dialog, name)->font().bold());
        }
        QVERIFY(!child<QLabel>(dialog, "Image1")->pixmap().isNull());
        QVERIFY(!child<QLabel>(dialog, "Image2")->pixmap().isNull());

        // Places in twips, relative to the window or to the enclosing frame.
        const struct {
            const char *name;
            const char *parent;
            QRect twips;
        } places[] = {
            {"Frame1", "frmProxyTest", {120, 120, 5895, 1575}},
            {"chkUseProxy", "Frame1", {120, 360, 2175, 195}},
            {"txtAddress", "Frame1", {1440, 720, 1815, 285}},
            {"txtPort", "Frame1", {4080, 720, 1095, 285}},
            {"chkBypass", "Frame1", {360, 1080, 4335, 255}},
            {"Frame2", "frmProxyTest", {120, 1800, 5895, 2775}},
            {"Image1", "Frame2", {120, 240, 480, 480}},
            {"txtHttp", "Frame2", {1800, 600, 2535, 285}},
            {"Label12", "Frame2", {4440, 960, 75, 195}},
            {"txtFtpPort", "Frame2", {4560, 1320, 735, 285}},
            {"txtSocks", "Frame2", {1800, 2040, 2535, 285}},
            {"chkUseSame", "Frame2", {840, 2400, 4455, 255}},
            {"Frame3", "frmProxyTest", {120, 4680, 5895, 1455}},
            {"txtAddresses", "Frame3", {720, 480, 4575, 495}},
            {"cmdApply", "frmProxyTest", {120, 6240, 1215, 375}},
            {"cmdOK", "frmProxyTest", {3480, 6240, 1215, 375}},
            {"cmdSetProxyInfo", "frmProxyTest", {4800, 6240, 1215, 375}},
        };
        for (const auto &place : places) {
            QWidget *widget = child<QWidget>(dialog, place.name);
            QVERIFY2(widget, place.name);
            QCOMPARE(widget->parentWidget()->objectName(), s(place.parent));
            QCOMPARE(widget->geometry(), QRect(px(place.twips.x()), px(place.twips.y()),
                                               px(place.twips.width()), px(place.twips.height())));
        }

        // Initial state with a direct configuration and no lists.
        for (const char *name : hostAndPortBoxes) {
            QCOMPARE(child<QLineEdit>(dialog, name)->text(), QString());
        }
        QCOMPARE(dialog.txtAddresses->toPlainText(), QString());
        QVERIFY(!dialog.chkUseProxy->isChecked());
        QVERIFY(!dialog.chkBypass->isChecked());
        QVERIFY(!dialog.chkUseSame->isChecked());
        QCOMPARE(dialog.txtAddresses->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QVERIFY(dialog.cmdOK->isDefault());
        QCOMPARE(store.sets.size(), 0);
        QCOMPARE(store.queries, 1);
    }

    void tabOrderAndAccessKeys()
    {
        FakeProxyStore store;
        FakeMessageBoxes messages;
        frmProxyTest dialog(store, messages, nullptr);
        QVERIFY(showActive(dialog));
        QCOMPARE(QApplication::focusWidget(), dialog.chkUseProxy);

        const char *const order[] = {
            "chkUseProxy",  "txtAddress",    "txtPort",       "chkBypass",       "txtHttp",
            "txtHttpPort",  "txtSecure",     "txtSecurePort", "txtFtp",          "txtFtpPort",
            "txtGopher",    "txtGopherPort", "txtSocks",      "txtSocksPort",    "chkUseSame",
            "txtAddresses", "cmdApply",      "cmdOK",         "cmdSetProxyInfo", "chkUseProxy",
        };
        for (const char *name : order) {
            QCOMPARE(QApplication::focusWidget()->objectName(), s(name));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }

        const struct {
            Qt::Key key;
            const char *box;
        } keys[] = {
            {Qt::Key_H, "txtHttp"},   {Qt::Key_S, "txtSecure"}, {Qt::Key_F, "txtFtp"},
            {Qt::Key_G, "txtGopher"}, {Qt::Key_C, "txtSocks"},
        };
        for (const auto &key : keys) {
            QTest::keyClick(&dialog, key.key, Qt::AltModifier);
            QCOMPARE(QApplication::focusWidget()->objectName(), s(key.box));
        }

        dialog.txtHttp->setText(s("h"));
        // A button's access key presses it after a short animation.
        QTest::keyClick(&dialog, Qt::Key_U, Qt::AltModifier);
        QTRY_VERIFY(dialog.chkUseSame->isChecked());
        QCOMPARE(dialog.txtAddress->text(), s("h"));
        QTest::keyClick(&dialog, Qt::Key_N, Qt::AltModifier);
        QTRY_VERIFY(dialog.chkBypass->isChecked());
        QVERIFY(store.sets.isEmpty());
        QTest::keyClick(&dialog, Qt::Key_A, Qt::AltModifier);
        QTRY_COMPARE(store.sets.size(), 1);
        QVERIFY(dialog.isVisible());
    }

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

    void enterInABoxIsOk()
    {
        FakeProxyStore store;
        FakeMessageBoxes messages;
        frmProxyTest dialog(store, messages, nullptr);
        QVERIFY(showActive(dialog));
        dialog.txtHttp->setFocus();
        dialog.txtHttp->setText(s("h"));
        dialog.txtHttpPort->setText(s("1"));
        QTest::keyClick(dialog.txtHttp, Qt::Key_Return);
        QCOMPARE(store.sets, QList<ProxyRecord>{record(1, "http=h:1", "")});
        QVERIFY(!dialog.isVisible());
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

    // The dialog on the store the program uses, not on a fake of it.
    void applyReadsBackFromTheFileStore()
    {
        QTemporaryDir dir;
        FileProxyStore store(dir.filePath(s("proxy.json")), QProcessEnvironment());
        FakeMessageBoxes messages;
        frmProxyTest dialog(store, messages, nullptr);
        dialog.show();
        dialog.txtAddresses->setPlainText(s("a;b"));
        click(dialog.chkBypass);
        click(dialog.cmdApply);
        QCOMPARE(store.query(), record(1, "", "a b <local>"));
        QCOMPARE(dialog.txtAddresses->toPlainText(), s("b"));
        QVERIFY(dialog.chkBypass->isChecked());
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
