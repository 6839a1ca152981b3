#pragma once

#include "catalog.h"
#include "minisign.h"

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>

#include <optional>

class Collection;

// The largest catalog and signature file read, from a package or a collection: a few
// hundred bytes a circular, and a signature of four short lines.
constexpr qint64 maxCatalogBytes = 64 * 1024 * 1024;
constexpr qint64 maxSignatureBytes = 4096;

// What an update package must prove before it enters a collection. Where the program
// folder holds the publisher's public key (legisdis.pub), the package must carry a catalog
// signed with that key, no older than the newest one the collection accepted, still valid
// today, that vouches for every other file of the package by SHA-256 and size. Without the
// key, nothing is proven and the install says so.
struct PackageTrust {
    bool keyed = false;                      // the program folder holds legisdis.pub
    std::optional<Minisign::PublicKey> key;  // empty while keyed: the file is unreadable
    QString keyProblem;                      // why the key could not be read
    std::optional<quint64> acceptedSequence; // of the newest catalog accepted so far
    QDate today;
};

// The trust an install into collection works under: the key read from the program folder
// only (never the per-user collection, a package or the network), and the newest
// catalog either folder of the collection accepted.
PackageTrust trustFor(const Collection &collection, QDate today);

// The newest catalog the collection accepted, of those that still verify with key: the
// program folder's or the per-user collection's.
std::optional<Catalog> acceptedCatalog(const Collection &collection,
                                       const Minisign::PublicKey &key);

// One file of a package, as unpacked.
struct PackageFile {
    QString path;      // "circulares/1007.pdf"
    QByteArray sha256; // lower-case hex
    qint64 size = 0;
};

// Judges a package against trust: its catalog and signature (empty when the package has
// none) and the other files it carries. The catalog on success; the reason, in Spanish,
// otherwise. Only for keyed trust.
std::optional<Catalog> vouchedCatalog(const PackageTrust &trust, const QByteArray &catalogText,
                                      const QByteArray &signature, const QList<PackageFile> &files,
                                      QString *reason);
