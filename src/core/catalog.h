#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDate>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The catalog of a collection's circulars, as the publisher signs it: UTF-8 text, one
// record a line, fields separated by tabs.
//
//   catalogo-legisdisco 1
//   secuencia       42
//   vigente-hasta   2027-06-30
//   circular        1007  2024-09-02  <SHA-256, hex>  <bytes>  1002  1004,1005  <title>
//   archivo         pagina/guia.htm  <SHA-256, hex>  <bytes>
//
// A circular's fields: its number (its file is circulares/<number>.pdf), its date, the
// SHA-256 and size of its file, the circulars it repeals and those it amends (numbers
// separated by commas, either may be empty), and its title. An "archivo" line vouches for
// another file of the collection by its path. The sequence grows with each catalog the
// publisher signs; the catalog is not to be believed after its last valid day.
struct CatalogCircular {
    QString number;
    QDate date;
    QByteArray sha256; // lower-case hex
    qint64 size = 0;
    QStringList repeals;
    QStringList amends;
    QString title;
};

struct CatalogFile {
    QString path; // within the collection, "/" separated
    QByteArray sha256;
    qint64 size = 0;
};

struct Catalog {
    quint64 sequence = 0;
    QDate validUntil;
    QList<CatalogCircular> circulars;
    QList<CatalogFile> files; // other files than the circulars

    // Every file the catalog vouches for, circulars included, by path.
    QHash<QString, CatalogFile> filesByPath() const;
    // The catalog as text, in the format above.
    QByteArray text() const;
};

// The path of circular number's file within the collection.
QString circularPath(const QString &number);

// Reads a catalog; nullopt with *error set, in Spanish, for anything out of format.
std::optional<Catalog> parseCatalog(QByteArrayView text, QString *error);
