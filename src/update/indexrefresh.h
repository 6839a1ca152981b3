#pragma once

#include "collection.h"
#include "packageinstaller.h"

#include <QSet>
#include <QString>
#include <QStringList>

class PdfDocuments;

// The circular index page (pagina/circulares.htm) belongs to the collection's catalog: it is
// written into the folder installs go to, from the newest catalog the collection accepted
// and the circulars present, and rewritten whenever either changes. "Nueva" marks the
// circulars that arrived since the reader last opened the index; the circulars the reader
// had then are kept beside the page.

// The circulars the collection holds, by number.
QSet<QString> collectionCirculars(const Collection &collection);

// Writes the index page, the titles of circulars the catalog lacks read from their PDF files
// with pdf; false when it could not be written.
bool writeCircularIndex(const Collection &collection, PdfDocuments &pdf);

// At start-up, where the collection has accepted a catalog: rewrites the page when the
// install folder has none yet, or when a catalog, the circulars or what the reader has seen
// changed after it was written. Remembers the circulars present as seen the first time, so
// that what later installs bring is new.
void refreshCircularIndex(const Collection &collection, PdfDocuments &pdf);

// The reader opened the index: what the collection holds now counts as seen.
void markCircularsSeen(const Collection &collection);

// What an install brought, for the reader.
struct InstallNews {
    QStringList circulars; // that were not in the collection before
    QString message;       // the outcome, naming them
};

// Rewrites the index after an installed package, and tells what came: the circulars of
// the collection now that were not among before (a reinstall brings none).
InstallNews installNews(const Collection &collection, const QSet<QString> &before,
                        const InstallOutcome &outcome, PdfDocuments &pdf);

// The catalog's titles of the collection's circulars (empty without a key or catalog).
QHash<QString, QString> catalogTitles(const Collection &collection);
