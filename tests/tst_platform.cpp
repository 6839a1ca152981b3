#include "desktopaccessibility.h"
#include "fakeplatform.h"
#include "lockfileinstanceguard.h"
#include "networkprobe.h"
#include "qtprogramrestart.h"
#include "qtupdatefeed.h"
#include "softwarerenderer.h"
#include "testfiles.h"
#include "xdgshell.h"

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QNetworkInformation>
#include <QTimer>

#include <QHostInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

class TestPlatformServices : public QObject {
    Q_OBJECT

private slots:
    // Only an OpenGL that runs on the processor gives way to Qt Quick's software renderer:
    // a graphics card's driver built with LLVM, or a virtual machine's that passes the
    // drawing to the host, keeps OpenGL.
    void softwareRenderersAreToldFromGraphicsCards_data()
    {
        QTest::addColumn<QByteArray>("renderer");
        QTest::addColumn<bool>("software");
        QTest::newRow("Mesa llvmpipe") << QByteArray("llvmpipe (LLVM 15.0.6, 256 bits)") << true;
        QTest::newRow("Mesa softpipe") << QByteArray("softpipe") << true;
        QTest::newRow("old Mesa swrast") << QByteArray("Software Rasterizer") << true;
        QTest::newRow("radeonsi, built with LLVM")
            << QByteArray("AMD Radeon RX 6600 (navi23, LLVM 15.0.6, DRM 3.49, 6.1.0-13-amd64)")
            << false;
        QTest::newRow("Intel") << QByteArray("Mesa Intel(R) UHD Graphics 620 (KBL GT2)") << false;
        QTest::newRow("VMware host drawing")
            << QByteArray("SVGA3D; build: RELEASE; LLVM;") << false;
        QTest::newRow("no name") << QByteArray() << false;
    }
    void softwareRenderersAreToldFromGraphicsCards()
    {
        QFETCH(QByteArray, renderer);
        QFETCH(bool, software);
        QCOMPARE(isSoftwareRenderer(renderer), software);
    }

