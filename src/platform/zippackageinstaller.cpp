#include "zippackageinstaller.h"

#include "filedigests.h"
#include "installjournal.h"
#include "installlock.h"
#include "installrecovery.h"
#include "packagerules.h"
#include "packagetrust.h"
#include "updatecontract.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QThread>

#include <zip.h>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace PackageRules;

namespace {

constexpr qint64 chunkSize = 1 << 20;

struct ZipCloser {
    void operator()(zip_t *archive) const { zip_discard(archive); }
};
struct ZipFileCloser {
    void operator()(zip_file_t *file) const { zip_fclose(file); }
};
using ZipArchive = std::unique_ptr<zip_t, ZipCloser>;
using ZipFile = std::unique_ptr<zip_file_t, ZipFileCloser>;

struct Entry {
    zip_uint64_t index = 0;
    QString name;
    EntryKind kind = EntryKind::Folder;
    quint64 size = 0;
    // When the package says the file was last changed, in seconds since the
    // epoch; none when it does not say.
    std::optional<qint64> modified;
};

// A refusal on its way out of the checks.
struct Refusal {
    QString reason;
};
// A refusal after files had moved, some of which could not be put back.
struct UndoFailed {
    QString reason;
};

const QString damaged = QStringLiteral("el archivo no es un paquete zip válido o está dañado");

bool isSpecialFile(zip_t *archive, zip_uint64_t index, bool folderEntry)
{
    zip_uint8_t system = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(archive, index, 0, &system, &attributes) < 0) {
        return false;
    }
    if (system != ZIP_OPSYS_UNIX) {
        return false;
    }
    const mode_t type = (attributes >> 16) & S_IFMT;
    if (type == 0) {
        return false;
    }
    return folderEntry ? type != S_IFDIR : type != S_IFREG;
}

// Reads the entries and judges each by what the archive declares; the first
// entry that fails refuses the package.
std::vector<Entry> checkEntries(zip_t *archive, quint64 *total)
{
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    if (count < 0) {
        throw Refusal{damaged};
    }
    std::vector<Entry> files;
    // Each name once, letter case and the composition of its characters aside: on a file
    // system that folds either, two such entries would be one file.
    QHash<QString, QString> seen;
    *total = 0;
    for (zip_int64_t i = 0; i < count; ++i) {
        const auto index = static_cast<zip_uint64_t>(i);
        const char *rawName = zip_get_name(archive, index, ZIP_FL_ENC_GUESS);
        if (!rawName) {
            throw Refusal{damaged};
        }
        const QString name = QString::fromUtf8(rawName);
        const EntryVerdict verdict = checkEntryName(name);
        if (!verdict.allowed) {
            throw Refusal{verdict.reason};
        }
        const QString shown = printable(name);
        QString folded = name.normalized(QString::NormalizationForm_C).toCaseFolded();
        if (folded.endsWith(u'/')) {
            folded.chop(1);
        }
        if (const auto other = seen.constFind(folded); other != seen.constEnd()) {
            throw Refusal{
                *other == name
                    ? QStringLiteral("el paquete repite «%1»").arg(shown)
                    : QStringLiteral("«%1» y «%2» son el mismo nombre escrito de dos maneras")
                          .arg(printable(*other), shown)};
        }
        seen.insert(folded, name);
        if (isSpecialFile(archive, index, verdict.kind == EntryKind::Folder)) {
            throw Refusal{QStringLiteral("«%1» es un enlace o un archivo especial, no un documento")
                              .arg(shown)};
        }
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat_index(archive, index, 0, &stat) < 0 || !(stat.valid & ZIP_STAT_SIZE) ||
            !(stat.valid & ZIP_STAT_COMP_SIZE)) {
            throw Refusal{damaged};
        }
        if ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE) {
            throw Refusal{QStringLiteral("«%1» está cifrado").arg(shown)};
        }
        if ((stat.valid & ZIP_STAT_COMP_METHOD) &&
            !zip_compression_method_supported(stat.comp_method, 0)) {
            throw Refusal{QStringLiteral("«%1» usa una compresión desconocida").arg(shown)};
        }
        if (verdict.kind == EntryKind::Folder) {
            continue;
        }
        if (verdict.kind == EntryKind::Catalog &&
            stat.size > quint64(name == UpdateContract::catalogFile ? maxCatalogBytes
                                                                    : maxSignatureBytes)) {
            throw Refusal{QStringLiteral("«%1» es demasiado grande").arg(shown)};
        }
        if (isSuspiciousRatio(stat.comp_size, stat.size)) {
            throw Refusal{
                QStringLiteral("«%1» se descomprime a un tamaño desmedido (posible bomba zip)")
                    .arg(shown)};
        }
        if (*total > std::numeric_limits<quint64>::max() - stat.size) {
            throw Refusal{damaged};
        }
        *total += stat.size;
        files.push_back(Entry{index, name, verdict.kind, stat.size,
                              (stat.valid & ZIP_STAT_MTIME) ? std::optional<qint64>(stat.mtime)
                                                            : std::nullopt});
    }
    if (files.empty()) {
        throw Refusal{QStringLiteral("el paquete está vacío")};
    }
    return files;
}

