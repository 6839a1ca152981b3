#pragma once

#include "collectionid.h"

#include <QDateTime>
#include <QString>

#include <vector>

// One file of the collection as the reader sees it.
struct CollectionFile {
    QString relativePath; // "circulares/4001.pdf", always with "/"
    QString absolutePath; // where it lies: the program folder or the per-user folder
    qint64 size = 0;
    QDateTime modified;
};

// The collection a reader sees: the program folder (pagina/, sistemas/,
// circulares/, legisdis.ini) and, where the program folder cannot be written by
// this user (an installed package), a per-user folder of the same layout laid
// over it file by file, the newer file winning. Updates install into the
// per-user folder then. A plain value: every answer looks at the disk afresh.
class Collection {
public:
    Collection() = default;
    // A collection with the given per-user folder; an empty one means none.
    // A program folder alone converts, for callers that have no per-user folder.
    Collection(const QString &programFolder, const QString &userFolder = QString());

    // The collection of programFolder for the current user: a per-user folder
    // under dataFolder (named like the per-user copy of the settings file)
    // when programFolder cannot be written, none otherwise.
    static Collection forUser(const QString &programFolder, const QString &dataFolder);
    // The per-user folder that programFolder gets under dataFolder.
    static QString userFolderFor(const QString &programFolder, const QString &dataFolder);
    // Whether this user can add files to folder and its collection folders.
    static bool writable(const QString &folder);

    QString programFolder() const { return m_programFolder; }
    // The identity of the program folder, made when the collection was.
    CollectionId id() const { return m_id; }
    // Empty when the collection has no per-user folder.
    QString userFolder() const { return m_userFolder; }
    // Where updates are saved and installed: the per-user folder when there
    // is one, else the program folder.
    QString installFolder() const;

    // What the reader sees at relativePath ("pagina/maincd.htm"): the newer of
    // the two copies, the only one when one is missing, and the program
    // folder's path when neither exists.
    QString resolve(const QString &relativePath) const;
    // The relative path of an absolute path inside the program folder or the
    // per-user folder ("circulares/4001.pdf"); empty for any other path.
    QString relativePathOf(const QString &path) const;

    // Every regular, visible file below subfolder ("circulares"; empty for
    // the whole collection), the two folders merged, in no particular order.
    std::vector<CollectionFile> files(const QString &subfolder) const;

private:
    QString m_programFolder;
    QString m_userFolder;
    CollectionId m_id;
};