    // The browser engine's accessibility (what Qt tells its observers) follows the
    // desktop's, also when Qt's own bridge turns accessibility on as it reaches the bus.
    void engineAccessibilityFollowsTheDesktop_data()
    {
        QTest::addColumn<bool>("onAtStart");
        QTest::addColumn<bool>("bridgeTurnsOn"); // a moment after start, as Qt's bridge does
        QTest::addColumn<int>("desktopLater");   // -1 unchanged, 0 turned off, 1 turned on
        QTest::addColumn<bool>("engine");
        QTest::newRow("off; the bridge comes") << false << true << -1 << false;
        QTest::newRow("off; then a reader comes") << false << true << 1 << true;
        QTest::newRow("on; then the reader goes") << true << true << 0 << false;
        QTest::newRow("on from the start") << true << false << -1 << true;
    }
    void engineAccessibilityFollowsTheDesktop()
    {
        QFETCH(bool, onAtStart);
        QFETCH(bool, bridgeTurnsOn);
        QFETCH(int, desktopLater);
        QFETCH(bool, engine);
        struct Engine : QAccessible::ActivationObserver {
            void accessibilityActiveChanged(bool active) override { on = active; }
            bool on = false;
        } seen;
        QAccessible::installActivationObserver(&seen);
        FakeDesktopAccessibility desktop;
        desktop.on = onAtStart;
        {
            EngineAccessibility following(desktop);
            if (bridgeTurnsOn) {
                QAccessible::setActive(true);
            }
            if (desktopLater >= 0) {
                desktop.turn(desktopLater == 1);
            }
            QCoreApplication::processEvents();
            QCOMPARE(seen.on, engine);
        }
        QAccessible::removeActivationObserver(&seen);
    }

    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    // The start-up check goes through the proxy the reader gave the browser engine.
    void theUpdateFeedTakesTheBrowsersProxy_data()
    {
        QTest::addColumn<quint32>("access");
        QTest::addColumn<QString>("proxy");
        QTest::addColumn<QString>("bypass");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("expected"); // "host:port", "directo", or "sistema"
        const QString server =
            QStringLiteral("http://actualiza.example.org/Normativa/catalogo.txt");
        const quint32 proxied = ProxyAccess::Proxy;
        QTest::newRow("none stored: the system's")
            << 0u << QString() << QString() << server << QStringLiteral("sistema");
        QTest::newRow("direct") << ProxyAccess::Direct << QStringLiteral("http=p:8080") << QString()
                                << server << QStringLiteral("directo");
        QTest::newRow("the http entry")
            << proxied << QStringLiteral("ftp=f:21 http=p.example.org:8080 https=s:443")
            << QString() << server << QStringLiteral("p.example.org:8080");
        QTest::newRow("the https entry for https")
            << proxied << QStringLiteral("http=p:8080 https=s:443") << QString()
            << QStringLiteral("https://actualiza.example.org/x") << QStringLiteral("s:443");
        QTest::newRow("one entry for every protocol")
            << proxied << QStringLiteral("p:3128") << QString() << server
            << QStringLiteral("p:3128");
        QTest::newRow("bypassed by pattern")
            << proxied << QStringLiteral("http=p:8080") << QStringLiteral("*.example.org") << server
            << QStringLiteral("directo");
        QTest::newRow("<local> leaves dotted names to the proxy")
            << proxied << QStringLiteral("http=p:8080") << QStringLiteral("<local>") << server
            << QStringLiteral("p:8080");
        QTest::newRow("<local> takes a name without a dot")
            << proxied << QStringLiteral("http=p:8080") << QStringLiteral("<local>")
            << QStringLiteral("http://intranet/x") << QStringLiteral("directo");
        QTest::newRow("a port that is no port") << proxied << QStringLiteral("http=p:80a")
                                                << QString() << server << QStringLiteral("directo");
        QTest::newRow("no entry for the protocol")
            << proxied << QStringLiteral("ftp=f:21") << QString() << server
            << QStringLiteral("directo");
    }

    void theUpdateFeedTakesTheBrowsersProxy()
    {
        QFETCH(quint32, access);
        QFETCH(QString, proxy);
        QFETCH(QString, bypass);
        QFETCH(QString, address);
        QFETCH(QString, expected);
        const std::optional<ProxyRecord> record =
            access == 0 ? std::nullopt : std::optional(ProxyRecord{access, proxy, bypass});
        const std::optional<QNetworkProxy> chosen = QtUpdateFeed::proxyFor(record, QUrl(address));
        QString got = QStringLiteral("sistema");
        if (chosen) {
            got = chosen->type() == QNetworkProxy::NoProxy
                      ? QStringLiteral("directo")
                      : chosen->hostName() + u':' + QString::number(chosen->port());
        }
        QCOMPARE(got, expected);
    }

