// Where the package of an update link lands: packagePath.
//
// Input: the program folder and the link.
//
// Properties:
// - the result is a folder part ending in "/" followed by a name without "/";
// - the name is the link's text after its last "/" (all of it when it has
//   none), query included;
// - the folder part names the program folder (the same path once cleaned), and
//   for a clean folder (no "//", "." or ".." steps, no trailing "/") it is
//   exactly the folder followed by "/".
#include "fuzzsupport.h"

#include "download.h"

#include <QDir>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    FuzzedDataProvider data(bytes, size);
    QString folder = fuzz::text(data, 48);
    if (data.ConsumeBool()) {
        folder = QDir::cleanPath(QStringLiteral("/") + folder);
    }
    const QString link = data.ConsumeBool()
                             ? QStringLiteral("http://127.0.0.1/") + fuzz::text(data, 96)
                             : fuzz::text(data, 128);

    const QString path = packagePath(folder, link);
    const qsizetype slash = path.lastIndexOf(u'/');
    FUZZ_CHECK(slash >= 0, {"folder", fuzz::shown(folder)}, {"link", fuzz::shown(link)},
               {"path", fuzz::shown(path)});
    const QString name = path.mid(slash + 1);
    const QString folderPart = path.left(slash + 1);
    FUZZ_CHECK(name == link.mid(link.lastIndexOf(u'/') + 1), {"link", fuzz::shown(link)},
               {"path", fuzz::shown(path)});
    const QString cleanFolder = QDir::cleanPath(folder.isEmpty() ? QStringLiteral(".") : folder);
    FUZZ_CHECK(QDir::cleanPath(folderPart) == cleanFolder, {"folder", fuzz::shown(folder)},
               {"path", fuzz::shown(path)});
    if (!folder.isEmpty() && folder != QStringLiteral("/") && QDir::cleanPath(folder) == folder) {
        FUZZ_CHECK(path.startsWith(folder + u'/') && !path.mid(folder.size() + 1).contains(u'/'),
                   {"folder", fuzz::shown(folder)}, {"path", fuzz::shown(path)});
    }
    return 0;
}
