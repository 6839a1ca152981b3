#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

class Collection;

// What a later start of the program asks of the copy that already runs for the same
// collection: to come to the front, and to open a document of the collection. The request
// travels as one short line of UTF-8 text, and whatever arrives is read as hostile.

// The longest request, in bytes, its line break included.
constexpr qsizetype maxInstanceRequestBytes = 4096;

// The request to come to the front and open document ("circulares/1001.pdf"), or only to
// come to the front when document is empty.
QByteArray instanceRequest(const QString &document);

// The document a request names: empty for coming to the front alone; none when the bytes
// are not a request (another beginning, not exactly one line, longer than
// maxInstanceRequestBytes, not UTF-8, control characters).
std::optional<QString> readInstanceRequest(const QByteArray &bytes);

// The document of collection that argument names, as its path within the collection
// ("circulares/1003.pdf"): a circular number ("1003"), or the path of a document, relative
// to the collection's folder or absolute. Empty when argument names nothing among the
// collection's documents (pagina/, sistemas/, circulares/): a path elsewhere, one that
// leaves the collection through ".." or a link, a hidden or a missing file, anything but a
// regular file.
QString collectionDocument(const Collection &collection, const QString &argument);
