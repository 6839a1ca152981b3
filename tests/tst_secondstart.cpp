// A second start of the program for the same program folder ends before the
// browser engine starts: the real program is started while this test holds
// the folder, and must end at once without a word from the engine (which
// announces itself on the error output whenever it starts, as the first,
// free start shows).

#include "lockfileinstanceguard.h"

#include <QFileInfo>
#include <QProcess>
#include <QTest>

namespace {
const QString program = QStringLiteral(LEGISDISCO_PROGRAM);
const QByteArray engineStarted = "qt.webenginecontext";
} // namespace

class TestSecondStart : public QObject {
    Q_OBJECT

private slots:
    void theEngineAnnouncesItselfOnAFreeStart()
    {
        QProcess first;
        first.setProcessChannelMode(QProcess::SeparateChannels);
        first.start(program, {});
        QVERIFY(first.waitForStarted());
        QByteArray errors;
        QDeadlineTimer deadline(60000);
        while (!errors.contains(engineStarted) && !deadline.hasExpired() &&
               first.state() == QProcess::Running) {
            first.waitForReadyRead(500);
            errors += first.readAllStandardError();
        }
        first.kill();
        first.waitForFinished();
        QVERIFY2(errors.contains(engineStarted), errors.constData());
    }

    void aSecondStartEndsBeforeTheEngine()
    {
        LockFileInstanceGuard running(CollectionId::of(QFileInfo(program).absolutePath()));
        QVERIFY(!running.previousInstance());
        QProcess second;
        second.start(program, {});
        QVERIFY(second.waitForFinished(30000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(second.readAllStandardOutput(), QByteArray());
        QCOMPARE(second.readAllStandardError(), QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestSecondStart)
#include "tst_secondstart.moc"
