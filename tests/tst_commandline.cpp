#include "heavypdf.h"
#include "testfiles.h"
#include "testpdf.h"
#include "testzip.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

// The program's command line, run as scripts run it: no display, no window.
class TestCommandLine : public QObject {
    Q_OBJECT

    struct Run {
        int exitCode = -1;
        QString out;
        QString err;
    };

    Run run(const QStringList &arguments, const QString &home, const QString &asUser = QString(),
            int waitMilliseconds = 30000,
            const QString &program = QStringLiteral(LEGISDISCO_PROGRAM),
            const QStringList &environment = {})
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM")); // no display to fall back on
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache"));
        for (const QString &setting : environment) {
            env.insert(setting.section(u'=', 0, 0), setting.section(u'=', 1));
        }
        process.setProcessEnvironment(env);
        if (asUser.isEmpty()) {
            process.start(program, arguments);
        } else {
            process.start(QStringLiteral("runuser"),
                          QStringList{QStringLiteral("-u"), asUser, QStringLiteral("--"),
                                      QStringLiteral(LEGISDISCO_PROGRAM)} +
                              arguments);
        }
        if (!process.waitForFinished(waitMilliseconds)) {
            process.kill();
            return {};
        }
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }

private slots:
    void helpAndVersionNeedNoDisplay()
    {
        QTemporaryDir home;
        const Run help = run({QStringLiteral("--help")}, home.path());
        QCOMPARE(help.exitCode, 0);
        QVERIFY(help.out.contains(QStringLiteral("--collection <CARPETA>")));
        QVERIFY(help.out.contains(QStringLiteral("--install-package <ARCHIVO>")));
        const Run version = run({QStringLiteral("--version")}, home.path());
        QCOMPARE(version.exitCode, 0);
        QVERIFY(version.out.startsWith(QStringLiteral("Legisdisco ")));
        // Single-dash words are whole option names, for the commands as for the rest.
        const Run singleDash = run({QStringLiteral("-version")}, home.path());
        QCOMPARE(singleDash.exitCode, 0);
        QCOMPARE(singleDash.out, version.out);
        const Run unknown = run({QStringLiteral("--no-existe")}, home.path());
        QCOMPARE(unknown.exitCode, 2);
        QVERIFY(unknown.err.contains(QStringLiteral("Opción desconocida: no-existe")));
        const Run noFolder = run(
            {QStringLiteral("--collection"), home.filePath(QStringLiteral("nada"))}, home.path());
        QCOMPARE(noFolder.exitCode, 2);
        QVERIFY(noFolder.err.contains(QStringLiteral("no existe")));
        // The toolkit's own options pass: "-platform" is one word, not seven letters.
        const Run withToolkitOption =
            run({QStringLiteral("-platform"), QStringLiteral("offscreen"),
                 QStringLiteral("--collection"), home.filePath(QStringLiteral("nada"))},
                home.path());
        QCOMPARE(withToolkitOption.exitCode, 2);
        QVERIFY2(withToolkitOption.err.contains(QStringLiteral("no existe")),
                 qPrintable(withToolkitOption.err));
        // One document at most, and none for a command.
        QVERIFY(help.out.contains(QStringLiteral("[DOCUMENTO]")));
        for (const QStringList &extra :
             {QStringList{QStringLiteral("1001"), QStringLiteral("1002")},
              QStringList{QStringLiteral("--version"), QStringLiteral("1002")}}) {
            const Run twice = run(extra, home.path());
            QCOMPARE(twice.exitCode, 2);
            QVERIFY2(twice.err.contains(QStringLiteral("Argumento inesperado: 1002")),
                     qPrintable(twice.err));
        }
        // A number of hits that is none, and a number of hits for no search.
        QVERIFY(help.out.contains(QStringLiteral("--limit <N>")));
        const struct {
            QStringList arguments;
            QString said;
        } wrongLimits[] = {
            {{QStringLiteral("--search"), QStringLiteral("x"), QStringLiteral("--limit"),
              QStringLiteral("-1")},
             QStringLiteral("Número de resultados no válido para --limit (0: todos): -1")},
            {{QStringLiteral("--search"), QStringLiteral("x"), QStringLiteral("--limit"),
              QStringLiteral("veinte")},
             QStringLiteral("Número de resultados no válido para --limit (0: todos): veinte")},
            {{QStringLiteral("--limit"), QStringLiteral("5")},
             QStringLiteral("La opción --limit solo sirve con --search")},
        };
        for (const auto &wrong : wrongLimits) {
            const Run limited = run(wrong.arguments, home.path());
            QCOMPARE(limited.exitCode, 2);
            QVERIFY2(limited.err.contains(wrong.said), qPrintable(limited.err));
            QCOMPARE(limited.out, QString());
        }
    }

    void installsAPackageIntoTheCollection()
    {
        QTemporaryDir home;
        QTemporaryDir collection;
        QVERIFY(QDir().mkpath(collection.filePath(QStringLiteral("circulares"))));
        const QString good = home.filePath(QStringLiteral("bueno.zip"));
        QVERIFY(writeTestZip(good, {{"circulares/4001.pdf", testPdf("4001")},
                                    {"circulares/4002.pdf", testPdf("4002")}}));
        const Run installed = run({QStringLiteral("--collection"), collection.path(),
                                   QStringLiteral("--install-package"), good},
                                  home.path());
        QCOMPARE(installed.exitCode, 0);
        // Without the publisher's key nothing vouches for the package, and the outcome says so.
        QCOMPARE(installed.out.trimmed(),
                 QStringLiteral("Se instalaron 2 circulares nuevas en la colección:\n"
                                "• Circular 4001\n• Circular 4002\n\nNo se pudo verificar que el "
                                "paquete sea del publicador: esta instalación "
                                "no tiene su clave pública (legisdis.pub)."));
        QCOMPARE(readAll(collection.filePath(QStringLiteral("circulares/4002.pdf"))),
                 testPdf("4002"));

        const QString hostile = home.filePath(QStringLiteral("malo.zip"));
        QVERIFY(writeTestZip(
            hostile, {{"circulares/4003.pdf", testPdf("4003")}, {"../../.bashrc", "rm -rf ~"}}));
        const Run refused = run({QStringLiteral("--collection"), collection.path(),
                                 QStringLiteral("--install-package"), hostile},
                                home.path());
        QCOMPARE(refused.exitCode, 1);
        QVERIFY(refused.out.isEmpty());
        QVERIFY2(refused.err.contains(QStringLiteral("no es seguro")), qPrintable(refused.err));
        QVERIFY(!QFile::exists(collection.filePath(QStringLiteral("circulares/4003.pdf"))));

        const Run missing =
            run({QStringLiteral("--collection"), collection.path(),
                 QStringLiteral("--install-package"), home.filePath(QStringLiteral("nada.zip"))},
                home.path());
        QCOMPARE(missing.exitCode, 1);
        QVERIFY(missing.err.contains(QStringLiteral("no se encontró el paquete")));
    }

    void searchesTheCollection()
    {
        QTemporaryDir home;
        QTemporaryDir collection;
        const auto put = [&collection](const char *path, const QByteArray &bytes) {
            const QString file = collection.filePath(QLatin1String(path));
            return QDir().mkpath(QFileInfo(file).path()) && writeAll(file, bytes);
        };
        QVERIFY(put("circulares/3019.pdf",
                    plainTestPdf({QStringLiteral("Circular 3019 sobre emisores."),
                                  QStringLiteral("Regulaci\u00f3n de los activos tokenizados.")})));
        QVERIFY(
            put("circulares/3020.pdf", plainTestPdf({QStringLiteral("Horarios de negociacion.")})));
        QVERIFY(put("circulares/3021.pdf", "%PDF-1.4 roto"));
        QVERIFY(put("pagina/normas.htm", "<title>Normas vigentes</title><p>Activos tokenizados y "
                                         "regulaci\xF3n del mercado.</p>"));

        // The first search builds the index in the user's cache folder.
        const Run found = run({QStringLiteral("--collection"), collection.path(),
                               QStringLiteral("--search"), QStringLiteral("tokenizado")},
                              home.path());
        QCOMPARE(found.exitCode, 0);
        QCOMPARE(found.err, QString());
        const QStringList lines = found.out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QStringList locations;
        for (const QString &line : lines) {
            const QStringList fields = line.split(u'\t');
            QCOMPARE(fields.size(), 4);
            locations.append(fields[0]);
            QVERIFY2(fields[2].contains(QStringLiteral("tokenizados")), qPrintable(line));
        }
        locations.sort();
        QCOMPARE(locations, QStringList({QStringLiteral("circulares/3019.pdf#page=2"),
                                         QStringLiteral("pagina/normas.htm")}));
        QVERIFY(found.out.contains(QStringLiteral("\tCircular 3019\t")));
        QVERIFY(found.out.contains(QStringLiteral("pagina/normas.htm\tNormas vigentes\t")));
        QVERIFY(!QDir(home.filePath(QStringLiteral(".cache/Legisdisco"))).isEmpty());
        QCOMPARE(QDir(collection.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList({QStringLiteral("circulares"), QStringLiteral("pagina")}));

        // Accents left out, a number, and nothing found: all end well.
        const Run accents = run({QStringLiteral("--collection"), collection.path(),
                                 QStringLiteral("--search"), QStringLiteral("REGULACION")},
                                home.path());
        QCOMPARE(accents.exitCode, 0);
        QCOMPARE(accents.out.split(u'\n', Qt::SkipEmptyParts).size(), 2);
        const Run number = run({QStringLiteral("--collection"), collection.path(),
                                QStringLiteral("--search"), QStringLiteral("3019")},
                               home.path());
        QVERIFY(number.out.startsWith(QStringLiteral("circulares/3019.pdf#page=1\t")));
        const Run none = run({QStringLiteral("--collection"), collection.path(),
                              QStringLiteral("--search"), QStringLiteral("inexistente")},
                             home.path());
        QCOMPARE(none.exitCode, 0);
        QCOMPARE(none.out, QString());
    }

    void searchSaysWhatItCannotDo_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said");
        QTest::addColumn<QString>("printed");
        // Thousands of pages, each slow to read: the answer comes from what was indexed
        // in time, and says the index is not complete.
        QTest::newRow("slow document")
            << QStringLiteral("circulares") << 0
            << QStringLiteral("El índice de la colección está incompleto (0 de 1 documentos)")
            << QStringLiteral("circulares/5001.pdf#page=1\t");
        // Neither pagina/ nor circulares/: nothing is indexed, not even the folder's PDFs.
        QTest::newRow("not a collection") << QStringLiteral("sistemas") << 2
                                          << QStringLiteral("no es una colección") << QString();
    }

    void searchSaysWhatItCannotDo()
    {
        QFETCH(QString, folder);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        QFETCH(QString, printed);
        QTemporaryDir home;
        QTemporaryDir collection;
        QVERIFY(QDir().mkpath(collection.filePath(folder)));
        QVERIFY(writeAll(collection.filePath(folder + QStringLiteral("/5001.pdf")),
                         heavyTestPdf(4000, 1000000, "inicio", "final")));
        const Run found = run({QStringLiteral("--collection"), collection.path(),
                               QStringLiteral("--search"), QStringLiteral("inicio")},
                              home.path(), QString(), 60000);
        QCOMPARE(found.exitCode, exitCode);
        QVERIFY2(found.err.contains(said), qPrintable(found.err));
        QVERIFY2(found.out.startsWith(printed), qPrintable(found.out));
        if (exitCode != 0) {
            QCOMPARE(found.out, QString());
            QVERIFY(!QFileInfo::exists(home.filePath(QStringLiteral(".cache/Legisdisco"))));
        }
    }

    // The commands load the services module and its libraries, never the browser engine; a
    // program whose module is gone says so and does nothing.
    void commandsLoadTheServicesModuleAlone_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("withModule");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said");
        const QString collection = QFileInfo(QStringLiteral(LEGISDISCO_PROGRAM)).path();
        const QStringList search{QStringLiteral("--collection"), collection,
                                 QStringLiteral("--search"), QStringLiteral("valores")};
        const QStringList verify{QStringLiteral("--collection"), collection,
                                 QStringLiteral("--verify")};
        const QString missing = QStringLiteral(
            "No se puede ejecutar la orden: no se puede cargar el módulo legisdisco-services.so");
        QTest::newRow("search") << search << true << 0 << QString();
        // The demo collection has no signed catalog: the command ran, and tells.
        QTest::newRow("verify") << verify << true << 1
                                << QStringLiteral("no tiene un catálogo firmado por el publicador");
        QTest::newRow("search, no module") << search << false << 1 << missing;
        QTest::newRow("verify, no module") << verify << false << 1 << missing;
    }

    void commandsLoadTheServicesModuleAlone()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, withModule);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        QTemporaryDir home;
        QString program = QStringLiteral(LEGISDISCO_PROGRAM);
        if (!withModule) {
            // The program alone in a folder of its own: its modules are not beside it.
            program = home.filePath(QStringLiteral("legisdisco"));
            QVERIFY(QFile::copy(QStringLiteral(LEGISDISCO_PROGRAM), program));
        }
        const Run ran = run(arguments, home.path(), QString(), 60000, program,
                            {QStringLiteral("LD_DEBUG=files")});
        QVERIFY2(ran.exitCode == exitCode, qPrintable(ran.err.right(2000)));
        QVERIFY2(!ran.err.contains(QStringLiteral("libQt6WebEngineCore")),
                 "a command loaded the browser engine");
        QVERIFY2(ran.err.contains(said), qPrintable(ran.err.right(2000)));
    }

    void aReadOnlyCollectionGetsTheUsersOwnFolder()
    {
        // Only an ordinary user is bound by the folder's permissions: as root the
        // test runs the program as "nobody", as anyone else as themselves.
        const bool root = ::geteuid() == 0;
        if (root && QStandardPaths::findExecutable(QStringLiteral("runuser")).isEmpty()) {
            QSKIP("Running as root without runuser: no ordinary user to install as.");
        }
        const QString user = root ? QStringLiteral("nobody") : QString();
        if (root && run({QStringLiteral("--version")}, QDir::tempPath(), user).exitCode != 0) {
            QSKIP("The user nobody cannot run the built program here (its folder is not open "
                  "to other users).");
        }
        QTemporaryDir home;
        QTemporaryDir installed;
        const auto openToAll = [](const QString &path) {
            QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                            QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                            QFileDevice::WriteOther | QFileDevice::ExeOther);
        };
        openToAll(home.path());
        QVERIFY(QDir().mkpath(installed.filePath(QStringLiteral("circulares"))));
        QVERIFY(
            writeAll(installed.filePath(QStringLiteral("circulares/1001.pdf")), testPdf("1001")));
        const QString package = home.filePath(QStringLiteral("paquete.zip"));
        QVERIFY(writeTestZip(package, {{"circulares/4001.pdf", testPdf("4001")}}));
        QFile::setPermissions(package, QFileDevice::ReadOwner | QFileDevice::ReadOther);
        // The installed collection: readable by everyone, writable by nobody but its owner.
        for (const QString &folder :
             {installed.path(), installed.filePath(QStringLiteral("circulares"))}) {
            QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                              QFileDevice::ReadOther | QFileDevice::ExeOther);
        }
        const auto restore = qScopeGuard([&installed] {
            for (const QString &folder :
                 {installed.path(), installed.filePath(QStringLiteral("circulares"))}) {
                QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ExeOwner);
            }
        });

        const Run done = run({QStringLiteral("--collection"), installed.path(),
                              QStringLiteral("--install-package"), package},
                             home.path(), user);
        QVERIFY2(done.exitCode == 0, qPrintable(done.err));
        QVERIFY(done.out.contains(QStringLiteral("Instalado en la colección personal")));
        QVERIFY(!QFile::exists(installed.filePath(QStringLiteral("circulares/4001.pdf"))));
        const QString mine = home.filePath(QStringLiteral(".local/share/Legisdisco/Legisdisco"));
        QDirIterator found(mine, {QStringLiteral("4001.pdf")}, QDir::Files,
                           QDirIterator::Subdirectories);
        QVERIFY(found.hasNext());
        QCOMPARE(readAll(found.next()), testPdf("4001"));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
