#pragma once

#include "catalog.h"

#include <QList>
#include <QString>

class Collection;

// One way a collection differs from the catalog that vouches for it.
struct CatalogDifference {
    enum class Kind {
        Changed,  // the file is not the one the catalog lists (SHA-256 or size)
        Missing,  // the catalog lists it; the collection does not have it
        Unlisted, // a circular the catalog does not list
    };
    Kind kind;
    QString path; // within the collection, "circulares/1002.pdf"
};

// Compares what the reader sees of collection (the newer of the two copies of each file)
// with catalog: every file it lists, and every circular the collection holds. In the
// order of the catalog, then of the paths.
QList<CatalogDifference> differencesFrom(const Collection &collection, const Catalog &catalog);

// The SHA-256 of a file, in lower-case hex; empty when it cannot be read.
QByteArray fileSha256(const QString &path);