    // The probe against real interface states: a private network namespace
    // of its own, where the test makes the interfaces, and this program run
    // again in it (LEGISDISCO_PROBE_ONCE) to answer once per state.
    void probeFollowsTheInterfaces()
    {
        // A service reached over the system bus answers for the host, not for
        // the namespace.
        if (QNetworkInformation::loadBackendByFeatures(
                QNetworkInformation::Feature::Reachability) &&
            QNetworkInformation::instance()->backendName() == QLatin1String("networkmanager")) {
            QSKIP("NetworkManager answers for the host, not for a namespace");
        }
        // Each state is one the system's reachability answer (where it has
        // one) and the interface rule agree on.
        const QString script = QStringLiteral(R"SH(
            probe() { LEGISDISCO_PROBE_ONCE=1 "$0"; }
            echo "loopback down $(probe)"
            ip link set lo up && echo "loopback up $(probe)"
            ip tuntap add mode tun dev t0 && ip link set t0 up &&
                ip addr add 192.0.2.1/24 dev t0 && echo "no carrier $(probe)"
            ip link add v0 type veth peer name v1 && ip link set v0 up && ip link set v1 up &&
                echo "link-local only $(probe)"
            ip addr add 198.51.100.1/24 dev v0 && ip route add default via 198.51.100.2 &&
                echo "address and route $(probe)"
            ip link set v0 down && echo "interface down $(probe)"
        )SH");
        QProcess namespaced;
        namespaced.start(QStringLiteral("unshare"),
                         {QStringLiteral("--net"), QStringLiteral("--map-root-user"),
                          QStringLiteral("sh"), QStringLiteral("-c"), script,
                          QCoreApplication::applicationFilePath()});
        QVERIFY(namespaced.waitForFinished(60000));
        const QString output = QString::fromUtf8(namespaced.readAllStandardOutput());
        if (output.isEmpty()) {
            QSKIP(qPrintable(QStringLiteral("no network namespace here: ") +
                             QString::fromUtf8(namespaced.readAllStandardError())));
        }
        // 0: connected, as the system call answers success.
        QCOMPARE(output.split(u'\n', Qt::SkipEmptyParts),
                 (QStringList{QStringLiteral("loopback down 1"), QStringLiteral("loopback up 1"),
                              QStringLiteral("no carrier 1"), QStringLiteral("link-local only 1"),
                              QStringLiteral("address and route 0"),
                              QStringLiteral("interface down 1")}));
    }

    void oneInstancePerProgramFolder()
    {
        QTemporaryDir folderA;
        QTemporaryDir folderB;
        {
            LockFileInstanceGuard first(CollectionId::of(folderA.path()));
            QVERIFY(!first.previousInstance());
            QVERIFY(!first.previousInstance()); // asking again keeps the lock
            LockFileInstanceGuard second(CollectionId::of(folderA.path()));
            QVERIFY(second.previousInstance());
            LockFileInstanceGuard elsewhere(CollectionId::of(folderB.path()));
            QVERIFY(!elsewhere.previousInstance());
        }
        LockFileInstanceGuard afterExit(CollectionId::of(folderA.path()));
        QVERIFY(!afterExit.previousInstance());
    }

    void aLockNamingAnotherLiveProcessDoesNotBlock()
    {
        // What an older lock said (the process id of a holder, now a process
        // of some other program) means nothing: only a held lock counts.
        QTemporaryDir folder;
        QFile lock(LockFileInstanceGuard::lockPathFor(CollectionId::of(folder.path())));
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.write(QByteArray::number(QCoreApplication::applicationPid()) + "\nlegisdisco\n" +
                   QHostInfo::localHostName().toUtf8() + "\n");
        lock.close();
        LockFileInstanceGuard guard(CollectionId::of(folder.path()));
        QVERIFY(!guard.previousInstance());
    }

    void theHoldEndsWithItsProcess()
    {
        // Another process holds the folder's lock until it is killed.
        QTemporaryDir folder;
        const QString path = LockFileInstanceGuard::lockPathFor(CollectionId::of(folder.path()));
        QProcess holder;
        // One process: the shell takes the lock on its own descriptor and
        // becomes the sleep that keeps it.
        holder.start(QStringLiteral("sh"),
                     {QStringLiteral("-c"),
                      QStringLiteral("exec 9>\"$0\"; flock 9; echo held; exec sleep 60"), path});
        QVERIFY(holder.waitForReadyRead(10000));
        LockFileInstanceGuard guard(CollectionId::of(folder.path()));
        QVERIFY(guard.previousInstance());
        holder.kill();
        QVERIFY(holder.waitForFinished());
        QVERIFY(!guard.previousInstance());
        // Given up on purpose, the folder is free for the next instance.
        LockFileInstanceGuard next(CollectionId::of(folder.path()));
        QVERIFY(next.previousInstance());
        guard.release();
        QVERIFY(!next.previousInstance());
    }

