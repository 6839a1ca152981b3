#include "fakeplatform.h"
#include "fakeprofilefile.h"
#include "frmdatos.h"
#include "iniprofilefile.h"
#include "testplatform.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <csignal>

#include <sys/resource.h>

class TestFrmDatos : public QObject {
    Q_OBJECT

    static QByteArray read(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
    }

    static void click(frmDatos &form) { QTest::mouseClick(form.cmdAceptar, Qt::LeftButton); }

private slots:
    void withoutSettingsFileShowsAndStoresQuestionMarks()
    {
        TestPlatform p;
        frmDatos form(p.profile, p.messages, p.folder(), nullptr);
        form.show();
        QCOMPARE(form.txtNombre->text(), QStringLiteral("?"));
        QCOMPARE(form.txtApellido->text(), QStringLiteral("?"));
        QCOMPARE(form.txtEmail->text(), QStringLiteral("?"));
        QCOMPARE(form.txtInst->text(), QStringLiteral("?"));
        click(form);
        QVERIFY(p.messages.shown.isEmpty());
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QVERIFY(!form.isVisible());
        for (const char *key : {"name", "lastname", "email", "job"}) {
            QCOMPARE(p.profile.getString(QStringLiteral("user"), QLatin1String(key),
                                         QStringLiteral("missing"), 255, p.settingsPath()),
                     QStringLiteral("?"));
        }
    }

    void checksStopAtTheFirstEmptyBoxAndWriteNothing()
    {
        TestPlatform p;
        p.writeSettings("[user]\r\nname=\r\nlastname=\r\n");
        const QByteArray before = read(p.settingsPath());
        frmDatos form(p.profile, p.messages, p.folder(), nullptr);
        form.show();
        QCOMPARE(form.txtNombre->text(), QString());
        QCOMPARE(form.txtApellido->text(), QString());
        QCOMPARE(form.txtEmail->text(), QStringLiteral("?"));

        click(form);
        QCOMPARE(p.messages.texts(), QStringList{QStringLiteral("Debe introducir su nombre")});
        QCOMPARE(p.messages.shown.first().icon, MessageIcon::Information);
        QCOMPARE(p.messages.shown.first().title, QStringLiteral("Legisdisco"));
        QCOMPARE(p.messages.shown.first().owner, &form);
        QVERIFY(form.isVisible());

        form.txtNombre->setText(QStringLiteral("Ana"));
        click(form);
        QCOMPARE(p.messages.texts().last(), QStringLiteral("Debe introducir su apellido"));
        form.txtApellido->setText(QStringLiteral("Mora"));
        form.txtEmail->clear();
        click(form);
        QCOMPARE(p.messages.texts().last(), QStringLiteral("Debe introducir su email"));
        QCOMPARE(p.messages.shown.size(), 3);
        QVERIFY(form.isVisible());
        QCOMPARE(form.txtNombre->text(), QStringLiteral("Ana"));
        QCOMPARE(read(p.settingsPath()), before);
    }

    void writesAllFourInOrderExactlyAsTyped()
    {
        FakeProfileFile profile;
        FakeMessageBoxes messages;
        frmDatos form(profile, messages, QStringLiteral("/programa"), nullptr);
        form.show();
        form.txtNombre->setText(QStringLiteral("   "));
        form.txtApellido->setText(QStringLiteral(" Pérez "));
        form.txtEmail->setText(QStringLiteral("no es un correo"));
        form.txtInst->clear();
        click(form);
        QVERIFY(messages.shown.isEmpty());
        QCOMPARE(profile.writes, (QStringList{QStringLiteral("user/name=   "),
                                              QStringLiteral("user/lastname= Pérez "),
                                              QStringLiteral("user/email=no es un correo"),
                                              QStringLiteral("user/job=")}));
        QCOMPARE(form.result(), int(QDialog::Accepted));
    }

    void storedValuesSurviveTheFileAndLongValuesComeBackCut()
    {
        TestPlatform p;
        p.writeSettings("; instalado\r\n[init]\r\nshow=1\r\n[user]\r\nname=\r\n");
        const QString longName(300, QLatin1Char('n'));
        {
            frmDatos form(p.profile, p.messages, p.folder(), nullptr);
            form.txtNombre->setText(longName);
            form.txtApellido->setText(QStringLiteral("Mora"));
            form.txtEmail->setText(QStringLiteral("ana@example.org"));
            form.txtInst->clear();
            click(form);
        }
        const QByteArray stored = read(p.settingsPath());
        QVERIFY(stored.startsWith("; instalado\r\n[init]\r\nshow=1\r\n[user]\r\n"));
        QVERIFY(stored.contains("name=" + longName.toLatin1()));
        QVERIFY(stored.contains("job=\r\n"));

        frmDatos again(p.profile, p.messages, p.folder(), nullptr);
        QCOMPARE(again.txtNombre->text(), longName.left(254));
        QCOMPARE(again.txtInst->text(), QString());
    }

