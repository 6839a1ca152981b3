// A second start of the program for a collection that is open already: the
// running copy is asked to come to the front (and to open the document named
// on the command line), and the second start ends before the browser engine
// starts (the engine announces itself on the error output whenever it starts,
// as a free start shows below). The requests between the two are read as
// hostile.

#include "collection.h"
#include "instancerequest.h"
#include "localsocketinstancechannel.h"
#include "lockfileinstanceguard.h"
#include "testfiles.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

Q_DECLARE_METATYPE(std::optional<QString>)

namespace {
const QString program = QStringLiteral(LEGISDISCO_PROGRAM);
const QByteArray engineStarted = "qt.webenginecontext";
constexpr int startTimeout = 60000;

// Waits, serving events meanwhile, for process to end.
bool ended(QProcess &process, int timeout = startTimeout)
{
    QDeadlineTimer deadline(timeout);
    while (process.state() != QProcess::NotRunning && !deadline.hasExpired()) {
        QTest::qWait(20);
    }
    return process.state() == QProcess::NotRunning;
}
} // namespace

class TestSecondStart : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        // A collection of its own, with what a hostile command line may aim at.
        m_root = std::make_unique<QTemporaryDir>();
        m_collection = m_root->filePath(QStringLiteral("coleccion"));
        for (const char *file : {"pagina/maincd.htm", "circulares/1001.pdf", "circulares/1003.pdf",
                                 "sistemas/manuales.pdf", "circulares/.oculta.pdf"}) {
            const QString path = QDir(m_collection).filePath(QLatin1String(file));
            QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
            QVERIFY(writeAll(path, "%PDF-1.4 documento"));
        }
        QVERIFY(writeAll(m_collection + QStringLiteral("/legisdis.ini"), "[init]\r\nshow=0\r\n"));
        QVERIFY(writeAll(m_root->filePath(QStringLiteral("fuera.pdf")), "%PDF-1.4 fuera"));
        QVERIFY(QFile::link(m_root->filePath(QStringLiteral("fuera.pdf")),
                            m_collection + QStringLiteral("/circulares/enlace.pdf")));
        QVERIFY(QDir().mkpath(m_collection + QStringLiteral("/circulares/carpeta.pdf")));
    }

    // Starts the program on the test's collection, with the user's folders in the test's.
    void start(QProcess &process, const QStringList &arguments)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"}) {
            env.insert(QLatin1String(name), m_root->filePath(QLatin1String(name)));
        }
        process.setProcessEnvironment(env);
        process.start(program, QStringList{QStringLiteral("--collection"), m_collection,
                                           QStringLiteral("--no-update-check")} +
                                   arguments);
    }

    void aSecondStartAsksTheRunningCopy_data()
    {
        QTest::addColumn<QString>("argument"); // on the second start's command line
        QTest::addColumn<QString>("document"); // what the running copy is asked to open
        QTest::newRow("nothing") << QString() << QString();
        QTest::newRow("a circular's number")
            << QStringLiteral("1003") << QStringLiteral("circulares/1003.pdf");
        QTest::newRow("a path within the collection")
            << QStringLiteral("circulares/1001.pdf") << QStringLiteral("circulares/1001.pdf");
        QTest::newRow("an absolute path") << QStringLiteral("<collection>/sistemas/manuales.pdf")
                                          << QStringLiteral("sistemas/manuales.pdf");
        QTest::newRow("a number with no circular") << QStringLiteral("999999") << QString();
        QTest::newRow("the way out") << QStringLiteral("../fuera.pdf") << QString();
        QTest::newRow("a way out inside")
            << QStringLiteral("circulares/../../fuera.pdf") << QString();
        QTest::newRow("a link out of the collection")
            << QStringLiteral("circulares/enlace.pdf") << QString();
        QTest::newRow("the settings file") << QStringLiteral("legisdis.ini") << QString();
        QTest::newRow("a hidden file") << QStringLiteral("circulares/.oculta.pdf") << QString();
        QTest::newRow("a folder") << QStringLiteral("circulares/carpeta.pdf") << QString();
        QTest::newRow("an absolute path outside") << QStringLiteral("/etc/passwd") << QString();
    }

    void aSecondStartAsksTheRunningCopy()
    {
        // This test is the running copy: it holds the collection and listens.
        QFETCH(QString, argument);
        QFETCH(QString, document);
        argument.replace(QStringLiteral("<collection>"), m_collection);
        const CollectionId id = CollectionId::of(m_collection);
        LockFileInstanceGuard running(id);
        QVERIFY(!running.previousInstance());
        LocalSocketInstanceChannel channel(id);
        QVERIFY(channel.listen());
        QSignalSpy asked(&channel, &InstanceChannel::requested);

        QProcess second;
        start(second, argument.isEmpty() ? QStringList() : QStringList{argument});
        QVERIFY(ended(second));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        const QString errors = QString::fromUtf8(second.readAllStandardError());
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked.first().first().toString(), document);
        QCOMPARE(second.readAllStandardOutput(), QByteArray());
        QVERIFY2(!errors.contains(QLatin1String(engineStarted)), qPrintable(errors));
        // A name that is not opened is said, and only then.
        QCOMPARE(errors.contains(QStringLiteral("no es un documento de la colección")),
                 !argument.isEmpty() && document.isEmpty());
    }

    void aSecondStartRightAfterTheFirstReachesIt()
    {
        // The real program on both sides: the second start finds the first,
        // which may still be making its window, and the first takes the request.
        QProcess first;
        first.setProcessChannelMode(QProcess::SeparateChannels);
        start(first, {});
        QVERIFY(first.waitForStarted());
        // The first holds the collection once its browser engine starts; that it
        // says so is what makes the silence of a second start mean something.
        QByteArray announced;
        QDeadlineTimer deadline(startTimeout);
        while (!announced.contains(engineStarted) && !deadline.hasExpired() &&
               first.state() == QProcess::Running) {
            first.waitForReadyRead(500);
            announced += first.readAllStandardError();
        }
        QVERIFY2(announced.contains(engineStarted), announced.constData());
        QProcess second;
        start(second, {QStringLiteral("1001")});
        QVERIFY(ended(second));
        const QByteArray errors = second.readAllStandardError();
        QCOMPARE(second.exitCode(), 0);
        QVERIFY2(errors.isEmpty(), errors.constData());
        QCOMPARE(first.state(), QProcess::Running); // still the one copy
        first.kill();
        first.waitForFinished();
    }

    void aSecondStartThatNobodyAnswersSaysSo()
    {
        // The collection is held, but no copy listens (one that hangs, say):
        // the second start gives up in time and says why.
        LockFileInstanceGuard running(CollectionId::of(m_collection));
        QVERIFY(!running.previousInstance());
        QProcess second;
        start(second, {});
        QVERIFY(ended(second));
        QCOMPARE(second.exitCode(), 1);
        const QString errors = QString::fromUtf8(second.readAllStandardError());
        QVERIFY2(errors.contains(QStringLiteral("ya está abierto")), qPrintable(errors));
        QVERIFY2(!errors.contains(QLatin1String(engineStarted)), qPrintable(errors));
    }

    void theRequestRefusesJunk_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<std::optional<QString>>("document");
        const std::optional<QString> junk;
        QTest::newRow("come to the front")
            << QByteArray("legisdisco 1 raise\n") << std::optional<QString>(QString());
        QTest::newRow("open") << QByteArray("legisdisco 1 open circulares/1001 bis.pdf\n")
                              << std::optional<QString>(QStringLiteral("circulares/1001 bis.pdf"));
        QTest::newRow("open, in UTF-8")
            << QByteArray("legisdisco 1 open pagina/índice.htm\n")
            << std::optional<QString>(QStringLiteral("pagina/índice.htm"));
        QTest::newRow("empty") << QByteArray() << junk;
        QTest::newRow("no line break") << QByteArray("legisdisco 1 raise") << junk;
        QTest::newRow("two lines")
            << QByteArray("legisdisco 1 raise\nlegisdisco 1 raise\n") << junk;
        QTest::newRow("another version") << QByteArray("legisdisco 2 raise\n") << junk;
        QTest::newRow("something else") << QByteArray("GET / HTTP/1.1\n") << junk;
        QTest::newRow("open nothing") << QByteArray("legisdisco 1 open \n") << junk;
        QTest::newRow("not UTF-8") << QByteArray("legisdisco 1 open a\xff.pdf\n") << junk;
        QTest::newRow("a control character")
            << QByteArray("legisdisco 1 open a\x1b[2J.pdf\n") << junk;
        QTest::newRow("a zero byte") << QByteArray("legisdisco 1 open a\0b.pdf\n", 28) << junk;
        QTest::newRow("a carriage return") << QByteArray("legisdisco 1 raise\r\n") << junk;
        QTest::newRow("too long") << "legisdisco 1 open " + QByteArray(4096, 'a') + '\n' << junk;
    }

    void theRequestRefusesJunk()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(std::optional<QString>, document);
        QCOMPARE(readInstanceRequest(bytes), document);
        if (document) {
            QCOMPARE(instanceRequest(*document), bytes);
        }
    }

    void junkOnTheLineIsDroppedAndTheLineStaysOpen()
    {
        // A connection that says something else, or nothing, gets no answer
        // and asks for nothing; the next request is still taken.
        const CollectionId id = CollectionId::of(m_collection);
        LocalSocketInstanceChannel channel(id);
        QVERIFY(channel.listen());
        QSignalSpy asked(&channel, &InstanceChannel::requested);
        QLocalSocket silent;
        silent.connectToServer(LocalSocketInstanceChannel::socketPathFor(id));
        QVERIFY(silent.waitForConnected(5000));
        for (const QByteArray &junk : {QByteArray("legisdisco 1 open ../../x\r\n"),
                                       QByteArray(maxInstanceRequestBytes + 10, 'x')}) {
            QLocalSocket socket;
            socket.connectToServer(LocalSocketInstanceChannel::socketPathFor(id));
            QVERIFY(socket.waitForConnected(5000));
            socket.write(junk);
            QTRY_COMPARE(socket.state(), QLocalSocket::UnconnectedState);
            QCOMPARE(socket.readAll(), QByteArray());
        }
        QVERIFY(asked.isEmpty());
        QLocalSocket good;
        good.connectToServer(LocalSocketInstanceChannel::socketPathFor(id));
        QVERIFY(good.waitForConnected(5000));
        good.write(instanceRequest(QStringLiteral("circulares/1001.pdf")));
        QTRY_COMPARE(asked.size(), 1);
        QCOMPARE(asked.first().first().toString(), QStringLiteral("circulares/1001.pdf"));
        QTRY_VERIFY(good.bytesAvailable() >= 3);
        QCOMPARE(good.readAll(), QByteArray("ok\n"));
    }

private:
    std::unique_ptr<QTemporaryDir> m_root;
    QString m_collection;
};

QTEST_GUILESS_MAIN(TestSecondStart)
#include "tst_secondstart.moc"
