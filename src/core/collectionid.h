#pragma once

#include <QString>

// The identity of a collection, made once from the canonical path of its folder, so that
// every route to one folder (a symbolic link, "..", a relative path) names the same
// collection. Its key names what belongs to the collection outside it: the single-instance
// lock, the per-user collection and settings file, and the search index.
class CollectionId {
public:
    CollectionId() = default;
    // The collection whose folder is folder; a folder that does not exist is taken at
    // its absolute path.
    static CollectionId of(const QString &folder);

    // The canonical path the identity was made from.
    QString folder() const { return m_folder; }
    // 16 hex digits: the first of the SHA-256 of the path of the folder's settings file.
    // That is the name the per-user folders and settings files have always had, so they
    // keep it.
    QString key() const { return m_key; }

    bool operator==(const CollectionId &other) const { return m_key == other.m_key; }
    bool operator!=(const CollectionId &other) const { return !(*this == other); }

private:
    QString m_folder;
    QString m_key;
};