    void closeBoxAndEnterStoreNothing()
    {
        TestPlatform p;
        p.writeSettings("[user]\r\nname=Ana\r\n");
        const QByteArray before = read(p.settingsPath());
        frmDatos form(p.profile, p.messages, p.folder(), nullptr);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.txtNombre->setFocus();
        QTest::keyClick(form.txtNombre, Qt::Key_Return);
        QVERIFY(form.isVisible());
        form.close();
        QVERIFY(!form.isVisible());
        QCOMPARE(form.result(), int(QDialog::Rejected));
        QCOMPARE(read(p.settingsPath()), before);
        QVERIFY(p.messages.shown.isEmpty());
    }

    void keysAsOnWindows()
    {
        TestPlatform p;
        p.writeSettings("[user]\r\nname=Ana\r\n");
        const QByteArray before = read(p.settingsPath());
        frmDatos form(p.profile, p.messages, p.folder(), nullptr);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));

        // No cancel button: Escape neither closes the form nor loses the text.
        form.txtApellido->setFocus();
        QTest::keyClicks(form.txtApellido, QStringLiteral("Mora"));
        QTest::keyClick(form.txtApellido, Qt::Key_Escape);
        QVERIFY(form.isVisible());
        QCOMPARE(form.txtApellido->text(), QStringLiteral("?Mora"));
        QCOMPARE(read(p.settingsPath()), before);

        // Enter on the focused button presses it, like Space; Enter in a box
        // does not.
        form.txtEmail->setText(QString());
        form.cmdAceptar->setFocus();
        QTest::keyClick(form.cmdAceptar, Qt::Key_Return);
        QCOMPARE(p.messages.texts(), QStringList{QStringLiteral("Debe introducir su email")});
        form.txtEmail->setText(QStringLiteral("ana@example.org"));
        form.txtEmail->setFocus();
        QTest::keyClick(form.txtEmail, Qt::Key_Enter, Qt::KeypadModifier);
        QVERIFY(form.isVisible());
        form.cmdAceptar->setFocus();
        QTest::keyClick(form.cmdAceptar, Qt::Key_Enter, Qt::KeypadModifier);
        QVERIFY(!form.isVisible());
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QVERIFY(read(p.settingsPath()).contains("lastname=?Mora\r\n"));
    }

    void boxesTakeTextOfAnyLength()
    {
        TestPlatform p;
        frmDatos form(p.profile, p.messages, p.folder(), nullptr);
        const QString institution(70000, QLatin1Char('i'));
        form.txtInst->setText(institution);
        QCOMPARE(form.txtInst->text(), institution);
        form.show();
        form.txtNombre->setText(QString(40000, QLatin1Char('n')));
        form.txtNombre->end(false);
        QTest::keyClicks(form.txtNombre, QStringLiteral("xyz"));
        QCOMPARE(form.txtNombre->text().size(), 40003);
        click(form);
        QVERIFY(read(p.settingsPath()).contains("job=" + institution.toLatin1() + "\r\n"));
    }

    void aWriteThatFailsIsSaidAndKeepsTheForm()
    {
        // A full disk, played by a file-size limit that binds even root.
        TestPlatform p;
        const QByteArray before("[user]\r\nname=\r\n");
        p.writeSettings(before);
        frmDatos form(p.profile, p.messages, p.folder(), nullptr);
        form.show();
        form.txtNombre->setText(QString(5000, QLatin1Char('n')));
        form.txtApellido->setText(QStringLiteral("Mora"));
        form.txtEmail->setText(QStringLiteral("ana@example.org"));

        rlimit saved{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved;
        small.rlim_cur = 1024;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        click(form);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);

        QVERIFY(form.isVisible());
        QCOMPARE(p.messages.shown.size(), 1);
        QCOMPARE(p.messages.shown.first().title, QStringLiteral("Legisdisco"));
        QVERIFY(p.messages.shown.first().text.startsWith(QStringLiteral("No se pudieron guardar")));
        QCOMPARE(form.txtNombre->text(), QString(5000, QLatin1Char('n')));
        QCOMPARE(form.txtEmail->text(), QStringLiteral("ana@example.org"));
        QCOMPARE(read(p.settingsPath()), before);

        // Once there is room again, the same press saves.
        click(form);
        QVERIFY(!form.isVisible());
        QVERIFY(read(p.settingsPath()).contains("email=ana@example.org"));
    }
};

QTEST_MAIN(TestFrmDatos)
#include "tst_frmdatos.moc"