    void shellCommandLine()
    {
        QCOMPARE(XdgShell::commandFor(QStringLiteral("-x.pdf")).last(), QStringLiteral("./-x.pdf"));
        XdgShell shell;
        QVERIFY(
            !shell.execute(nullptr, QStringLiteral("Print"), QStringLiteral("/tmp/x"), {}, {}, 0));
    }

    // A program opened for the reader gets the environment the viewer was started with, not
    // the switches the viewer set for its own libraries.
    void shellStartsProgramsWithTheStartEnvironment()
    {
        QTemporaryDir folder;
        const QString seen = folder.filePath(QStringLiteral("visto"));
        QFile opener(folder.filePath(QStringLiteral("xdg-open")));
        QVERIFY(opener.open(QIODevice::WriteOnly));
        opener.write("#!/bin/sh\necho \"$1 [$QT_LINUX_ACCESSIBILITY_ALWAYS_ON]\" > \"$(dirname "
                     "\"$0\")/visto\"\n");
        opener.close();
        QVERIFY(opener.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QProcessEnvironment start;
        start.insert(QStringLiteral("PATH"),
                     folder.path() + QLatin1Char(':') + qEnvironmentVariable("PATH"));
        qputenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
        XdgShell shell(start);
        QVERIFY(shell.execute(nullptr, QStringLiteral("Open"), QStringLiteral("/tmp/doc.pdf"), {},
                              folder.path(), 1));
        qunsetenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON");
        QTRY_VERIFY(QFileInfo(seen).size() > 0);
        QFile result(seen);
        QVERIFY(result.open(QIODevice::ReadOnly));
        QCOMPARE(result.readAll(), QByteArray("/tmp/doc.pdf []\n"));
    }

    // Last: leaving every event loop, the restart leaves the application
    // object unable to run another.
    void restartStartsTheProgramWithTheFolderFree()
    {
        QTemporaryDir folder;
        LockFileInstanceGuard instance(CollectionId::of(folder.path()));
        QVERIFY(!instance.previousInstance());
        const QString lock = LockFileInstanceGuard::lockPathFor(CollectionId::of(folder.path()));
        const QString marker = folder.filePath(QStringLiteral("marker"));
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("PATH"), qEnvironmentVariable("PATH"));
        environment.insert(QStringLiteral("LEGISDISCO_PRUEBA"), QStringLiteral("inicial"));
        // The new program: is the folder free, and what did it start with?
        const QString script = QStringLiteral(
            "if flock -n \"$1\" true; then echo libre; else echo ocupada; fi > \"$2\";"
            "echo \"$3 $LEGISDISCO_PRUEBA\" >> \"$2\"");
        QtProgramRestart restart(instance, QStringLiteral("/bin/sh"),
                                 {QStringLiteral("-c"), script, QStringLiteral("sh"), lock, marker,
                                  QStringLiteral("--collection x")},
                                 environment);
        QEventLoop loop;
        bool started = false;
        QTimer::singleShot(0, &loop, [&] { started = restart.restart(); });
        QTimer::singleShot(30000, &loop, [&] { loop.exit(7); });
        QCOMPARE(loop.exec(), 0); // this instance is told to end
        QVERIFY(started);
        QTRY_VERIFY_WITH_TIMEOUT(readAll(marker).endsWith("\n"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(readAll(marker), QByteArray("libre\n--collection x inicial\n"),
                                  10000);
    }
};

int main(int argc, char *argv[])
{
    // Run again inside a network namespace: answer the probe once and end.
    if (qEnvironmentVariableIsSet("LEGISDISCO_PROBE_ONCE")) {
        QCoreApplication app(argc, argv);
        NetworkProbe probe;
        std::printf("%d\n", probe.attemptConnect());
        return 0;
    }
    QApplication app(argc, argv);
    TestPlatformServices test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_platform.moc"