// Unpacks one entry into path, checking it on the way: never more than it
// declares, its checksum, and a PDF where a PDF belongs.
void unpack(zip_t *archive, const Entry &entry, const QString &path)
{
    const QString shown = printable(entry.name);
    const QString broken = QStringLiteral("«%1» está dañado en el paquete").arg(shown);
    ZipFile in(zip_fopen_index(archive, entry.index, 0));
    if (!in) {
        throw Refusal{broken};
    }
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        throw Refusal{QStringLiteral("no se pudo escribir en la colección")};
    }
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        throw Refusal{
            QStringLiteral("no se pudo escribir en la colección: %1").arg(out.errorString())};
    }
    QByteArray buffer(chunkSize, Qt::Uninitialized);
    quint64 written = 0;
    for (;;) {
        const zip_int64_t got = zip_fread(in.get(), buffer.data(), buffer.size());
        if (got < 0) {
            throw Refusal{broken};
        }
        if (got == 0) {
            break;
        }
        if (written == 0 && mustBePdf(entry.kind) &&
            !looksLikePdf(QByteArray::fromRawData(buffer.constData(), got))) {
            throw Refusal{QStringLiteral("«%1» no es un documento PDF").arg(shown)};
        }
        written += static_cast<quint64>(got);
        if (written > entry.size) {
            throw Refusal{QStringLiteral("«%1» se descomprime a más de lo que declara el paquete")
                              .arg(shown)};
        }
        if (out.write(buffer.constData(), got) != got) {
            throw Refusal{
                QStringLiteral("no se pudo escribir en la colección: %1").arg(out.errorString())};
        }
    }
    if (written != entry.size) {
        throw Refusal{broken};
    }
    if (mustBePdf(entry.kind) && written == 0) {
        throw Refusal{QStringLiteral("«%1» no es un documento PDF").arg(shown)};
    }
    if (zip_fclose(in.release()) != 0) {
        throw Refusal{broken};
    }
    out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                       QFileDevice::ReadOther);
    if (!out.flush()) {
        throw Refusal{
            QStringLiteral("no se pudo escribir en la colección: %1").arg(out.errorString())};
    }
    // Where a user's folder lies over the program folder the newer copy of a
    // file wins, so the file is as new as the package says it is, not as its
    // installation: a later upgrade of the program folder with a newer
    // publication then shows. A time in the future would win for ever, so
    // none is later than now. Without a time the file keeps the present one.
    if (entry.modified) {
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        out.setFileTime(QDateTime::fromSecsSinceEpoch(std::min(*entry.modified, now)),
                        QFileDevice::FileModificationTime);
    }
}

