#pragma once

#include <QString>

// How a downloaded file is named: one rule for the download dialog and for
// whoever opens the file afterwards.
namespace DownloadNames {

// The file name for a link: the text after its last "/" (all of it when it
// has none), query included, percent-decoded, and made safe: separators and
// control characters become "_", a leading "." becomes "_", "." and ".." and
// an empty text become "descarga", and the name is cut to 255 bytes without
// splitting a character (keeping its extension where it can).
QString safeName(const QString &link);

// A path in folder for name that names no existing file or folder and none of
// the collection's own names (the program, the settings file, its folders):
// name itself when free, else "name (1).ext", "name (2).ext" and so on, as
// browsers do. Empty when no free name is found.
QString freshPath(const QString &folder, const QString &name);

} // namespace DownloadNames
