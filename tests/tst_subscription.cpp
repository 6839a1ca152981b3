#include "fakeprofilefile.h"
#include "firstdialog.h"
#include "frmbrowser.h"
#include "mailaddresses.h"
#include "modalcloser.h"
#include "testplatform.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QUrl>

namespace {
const QByteArray complete = "[user]\r\nname=Ana\r\nlastname=Mora\r\nemail=ana@example.org\r\n"
                            "job=\r\n[http]\r\ncemail=alta@example.org\r\n"
                            "web=https://example.org/legisdisco/\r\n[init]\r\nshow=1\r\n";
const QByteArray noName = "[user]\r\nname=\r\nlastname=Mora\r\nemail=ana@example.org\r\n"
                          "[http]\r\ncemail=alta@example.org\r\n[init]\r\nshow=1\r\n";

QString show(const TestPlatform &p)
{
    return p.profile.getString(QStringLiteral("init"), QStringLiteral("show"), QStringLiteral("?"),
                               255, p.settingsPath());
}
} // namespace

class TestSubscription : public QObject {
    Q_OBJECT

private slots:
    void pageAddresses_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        const QString web = QStringLiteral("https://example.org/legisdisco/");
        const QString folder = QStringLiteral("/opt/legisdisco");
        QTest::newRow("web page") << QStringLiteral("http://h/x.htm?a=1")
                                  << QStringLiteral("http://h/x.htm?a=1");
        QTest::newRow("page of the collection") << folder + QStringLiteral("/pagina/maincd.htm")
                                                << web + QStringLiteral("pagina/maincd.htm");
        QTest::newRow("file URL of the collection")
            << QStringLiteral("file:///opt/legisdisco/circulares/1001.pdf")
            << web + QStringLiteral("circulares/1001.pdf");
        QTest::newRow("standard Windows folder")
            << QStringLiteral("C:\\programa\\pagina\\maincd.htm")
            << web + QStringLiteral("pagina/maincd.htm");
        QTest::newRow("https is cut like a local text")
            << QStringLiteral("https://example.com/a.htm") << web + QStringLiteral("ple.com/a.htm");
        QTest::newRow("capital HTTP is cut like a local text")
            << QStringLiteral("HTTP://example.com/a.htm") << web + QStringLiteral("le.com/a.htm");
        QTest::newRow("twelve characters") << QStringLiteral("abcdefghijkl") << web;
        QTest::newRow("empty") << QString() << web;
        QTest::newRow("cut through a character outside the BMP")
            << QStringLiteral("file:///C:/\U0001F600x.htm") << web + QStringLiteral("x.htm");
        QTest::newRow("folder with a longer name is not inside")
            << QStringLiteral("/opt/legisdisco2/pagina/x.htm")
            << web + QStringLiteral("sco2/pagina/x.htm");
    }

    void pageAddresses()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(pageAddress(text, QStringLiteral("https://example.org/legisdisco/"),
                             QStringLiteral("/opt/legisdisco")),
                 expected);
    }

    void mailAddresses()
    {
        QCOMPARE(sendPageMail(QStringLiteral("http://h/p.asp?a=1&b=2#s")),
                 QStringLiteral("mailto:?subject=Revisar%20el%20siguiente%20documento&body="
                                "http://h/p.asp?a%3D1%26b%3D2%23s"));
        // The body arrives whole when the address is read back under the mailto rules.
        const QUrl mail(sendPageMail(QStringLiteral("http://h/a b%20ñ.htm?x=1&y=2")));
        const QString query = mail.query(QUrl::FullyEncoded);
        const QStringList fields = query.split(QLatin1Char('&'));
        QCOMPARE(fields.size(), 2);
        QCOMPARE(QUrl::fromPercentEncoding(fields[1].mid(5).toLatin1()),
                 QStringLiteral("http://h/a b%20ñ.htm?x=1&y=2"));
        QVERIFY(userDataComplete(QStringLiteral("?"), QStringLiteral(" "), QStringLiteral("?")));
        QVERIFY(!userDataComplete(QStringLiteral("a"), QString(), QStringLiteral("b")));
    }

    // The input the fuzzer found: the file URL of a folder (not a page inside it)
    // whose cut fell between the two halves of a character outside the BMP.
    void sentAddressKeepsWholeCharacters()
    {
        const QString folder = QDir::cleanPath(
            QLatin1Char('/') + QString::fromUtf8("\xff"
                                                 "D\xaa\xf1\xaa\xaa\xaa\xaa\xaa\xaa\xaa\xaa\xaa"
                                                 "\xaa\xff\xff\xff\xfb\xff\xff\xff\xff\xff\xff"));
        const QString web = QString::fromUtf8("\x00\x88\xbc", 3);
        const QString address =
            pageAddress(QUrl::fromLocalFile(folder + QLatin1Char('/')).toString(), web, folder);
        QVERIFY(address.startsWith(web));
        QVERIFY(address.isValidUtf16());
        const QString mail = sendPageMail(address);
        const QString body = mail.mid(mail.indexOf(QLatin1String("&body=")) + 6);
        QCOMPARE(QString::fromUtf8(QByteArray::fromPercentEncoding(body.toLatin1())), address);
    }

    void promptOutcomes_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<bool>("ticked");
        QTest::addColumn<bool>("mail");
        QTest::addColumn<QString>("showAfter");
        QTest::addColumn<QStringList>("modals");
        const QStringList none;
        const QStringList form{QStringLiteral("frmDatos")};
        QTest::newRow("Si, complete, unticked") << "si" << complete << false << true << "0" << none;
        QTest::newRow("Si, complete, ticked") << "si" << complete << true << true << "0" << none;
        QTest::newRow("Si, incomplete, unticked")
            << "si" << noName << false << false << "1" << form;
        QTest::newRow("Si, incomplete, ticked") << "si" << noName << true << false << "0" << form;
        QTest::newRow("No, unticked") << "no" << complete << false << false << "1" << none;
        QTest::newRow("Enter on Si") << "si-enter" << complete << false << true << "0" << none;
        QTest::newRow("Enter on No, ticked")
            << "no-enter" << complete << true << false << "0" << none;
        QTest::newRow("No, ticked") << "no" << noName << true << false << "0" << none;
        QTest::newRow("close box, unticked")
            << "close" << complete << false << false << "1" << none;
        QTest::newRow("close box, ticked") << "close" << complete << true << false << "0" << none;
    }

    void promptOutcomes()
    {
        QFETCH(QString, ending);
        QFETCH(QByteArray, settings);
        QFETCH(bool, ticked);
        QFETCH(bool, mail);
        QFETCH(QString, showAfter);
        QFETCH(QStringList, modals);
        TestPlatform p;
        p.writeSettings(settings);
        ModalCloser closer;
        firstDialog prompt(p.profile, p.shell, p.messages, p.folder(), nullptr);
        prompt.show();
        QVERIFY(QTest::qWaitForWindowExposed(&prompt));
        if (ticked) {
            QTest::mouseClick(prompt.chkmostrar, Qt::LeftButton, {},
                              QPoint(5, prompt.chkmostrar->height() / 2));
            QVERIFY(prompt.chkmostrar->isChecked());
        }
        if (ending == QLatin1String("si")) {
            QTest::mouseClick(prompt.OKButton, Qt::LeftButton);
        } else if (ending.endsWith(QLatin1String("-enter"))) {
            // Enter on the focused button presses it, as on Windows.
            QPushButton *button =
                ending.startsWith(QLatin1String("si")) ? prompt.OKButton : prompt.CancelButton;
            button->setFocus();
            QTest::keyClick(button, Qt::Key_Return);
        } else if (ending == QLatin1String("no")) {
            QTest::mouseClick(prompt.CancelButton, Qt::LeftButton);
        } else {
            prompt.close();
        }
        QVERIFY(!prompt.isVisible());
        QCOMPARE(closer.seen, modals);
        QCOMPARE(show(p), showAfter);
        QCOMPARE(p.shell.calls.size(), mail ? 1 : 0);
        if (mail) {
            const FakeShell::Call call = p.shell.calls.first();
            QCOMPARE(call.owner, &prompt);
            QCOMPARE(call.verb, QStringLiteral("Open"));
            QCOMPARE(call.document, QStringLiteral("mailto:alta@example.org?subject=Subscribe"));
            QCOMPARE(call.directory, p.folder());
            QCOMPARE(call.show, 3);
        }
    }

    void aChoiceThatCannotBeStoredIsSaid_data()
    {
        QTest::addColumn<bool>("yes"); // "Si" with complete data, or "No"
        QTest::newRow("si") << true;
        QTest::newRow("no") << false;
    }

    void aChoiceThatCannotBeStoredIsSaid()
    {
        // The offer not to be shown again is a write like any other: when it
        // fails, the user learns that the offer will come back.
        QFETCH(bool, yes);
        const QString folder = QStringLiteral("/opt/legisdisco");
        const QString settings = QDir(folder).filePath(QStringLiteral("legisdis.ini"));
        FakeProfileFile profile;
        for (const auto &[key, value] :
             {std::pair{"name", "Ana"}, {"lastname", "Mora"}, {"email", "ana@example.org"}}) {
            profile.set(QStringLiteral("user"), QLatin1String(key), QLatin1String(value), settings);
        }
        profile.refuseWrites = true;
        FakeShell shell;
        FakeMessageBoxes messages;
        firstDialog prompt(profile, shell, messages, folder, nullptr);
        prompt.show();
        QVERIFY(QTest::qWaitForWindowExposed(&prompt));
        prompt.chkmostrar->setChecked(true);
        QTest::mouseClick(yes ? prompt.OKButton : prompt.CancelButton, Qt::LeftButton);
        QVERIFY(!prompt.isVisible());
        QCOMPARE(profile.writes, QStringList{QStringLiteral("init/show=0")});
        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(messages.shown.first().icon, MessageIcon::Critical);
        QCOMPARE(messages.shown.first().owner, &prompt);
        QVERIFY2(messages.shown.first().text.startsWith(QStringLiteral("No se pudo guardar")),
                 qPrintable(messages.shown.first().text));
        QCOMPARE(shell.calls.size(), yes ? 1 : 0);
    }

    void mailCommandsCheckTheUserData_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("expected");
        QTest::newRow("subscribe") << "mnSuscribir"
                                   << "mailto:alta@example.org?subject=Subscribe";
        QTest::newRow("unsubscribe") << "mnuDessucri"
                                     << "mailto:alta@example.org?subject=Unsubscribe";
        QTest::newRow("send page") << "mnuSendto"
                                   << "mailto:?subject=Revisar%20el%20siguiente%20documento&body="
                                      "https://example.org/legisdisco/pagina/maincd.htm";
    }

    void mailCommandsCheckTheUserData()
    {
        QFETCH(QString, command);
        QFETCH(QString, expected);
        TestPlatform p;
        p.writeSettings(noName);
        frmBrowser window(p.withFakeBrowser(), p.folder());
        window.txtURL->setText(QDir(p.folder()).filePath(QStringLiteral("pagina/maincd.htm")));
        // The two e-mail subscription entries stay unavailable: their handlers are called.
        const auto choose = [&] {
            if (command == QLatin1String("mnSuscribir")) {
                window.mnSuscribir_Click();
            } else if (command == QLatin1String("mnuDessucri")) {
                window.mnuDessucri_Click();
            } else {
                window.mnuSendto->trigger();
            }
        };
        {
            ModalCloser closer;
            choose();
            QCOMPARE(closer.seen, QStringList{QStringLiteral("frmDatos")});
        }
        QVERIFY(p.shell.calls.isEmpty());

        p.writeSettings(complete);
        choose();
        QCOMPARE(p.shell.calls.size(), 1);
        QCOMPARE(p.shell.calls.first().document, expected);
        QCOMPARE(p.shell.calls.first().owner, &window);
        QCOMPARE(p.shell.calls.first().show, 3);
        QCOMPARE(p.shell.calls.first().directory, p.folder());
        QVERIFY(p.messages.shown.isEmpty());
    }

    void withoutSettingsEveryValueIsAQuestionMark()
    {
        TestPlatform p;
        frmBrowser window(p.withFakeBrowser(), p.folder());
        window.mnSuscribir_Click();
        window.txtURL->setText(QStringLiteral("typed, not opened"));
        window.mnuSendto_Click();
        QCOMPARE(p.shell.calls.size(), 2);
        QCOMPARE(p.shell.calls[0].document, QStringLiteral("mailto:??subject=Subscribe"));
        QCOMPARE(
            p.shell.calls[1].document,
            QStringLiteral("mailto:?subject=Revisar%20el%20siguiente%20documento&body=?pened"));
    }

    void webCommandsOpenTheSamePage_data()
    {
        QTest::addColumn<QByteArray>("http");
        QTest::addColumn<QString>("page");
        const QString path = QStringLiteral("/Normativa/RazidudevErurazezozEdivuvivu.aspx");
        QTest::newRow("host of the web base")
            << QByteArray("web=http://www.regulador.example:8080/sitio/\r\n")
            << QStringLiteral("https://www.regulador.example") + path;
        QTest::newRow("a whole address of its own")
            << QByteArray("web=http://www.regulador.example/\r\n"
                          "suscripcion=https://alta.example/x/Alta.aspx?a=1\r\n")
            << QStringLiteral("https://alta.example/x/Alta.aspx?a=1");
        QTest::newRow("empty key: the web base again")
            << QByteArray("web=https://w.example/\r\nsuscripcion=\r\n")
            << QStringLiteral("https://w.example") + path;
        QTest::newRow("neither: nowhere to go") << QByteArray() << QString();
    }

    void webCommandsOpenTheSamePage()
    {
        QFETCH(QByteArray, http);
        QFETCH(QString, page);
        TestPlatform p;
        p.writeSettings("[user]\r\nname=\r\n[http]\r\n" + http);
        frmBrowser window(p.withFakeBrowser(), p.folder());
        window.mnSuscribirWeb->trigger();
        window.mnuDessucriWeb->trigger();
        QCOMPARE(p.lastFakeBrowser->navigations,
                 page.isEmpty() ? QStringList() : (QStringList{page, page}));
        QVERIFY(p.shell.calls.isEmpty());
        QVERIFY(p.messages.shown.isEmpty());
    }
};

QTEST_MAIN(TestSubscription)
#include "tst_subscription.moc"
