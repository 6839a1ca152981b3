#include "collection.h"

#include "collectionid.h"
#include "updatecontract.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include <unordered_map>

namespace {

// The relative path of path below folder, or empty when it does not lie there.
QString below(const QString &folder, const QString &path)
{
    if (folder.isEmpty()) {
        return {};
    }
    const QString base = QDir::cleanPath(QDir(folder).absolutePath());
    const QString cleaned = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    if (!cleaned.startsWith(base + u'/')) {
        return {};
    }
    return cleaned.mid(base.size() + 1);
}

bool newer(const QFileInfo &candidate, const QFileInfo &current)
{
    return candidate.lastModified() > current.lastModified();
}

void collect(const QString &root, const QString &subfolder,
             std::unordered_map<QString, CollectionFile> &found)
{
    if (root.isEmpty()) {
        return;
    }
    const QString start = subfolder.isEmpty() ? root : QDir(root).filePath(subfolder);
    QDirIterator it(start, QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    const QString base = QDir::cleanPath(QDir(root).absolutePath());
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        if (!info.isFile() || info.isSymLink() || info.isHidden()) {
            continue;
        }
        QString relative = QDir::cleanPath(info.absoluteFilePath()).mid(base.size() + 1);
        // Hidden folders (a staging folder, say) are not part of the collection.
        if (relative.startsWith(u'.') || relative.contains(QLatin1String("/."))) {
            continue;
        }
        auto existing = found.find(relative);
        if (existing != found.end() && !(info.lastModified() > existing->second.modified)) {
            continue;
        }
        found[relative] =
            CollectionFile{relative, info.absoluteFilePath(), info.size(), info.lastModified()};
    }
}

} // namespace

Collection::Collection(const QString &programFolder, const QString &userFolder)
    : m_programFolder(programFolder)
    , m_userFolder(userFolder)
    , m_id(programFolder.isEmpty() ? CollectionId() : CollectionId::of(programFolder))
{
}

QString Collection::userFolderFor(const QString &programFolder, const QString &dataFolder)
{
    return QDir(dataFolder).filePath(CollectionId::of(programFolder).key());
}

bool Collection::writable(const QString &folder)
{
    const QFileInfo info(folder);
    if (!info.isDir() || !info.isWritable()) {
        return false;
    }
    for (const QLatin1String name : {UpdateContract::circularsFolder, UpdateContract::manualsFolder,
                                     UpdateContract::pagesFolder}) {
        const QFileInfo sub(QDir(folder).filePath(name));
        if (sub.exists() && (!sub.isDir() || !sub.isWritable())) {
            return false;
        }
    }
    return true;
}

Collection Collection::forUser(const QString &programFolder, const QString &dataFolder)
{
    Collection collection(programFolder);
    if (!writable(programFolder)) {
        collection.m_userFolder = QDir(dataFolder).filePath(collection.m_id.key());
    }
    return collection;
}

QString Collection::installFolder() const
{
    return m_userFolder.isEmpty() ? m_programFolder : m_userFolder;
}

QString Collection::resolve(const QString &relativePath) const
{
    const QString inProgram = QDir(m_programFolder).filePath(relativePath);
    if (m_userFolder.isEmpty()) {
        return inProgram;
    }
    const QFileInfo user(QDir(m_userFolder).filePath(relativePath));
    if (!user.isFile()) {
        return inProgram;
    }
    const QFileInfo program(inProgram);
    if (!program.exists() || newer(user, program)) {
        return user.filePath();
    }
    return inProgram;
}

QString Collection::relativePathOf(const QString &path) const
{
    const QString inProgram = below(m_programFolder, path);
    return inProgram.isEmpty() ? below(m_userFolder, path) : inProgram;
}

std::vector<CollectionFile> Collection::files(const QString &subfolder) const
{
    std::unordered_map<QString, CollectionFile> found;
    collect(m_programFolder, subfolder, found);
    collect(m_userFolder, subfolder, found);
    std::vector<CollectionFile> result;
    result.reserve(found.size());
    for (auto &entry : found) {
        result.push_back(std::move(entry.second));
    }
    return result;
}
