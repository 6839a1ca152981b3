#include "collection.h"
#include "installcommand.h"
#include "installjournal.h"
#include "installlock.h"
#include "installrecovery.h"
#include "pdfprinting.h"
#include "testfiles.h"
#include "testzip.h"
#include "zippackageinstaller.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <cstdio>

#include <sys/wait.h>
#include <unistd.h>

namespace {

QStringList stagingFolders(const QString &collection)
{
    return QDir(collection)
        .entryList({InstallJournal::stagingPrefix() + u'*'}, QDir::AllEntries | QDir::Hidden);
}

// A collection with one circular and the home page, and a package that replaces the
// circular and adds files in folders the collection lacks.
void makeCollection(const QString &folder)
{
    QDir().mkpath(folder + QStringLiteral("/circulares"));
    QDir().mkpath(folder + QStringLiteral("/pagina"));
    writeAll(folder + QStringLiteral("/circulares/1001.pdf"), testPdf("vieja"));
    writeAll(folder + QStringLiteral("/pagina/maincd.htm"), "<p>inicio</p>");
}

const QList<TestZipEntry> packageEntries{
    {"circulares/1001.pdf", testPdf("reemplazo")},
    {"pagina/img/nueva/logo.png", "\x89PNG"},
    {"circulares/4001.pdf", testPdf("4001")},
    {"sistemas/manual.pdf", testPdf("manual")},
};
// Each entry unpacked, the journal, each entry placed, the commit point.
const int installSteps = 4 + 1 + 4 + 1;

bool noLinks(const QString &, const QString &)
{
    return false;
}

} // namespace

