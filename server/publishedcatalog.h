#pragma once

#include "catalog.h"

#include <QByteArray>
#include <QDate>
#include <QString>

#include <optional>

// The catalog a publisher signs for a folder of circulars (see catalog.h for its format).

// What --write-catalog is told.
struct CatalogRequest {
    quint64 sequence = 0;
    QDate validUntil;
    // A UTF-8 table separated by tabs, with the header "numero fecha titulo deroga
    // modifica"; empty for none. A circular it does not name takes its title from the PDF
    // and its date from the file.
    QString metadataFile;
};

// The catalog of every circular in folder; nullopt with *error set when the folder or the
// table cannot be read, or the table is out of format.
std::optional<Catalog> catalogOfFolder(const QString &folder, const CatalogRequest &request,
                                       QString *error);

// Where a folder's catalog and its signature stand, if present, beside the circulars.
QString catalogPathIn(const QString &folder);
QString catalogSignaturePathIn(const QString &folder);

// Whether the folder carries a catalog that does not match its circulars: a reason in
// English for the server's operator (a circular changed, missing, unlisted, the signature
// missing, the catalog unreadable); empty when it matches or there is none.
QString catalogMismatch(const QString &folder);
