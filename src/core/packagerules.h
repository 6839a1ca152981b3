#pragma once

#include <QString>
#include <QtGlobal>

// The rules an update package's entries must pass before anything of it is
// unpacked into the collection. A package may only add documents to the
// collection: PDF circulars and manuals, and pages with their style sheets and
// images. It can never run anything, touch the settings or the program, or
// write outside the collection.
namespace PackageRules {

enum class EntryKind {
    Circular, // circulares/<name>.pdf
    Manual,   // sistemas/<name>.pdf
    Page,     // pagina/...: pages, style sheets, images
    Folder,   // a folder entry of one of the above ("pagina/img/"); nothing to unpack
    Catalog,  // the signed catalog and its signature, at the root of the package
};

struct EntryVerdict {
    bool allowed = false;
    EntryKind kind = EntryKind::Folder;
    QString reason; // why not, in Spanish, when not allowed
};

// Judges an entry by its name alone (as stored in the zip, "/" separated).
EntryVerdict checkEntryName(const QString &name);

// Whether the unpacked entry must start as a PDF file does ("%PDF-").
bool mustBePdf(EntryKind kind);
bool looksLikePdf(const QByteArray &start);

// An entry that unpacks to more than 100 MiB at more than 100 times its
// packed size is taken for a zip bomb.
bool isSuspiciousRatio(quint64 packedSize, quint64 unpackedSize);
// Whether unpacking total bytes leaves 10% of it to spare in available bytes.
bool fitsInFreeSpace(quint64 total, quint64 available);

// name as it may be shown to the user: control characters made visible, and
// cut when very long.
QString printable(const QString &name);

} // namespace PackageRules