bool renameFile(const QString &from, const QString &to)
{
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

// The placement of one installation: the journal first, then the moves, then
// the commit point; cut short anywhere, it is undone from the journal, here or
// by the next reader of the collection.
class Placement {
public:
    Placement(QString collection, QString staging, const ZipPackageInstaller::Seams &seams)
        : m_collection(std::move(collection))
        , m_staging(std::move(staging))
        , m_seams(seams)
    {
    }

    // Notes what the install is about to do and puts the note on the disk with the staged
    // files, before anything moves; false when it could not be written.
    bool begin(const std::vector<QString> &names)
    {
        const QDir collection(m_collection);
        QSet<QString> planned;
        for (const QString &name : names) {
            QStringList missing;
            for (QString folder = QFileInfo(name).path(); folder != QLatin1String(".");
                 folder = QFileInfo(folder).path()) {
                if (!planned.contains(folder) && !pathPresent(collection.filePath(folder))) {
                    missing.prepend(folder);
                }
            }
            for (const QString &folder : std::as_const(missing)) {
                planned.insert(folder);
                m_journal.folders.append(folder);
            }
            m_journal.files.push_back(
                InstallJournal::PlacedFile{name, pathPresent(collection.filePath(name))});
        }
        // The staged files and their folders reach the disk before the journal names them:
        // one flush of the whole file system is far cheaper than one per file.
        const int staging =
            ::open(QFile::encodeName(m_staging).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (staging < 0) {
            return false;
        }
        const bool flushed = ::syncfs(staging) == 0;
        ::close(staging);
        const QString journal = QDir(m_staging).filePath(InstallJournal::journalFile());
        return flushed &&
               writeSynced(journal + QStringLiteral(".nuevo"), InstallJournal::format(m_journal)) &&
               std::rename(QFile::encodeName(journal + QStringLiteral(".nuevo")).constData(),
                           QFile::encodeName(journal).constData()) == 0 &&
               syncToDisk(m_staging);
    }

    bool place(std::size_t index)
    {
        const InstallJournal::PlacedFile &file = m_journal.files[index];
        const QString target = QDir(m_collection).filePath(file.name);
        const QString staged = QDir(m_staging).filePath(file.name);
        const QString folder = QFileInfo(target).absolutePath();
        if (!QDir().mkpath(folder)) {
            return false;
        }
        m_folders.insert(folder);
        if (file.replaces) {
            if (QFileInfo(target).isDir() && !QFileInfo(target).isSymLink()) {
                return false;
            }
            const QString backup =
                QDir(m_staging).filePath(InstallJournal::backupFolder() + u'/' + file.name);
            if (!QDir().mkpath(QFileInfo(backup).absolutePath())) {
                return false;
            }
            // A second name for the old file keeps it in place for readers meanwhile. A file
            // system without links (FAT, exFAT) moves it aside instead: until the new one
            // follows, the name is missing, never half written.
            if (!m_seams.link(target, backup) && !renameFile(target, backup)) {
                return false;
            }
        }
        return m_seams.move(staged, target);
    }

    // The commit point: every placed file and the folders naming it are on the disk,
    // and then the mark that says so. From here on the install is finished, never undone.
    bool commit()
    {
        QSet<QString> folders = m_folders;
        for (const QString &made : std::as_const(m_journal.folders)) {
            folders.insert(QFileInfo(QDir(m_collection).filePath(made)).absolutePath());
        }
        // The files' data went to the disk before the journal was written; what the moves
        // changed are the folders' entries.
        bool synced = true;
        for (const QString &folder : std::as_const(folders)) {
            synced = syncToDisk(folder) && synced;
        }
        return synced &&
               writeSynced(QDir(m_staging).filePath(InstallJournal::committedFile()), "1\n") &&
               syncToDisk(m_staging);
    }

    // Puts back what was there before; false when something could not be. A commit mark
    // goes first, so that a reader finding what is left never takes it for a finished install.
    bool undo()
    {
        const QString mark = QDir(m_staging).filePath(InstallJournal::committedFile());
        const bool unmarked = !pathPresent(mark) || QFile::remove(mark);
        const bool putBack = rollBackInstall(m_collection, m_staging, m_journal);
        return unmarked && putBack;
    }

private:
    static bool writeSynced(const QString &path, const QByteArray &bytes)
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
               file.write(bytes) == bytes.size() && file.flush() && ::fsync(file.handle()) == 0;
    }

    QString m_collection;
    QString m_staging;
    const ZipPackageInstaller::Seams &m_seams;
    InstallJournal::Journal m_journal;
    QSet<QString> m_folders;
};

quint64 fileSystemFreeSpace(const QString &folder)
{
    const QStorageInfo storage(folder);
    return storage.isValid() ? static_cast<quint64>(storage.bytesAvailable()) : 0;
}

bool linkFile(const QString &existing, const QString &link)
{
    return ::link(QFile::encodeName(existing).constData(), QFile::encodeName(link).constData()) ==
           0;
}

} // namespace

