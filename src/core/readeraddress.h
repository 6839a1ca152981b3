#pragma once

#include <QString>

class Collection;

// What the addresses a reader types and shares mean.

// The address the browser opens for text typed into the address bar: the program
// folder's path of the collection document that text names (a path relative to the
// collection such as "circulares/1001.pdf", or exactly the number of a circular the
// collection holds, "1001"); text unchanged when it names none, so web addresses and
// absolute paths go on as typed.
QString typedAddress(const Collection &collection, const QString &text);

// The web address under which the page shown as addressBarText is published, for
// sending or copying: a text that starts with "http://" is the address itself; a local
// path or file URL inside programFolder or userFolder (the per-user collection laid over
// it) is webBase followed by the path below that folder, so that a circular opened from
// either copy gets the same address; any other text has its backslashes made slashes,
// loses its first 12 characters and gets webBase in front. A page above 0, for a local
// PDF document, is added as "#page=N".
QString sharedPageAddress(const QString &addressBarText, const QString &webBase,
                          const QString &programFolder, const QString &userFolder = QString(),
                          int page = 0);
