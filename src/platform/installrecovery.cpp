#include "installrecovery.h"

#include "installlock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace InstallJournal;

namespace {

std::optional<QByteArray> readJournal(const QString &stagingFolder)
{
    QFile file(QDir(stagingFolder).filePath(journalFile()));
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    // A journal names the files of one package: a few megabytes at most.
    return file.read(64 << 20);
}

} // namespace

bool pathPresent(const QString &path)
{
    struct stat info;
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

bool syncToDisk(const QString &path)
{
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        return false;
    }
    const bool synced = ::fsync(descriptor) == 0;
    ::close(descriptor);
    return synced;
}

bool rollBackInstall(const QString &collectionFolder, const QString &stagingFolder,
                     const Journal &journal)
{
    const QDir collection(collectionFolder);
    const QDir staging(stagingFolder);
    const QDir backups(staging.filePath(backupFolder()));
    bool whole = true;
    QSet<QString> touched;
    for (auto it = journal.files.rbegin(); it != journal.files.rend(); ++it) {
        const QString target = collection.filePath(it->name);
        switch (undoFor(*it, pathPresent(staging.filePath(it->name)),
                        pathPresent(backups.filePath(it->name)), pathPresent(target))) {
        case Undo::RestoreBackup:
            whole = std::rename(QFile::encodeName(backups.filePath(it->name)).constData(),
                                QFile::encodeName(target).constData()) == 0 &&
                    whole;
            break;
        case Undo::RemoveNew:
            whole = ::unlink(QFile::encodeName(target).constData()) == 0 && whole;
            break;
        case Undo::Nothing:
            continue;
        }
        touched.insert(QFileInfo(target).absolutePath());
    }
    // Folders the install made go too, once empty; one that is not was not only ours.
    for (auto it = journal.folders.crbegin(); it != journal.folders.crend(); ++it) {
        if (collection.rmdir(*it)) {
            touched.insert(QFileInfo(collection.filePath(*it)).absolutePath());
        }
    }
    for (const QString &folder : std::as_const(touched)) {
        syncToDisk(folder);
    }
    return whole;
}

InstallRecovery recoverStagingFolders(const QString &collectionFolder)
{
    InstallRecovery report;
    const QDir collection(collectionFolder);
    const QFileInfoList leftovers =
        collection.entryInfoList({stagingPrefix() + u'*'}, QDir::Dirs | QDir::Files | QDir::Hidden |
                                                               QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &info : leftovers) {
        const QString staging = info.absoluteFilePath();
        if (info.isSymLink() || !info.isDir()) {
            QFile::remove(staging);
            continue;
        }
        const std::optional<QByteArray> journal = readJournal(staging);
        switch (recoveryFor(journal, pathPresent(QDir(staging).filePath(committedFile())))) {
        case Recovery::Discard:
            ++report.discarded;
            break;
        case Recovery::Finish:
            ++report.finished;
            break;
        case Recovery::RollBack:
            if (!rollBackInstall(collectionFolder, staging, *parse(*journal))) {
                // The backups stay where they are, for the next try.
                report.problems.append(
                    QStringLiteral("No se pudo deshacer del todo una instalación interrumpida "
                                   "en %1; se volverá a intentar la próxima vez.")
                        .arg(QDir::toNativeSeparators(collectionFolder)));
                continue;
            }
            ++report.undone;
            break;
        }
        if (!QDir(staging).removeRecursively()) {
            report.problems.append(QStringLiteral("No se pudo borrar la carpeta temporal %1.")
                                       .arg(QDir::toNativeSeparators(staging)));
        }
    }
    return report;
}

InstallRecovery recoverInterruptedInstall(const QString &collectionFolder)
{
    // A reader that cannot change the folder can neither finish nor undo anything in it.
    const QFileInfo folder(collectionFolder);
    if (collectionFolder.isEmpty() || !folder.isDir() || !folder.isWritable()) {
        return {};
    }
    InstallLock lock(collectionFolder);
    if (lock.tryLock() != InstallLock::Attempt::Held) {
        InstallRecovery report;
        report.running = true;
        return report;
    }
    return recoverStagingFolders(collectionFolder);
}
