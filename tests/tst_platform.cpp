#include "fakeplatform.h"
#include "iniprofilefile.h"
#include "lockfileinstanceguard.h"
#include "twips.h"
#include "utility.h"
#include "xdgshell.h"

#include <QFile>
#include <QHostInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TestPlatformServices : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void settingsRoutinesCutLongValuesAndDefaults()
    {
        QTemporaryDir dir;
        IniProfileFile profile;
        const QString file = SettingsPath(dir.path());
        QCOMPARE(file, dir.filePath(QStringLiteral("legisdis.ini")));
        const QString q = QStringLiteral("?");
        QCOMPARE(ReadIniValue(profile, file, QStringLiteral("user"), QStringLiteral("name"), q), q);

        const QString longValue(300, QLatin1Char('x'));
        WriteIniValue(profile, file, QStringLiteral("user"), QStringLiteral("name"), longValue);
        QCOMPARE(ReadIniValue(profile, file, QStringLiteral("user"), QStringLiteral("name"), q),
                 longValue.left(254));
        QCOMPARE(
            ReadIniValue(profile, file, QStringLiteral("user"), QStringLiteral("job"), longValue),
            longValue.left(254));
        WriteIniValue(profile, file, QStringLiteral("USER"), QStringLiteral("Name"),
                      QStringLiteral("José"));
        QCOMPARE(ReadIniValue(profile, file, QStringLiteral("user"), QStringLiteral("name"), q),
                 QStringLiteral("José"));
    }

    void isConnectedFollowsTheProbe()
    {
        FakeProbe probe;
        QVERIFY(IsConnected(probe));
        probe.online = false;
        QVERIFY(!IsConnected(probe));
        QCOMPARE(probe.calls, 2);
    }

    void oneInstancePerProgramFolder()
    {
        QTemporaryDir folderA;
        QTemporaryDir folderB;
        {
            LockFileInstanceGuard first(folderA.path());
            QVERIFY(!first.previousInstance());
            QVERIFY(!first.previousInstance()); // asking again keeps the lock
            LockFileInstanceGuard second(folderA.path());
            QVERIFY(second.previousInstance());
            LockFileInstanceGuard elsewhere(folderB.path());
            QVERIFY(!elsewhere.previousInstance());
        }
        LockFileInstanceGuard afterExit(folderA.path());
        QVERIFY(!afterExit.previousInstance());
    }

    void lockOfACrashedInstanceDoesNotBlock()
    {
        QTemporaryDir folder;
        QProcess gone;
        gone.start(QStringLiteral("true"), QStringList());
        QVERIFY(gone.waitForFinished());
        const qint64 deadPid = gone.processId() ? gone.processId() : 999999;
        QFile lock(LockFileInstanceGuard::lockPathFor(folder.path()));
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.write(QByteArray::number(deadPid) + "\nlegisdisco\n" +
                   QHostInfo::localHostName().toUtf8() + "\n");
        lock.close();
        LockFileInstanceGuard guard(folder.path());
        QVERIFY(!guard.previousInstance());
    }

    void shellCommandLine()
    {
        QCOMPARE(XdgShell::commandFor(QStringLiteral("mailto:a@b?subject=Subscribe")),
                 (QStringList{QStringLiteral("xdg-open"),
                              QStringLiteral("mailto:a@b?subject=Subscribe")}));
        QCOMPARE(XdgShell::commandFor(QStringLiteral("-x.pdf")).last(), QStringLiteral("./-x.pdf"));
        XdgShell shell;
        QVERIFY(
            !shell.execute(nullptr, QStringLiteral("Print"), QStringLiteral("/tmp/x"), {}, {}, 0));
    }

    void twipsAtNinetySixDpi()
    {
        QCOMPARE(Twips::toPixels(1440, 96), 96);
        QCOMPARE(Twips::toPixels(15, 96), 1);
        QCOMPARE(Twips::toPixels(840, 96), 56);
        QCOMPARE(Twips::fromPixels(96, 96), 1440.0);
        QCOMPARE(Twips::toPixels(1440, 120), 120);
    }
};

QTEST_MAIN(TestPlatformServices)
#include "tst_platform.moc"