ZipPackageInstaller::ZipPackageInstaller(FreeSpace freeSpace, Move move, Link link,
                                         Checkpoint checkpoint)
    : m_seams{freeSpace ? std::move(freeSpace) : FreeSpace(fileSystemFreeSpace),
              move ? std::move(move) : Move(renameFile), link ? std::move(link) : Link(linkFile),
              checkpoint ? std::move(checkpoint) : Checkpoint([](int) {})}
{
}

InstallOutcome ZipPackageInstaller::install(const QString &packagePath,
                                            const QString &collectionFolder,
                                            const PackageTrust &trust, const InstallWait &wait)
{
    InstallOutcome outcome;
    int step = 0;
    try {
        const QFileInfo package(packagePath);
        if (!package.isFile()) {
            throw Refusal{QStringLiteral("no se encontró el paquete «%1»")
                              .arg(printable(QDir::toNativeSeparators(packagePath)))};
        }
        int error = 0;
        ZipArchive archive(zip_open(QFile::encodeName(packagePath).constData(),
                                    ZIP_RDONLY | ZIP_CHECKCONS, &error));
        if (!archive) {
            throw Refusal{damaged};
        }
        quint64 total = 0;
        const std::vector<Entry> files = checkEntries(archive.get(), &total);

        if (!QDir().mkpath(collectionFolder)) {
            throw Refusal{QStringLiteral("no se pudo crear la carpeta de la colección")};
        }
        // One install at a time, and none over the remains of one cut short.
        InstallLock lock(collectionFolder);
        for (;;) {
            const InstallLock::Attempt attempt = lock.tryLock();
            if (attempt == InstallLock::Attempt::Held) {
                break;
            }
            if (attempt == InstallLock::Attempt::Failed) {
                throw Refusal{QStringLiteral("no se pudo reservar la colección para instalar")};
            }
            if (wait && !wait()) {
                throw Refusal{QStringLiteral("otra instalación en esta colección sigue en curso")};
            }
            if (!wait) {
                QThread::msleep(100);
            }
        }
        if (const InstallRecovery earlier = recoverStagingFolders(collectionFolder);
            !earlier.problems.isEmpty()) {
            // The collection is not as it was before either: that is said.
            throw UndoFailed{QStringLiteral("una instalación anterior quedó a medias y no se "
                                            "pudo deshacer")};
        }
        if (!fitsInFreeSpace(total, m_seams.freeSpace(collectionFolder))) {
            throw Refusal{QStringLiteral("no hay espacio libre suficiente en el disco (se "
                                         "necesitan %1 MB)")
                              .arg((total + total / 10) / (1024 * 1024) + 1)};
        }
        QTemporaryDir staging(
            QDir(collectionFolder).filePath(QStringLiteral(".instalando-XXXXXX")));
        if (!staging.isValid()) {
            throw Refusal{QStringLiteral("no se pudo escribir en la colección")};
        }
        // Under the publisher's key each document is hashed while the next is unpacked.
        std::optional<FileDigests> digests;
        if (trust.keyed) {
            digests.emplace();
        }
        QByteArray catalogText;
        QByteArray signature;
        for (const Entry &entry : files) {
            const QString staged = QDir(staging.path()).filePath(entry.name);
            unpack(archive.get(), entry, staged);
            m_seams.checkpoint(++step);
            if (entry.kind != EntryKind::Catalog) {
                if (digests) {
                    digests->add(staged);
                }
            } else if (trust.keyed) {
                QFile file(staged);
                if (!file.open(QIODevice::ReadOnly)) {
                    throw Refusal{QStringLiteral("no se pudo leer el catálogo del paquete")};
                }
                (entry.name == UpdateContract::catalogFile ? catalogText : signature) =
                    file.readAll();
            }
        }
        if (digests) {
            const QHash<QString, QByteArray> sha256 = digests->results();
            QList<PackageFile> documents;
            for (const Entry &entry : files) {
                if (entry.kind != EntryKind::Catalog) {
                    documents.append(PackageFile{
                        entry.name, sha256.value(QDir(staging.path()).filePath(entry.name)),
                        qint64(entry.size)});
                }
            }
            QString reason;
            if (!vouchedCatalog(trust, catalogText, signature, documents, &reason)) {
                throw Refusal{reason};
            }
        }

        // The catalog goes in last, so that it never vouches for files that did not
        // arrive; without the publisher's key nothing vouches for the package, and its
        // catalog stays out of the collection.
        std::vector<Entry> placed;
        for (const Entry &entry : files) {
            if (entry.kind != EntryKind::Catalog) {
                placed.push_back(entry);
            }
        }
        for (const Entry &entry : files) {
            if (entry.kind == EntryKind::Catalog && trust.keyed) {
                placed.push_back(entry);
            }
        }
        std::vector<QString> names;
        for (const Entry &entry : placed) {
            names.push_back(entry.name);
        }
        Placement placement(collectionFolder, staging.path(), m_seams);
        if (!placement.begin(names)) {
            throw Refusal{QStringLiteral("no se pudo escribir en la colección")};
        }
        m_seams.checkpoint(++step);
        for (std::size_t i = 0; i < placed.size(); ++i) {
            if (!placement.place(i)) {
                const QString reason = QStringLiteral("no se pudo colocar «%1» en la colección")
                                           .arg(printable(placed[i].name));
                if (!placement.undo()) {
                    // The journal and the backups stay for the next reader to try again.
                    staging.setAutoRemove(false);
                    throw UndoFailed{reason};
                }
                throw Refusal{reason};
            }
            m_seams.checkpoint(++step);
            outcome.files += placed[i].kind == EntryKind::Catalog ? 0 : 1;
            outcome.circulars += placed[i].kind == EntryKind::Circular ? 1 : 0;
        }
        if (!placement.commit()) {
            const QString reason = QStringLiteral("no se pudo guardar en el disco lo instalado");
            if (!placement.undo()) {
                staging.setAutoRemove(false);
                throw UndoFailed{reason};
            }
            throw Refusal{reason};
        }
        m_seams.checkpoint(++step);
        outcome.installed = true;
        outcome.verified = trust.keyed;
        outcome.message = installedMessage(outcome.circulars, outcome.files);
        if (!outcome.verified) {
            outcome.message += u' ' + unverifiedNotice();
        }
    } catch (const Refusal &refusal) {
        outcome = InstallOutcome();
        outcome.reason = refusal.reason;
        outcome.message = refusedMessage(refusal.reason);
    } catch (const UndoFailed &failure) {
        outcome = InstallOutcome();
        outcome.reason = failure.reason;
        outcome.message = undoFailedMessage(failure.reason);
    }
    return outcome;
}