class TestInstallRecovery : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_root = std::make_unique<QTemporaryDir>();
        m_collection = m_root->filePath(QStringLiteral("coleccion"));
        makeCollection(m_collection);
        m_package = m_root->filePath(QStringLiteral("paquete.zip"));
        QVERIFY(writeTestZip(m_package, packageEntries));
        m_before = snapshot(m_collection);
        // The collection as a whole install leaves it.
        const QString whole = m_root->filePath(QStringLiteral("entera"));
        makeCollection(whole);
        QVERIFY(ZipPackageInstaller().install(m_package, whole, PackageTrust()).installed);
        m_after = snapshot(whole);
        QVERIFY(m_after != m_before);
    }

    void cleanup() { m_root.reset(); }

    void aJournalNamingAnythingOutsideTheCollectionIsRefused_data()
    {
        QTest::addColumn<QByteArray>("text");
        const QByteArray head = "diario-instalacion 1\n";
        QTest::newRow("cut short") << head + "nuevo\tcirculares/4001.pdf\n";
        QTest::newRow("parent folder") << head + "nuevo\tcirculares/../../x\nfin\n";
        QTest::newRow("absolute") << head + "reemplaza\t/etc/passwd\nfin\n";
        QTest::newRow("a staging folder") << head + "carpeta\t.instalando-x\nfin\n";
        QTest::newRow("backslash") << head + "nuevo\tcirculares\\..\\x\nfin\n";
        QTest::newRow("unknown kind") << head + "borrar\tcirculares/1001.pdf\nfin\n";
    }

    void aJournalNamingAnythingOutsideTheCollectionIsRefused()
    {
        QFETCH(QByteArray, text);
        QVERIFY(!InstallJournal::parse(text));
        // Without a journal to trust, nothing is undone: the staging folder just goes.
        QCOMPARE(InstallJournal::recoveryFor(text, false), InstallJournal::Recovery::Discard);
    }

    // An install killed at any step leaves, once the next reader has looked, the package
    // whole or not at all, and no staging folder; on a file system with hard links or
    // without them.
    void aKilledInstallIsWholeOrAbsentForTheNextReader_data()
    {
        QTest::addColumn<int>("killAt"); // 0: not killed
        QTest::addColumn<bool>("links");
        for (const bool links : {true, false}) {
            for (int step = 0; step <= installSteps; ++step) {
                QTest::addRow("%s, step %d", links ? "links" : "no links", step) << step << links;
            }
        }
    }

    void aKilledInstallIsWholeOrAbsentForTheNextReader()
    {
        QFETCH(int, killAt);
        QFETCH(bool, links);
        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            ZipPackageInstaller installer({}, {}, links ? ZipPackageInstaller::Link() : noLinks,
                                          [killAt](int step) {
                                              if (step == killAt) {
                                                  _exit(9); // no clean-up of any kind
                                              }
                                          });
            _exit(installer.install(m_package, m_collection, PackageTrust()).installed ? 0 : 1);
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), killAt == 0 ? 0 : 9);

        const InstallRecovery recovery = recoverInterruptedInstall(m_collection);
        QVERIFY(recovery.problems.isEmpty());
        QVERIFY(!recovery.running);
        QCOMPARE(stagingFolders(m_collection), QStringList());
        const QMap<QString, QByteArray> now = snapshot(m_collection);
        // Cut short before the commit point it is undone, after it finished.
        QCOMPARE(now, killAt == 0 || killAt == installSteps ? m_after : m_before);
    }

    void anInstallWaitsForTheOneRunning_data()
    {
        QTest::addColumn<bool>("otherEnds"); // the other install ends while this one waits
        QTest::newRow("the other ends") << true;
        QTest::newRow("waiting is given up") << false;
    }

    void anInstallWaitsForTheOneRunning()
    {
        QFETCH(bool, otherEnds);
        InstallLock other(m_collection);
        QCOMPARE(other.tryLock(), InstallLock::Attempt::Held);
        // The other install's staging folder is alive: a reader leaves it alone.
        const QString live = QDir(m_collection).filePath(QStringLiteral(".instalando-vivo"));
        QVERIFY(QDir().mkpath(live));
        QVERIFY(recoverInterruptedInstall(m_collection).running);
        QVERIFY(QFileInfo::exists(live));
        QVERIFY(QDir(live).removeRecursively());
        m_before = snapshot(m_collection);

        int pauses = 0;
        const InstallOutcome outcome =
            ZipPackageInstaller().install(m_package, m_collection, PackageTrust(), [&] {
                if (++pauses == 3 && otherEnds) {
                    other.unlock();
                }
                return otherEnds || pauses < 3;
            });
        QCOMPARE(pauses, 3);
        QCOMPARE(outcome.installed, otherEnds);
        QCOMPARE(snapshot(m_collection), otherEnds ? m_after : m_before);
        if (!otherEnds) {
            QVERIFY2(outcome.reason.contains(QStringLiteral("otra instalación")),
                     qPrintable(outcome.message));
        }
    }

    void theInstallCommandGivesUpOnABusyCollection()
    {
        InstallLock other(m_collection);
        QCOMPARE(other.tryLock(), InstallLock::Attempt::Held);
        ZipPackageInstaller installer;
        QtPdfDocuments pdf;
        QString outText;
        QString errText;
        QTextStream out(&outText);
        QTextStream err(&errText);
        QCOMPARE(installPackageCommand(installer, pdf, Collection(m_collection), m_package, out,
                                       err, std::chrono::milliseconds(300)),
                 1);
        QVERIFY2(
            errText.startsWith(QStringLiteral("Esperando a que termine otra instalación...\n")),
            qPrintable(errText));
        QVERIFY2(
            errText.contains(QStringLiteral("otra instalación en esta colección sigue en curso")),
            qPrintable(errText));
        QVERIFY(outText.isEmpty());
        QCOMPARE(snapshot(m_collection), m_before);
    }

    // A move fails, and then so does putting back the file it replaced: the message says
    // the collection is incomplete, and the journal stays for the next reader.
    void aFailedUndoIsNeverCalledAnUntouchedCollection()
    {
        int moves = 0;
        const QString collection = m_collection;
        ZipPackageInstaller installer({}, [&](const QString &from, const QString &to) {
            if (++moves < 3) {
                return std::rename(QFile::encodeName(from).constData(),
                                   QFile::encodeName(to).constData()) == 0;
            }
            // The backup of the replaced circular can no longer go back: a folder is in its way.
            for (const QString &staging : stagingFolders(collection)) {
                const QString backup =
                    QDir(collection)
                        .filePath(staging + QStringLiteral("/.respaldo/circulares/1001.pdf"));
                QFile::remove(backup);
                QDir().mkpath(backup + QStringLiteral("/estorbo"));
            }
            return false;
        });
        const InstallOutcome outcome = installer.install(m_package, m_collection, PackageTrust());
        QVERIFY(!outcome.installed);
        QCOMPARE(outcome.message, ZipPackageInstaller::undoFailedMessage(outcome.reason));
        QVERIFY(!outcome.message.contains(QStringLiteral("no se modificó")));
        const QStringList left = stagingFolders(m_collection);
        QCOMPARE(left.size(), 1);
        QVERIFY(QFileInfo::exists(
            QDir(m_collection).filePath(left.first() + u'/' + InstallJournal::journalFile())));
        QVERIFY(!recoverInterruptedInstall(m_collection).problems.isEmpty());
    }

private:
    std::unique_ptr<QTemporaryDir> m_root;
    QString m_collection;
    QString m_package;
    QMap<QString, QByteArray> m_before;
    QMap<QString, QByteArray> m_after;
};

QTEST_GUILESS_MAIN(TestInstallRecovery)
#include "tst_installrecovery.moc"
