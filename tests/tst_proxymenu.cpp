// The main window's entry for the proxy dialog.

#include "fakeproxystore.h"
#include "frmbrowser.h"
#include "frmproxytest.h"
#include "testplatform.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

class TestProxyMenu : public QObject {
    Q_OBJECT

private slots:
    void theEntryOpensTheDialogModallyOverTheMainWindow()
    {
        TestPlatform p;
        p.proxyStore.stored = {3, QStringLiteral("http=h:8080"), QStringLiteral("x <local>")};
        frmBrowser window(p.withFakeBrowser(), p.folder());
        QVERIFY(!window.mnuConfig->isEnabled()); // unavailable, as it always is

        int openings = 0;
        auto answer = [&] {
            auto *dialog = qobject_cast<frmProxyTest *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            ++openings;
            QCOMPARE(dialog->parentWidget(), &window);
            QVERIFY(dialog->isModal());
            QVERIFY(dialog->chkUseProxy->isChecked());
            QCOMPARE(dialog->txtHttp->text(), QStringLiteral("h"));
            QCOMPARE(dialog->txtHttpPort->text(), QStringLiteral("8080"));
            QVERIFY(dialog->chkBypass->isChecked());
            dialog->txtHttp->setText(QStringLiteral("otro"));
            dialog->cmdSetProxyInfo->click();
        };
        QTimer::singleShot(0, this, answer);
        window.mnuConfig_Click();
        QCOMPARE(openings, 1);
        QVERIFY(p.proxyStore.sets.isEmpty());
        QVERIFY(window.findChildren<frmProxyTest *>().isEmpty()); // closing destroyed it

        // The next opening starts again from the store.
        QTimer::singleShot(0, this, answer);
        window.mnuConfig_Click();
        QCOMPARE(openings, 2);

        QTimer::singleShot(0, this, [&] {
            auto *dialog = qobject_cast<frmProxyTest *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            dialog->txtHttpPort->setText(QStringLiteral("3128"));
            dialog->cmdOK->click();
        });
        window.mnuConfig_Click();
        QCOMPARE(p.proxyStore.sets.size(), 1);
        QCOMPARE(p.proxyStore.sets.first().proxy, QStringLiteral("http=h:3128"));
        QCOMPARE(p.messages.shown.size(), 1);
        QCOMPARE(p.messages.shown.first().title, QStringLiteral("IE Proxy Settings"));
    }
};

QTEST_MAIN(TestProxyMenu)
#include "tst_proxymenu.moc"
