// Where the package of an update link lands: packagePath, and the download
// naming rule behind it.
//
// Input: the program folder and the link.
//
// Properties:
// - the result is a folder part ending in "/" followed by a name without "/";
// - the name is never empty, ".", "..", hidden, longer than 255 bytes in UTF-8,
//   and holds no "\" and no control character: it can only name a file
//   directly inside the folder;
// - the name is the link's text after its last "/" when that text is already
//   such a name (and has no "%" to decode);
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
    bool safe = !name.isEmpty() && name != QStringLiteral(".") && name != QStringLiteral("..") &&
                !name.startsWith(u'.') && name.toUtf8().size() <= 255 && !name.contains(u'\\');
    for (const QChar c : name) {
        safe = safe && c.unicode() >= 0x20 && c.unicode() != 0x7f;
    }
    FUZZ_CHECK(safe, {"link", fuzz::shown(link)}, {"path", fuzz::shown(path)});
    const QString last = link.mid(link.lastIndexOf(u'/') + 1);
    bool plain = !last.isEmpty() && !last.startsWith(u'.') && !last.contains(u'%') &&
                 !last.contains(u'\\') && last.toUtf8().size() <= 255;
    for (const QChar c : last) {
        plain = plain && c.unicode() >= 0x20 && c.unicode() != 0x7f &&
                c.category() != QChar::Other_Format && !c.isSurrogate();
    }
    if (plain) {
        FUZZ_CHECK(name == last, {"link", fuzz::shown(link)}, {"path", fuzz::shown(path)});
    }
    const QString cleanFolder = QDir::cleanPath(folder.isEmpty() ? QStringLiteral(".") : folder);
    FUZZ_CHECK(QDir::cleanPath(folderPart) == cleanFolder, {"folder", fuzz::shown(folder)},
               {"path", fuzz::shown(path)});
    if (!folder.isEmpty() && folder != QStringLiteral("/") && QDir::cleanPath(folder) == folder) {
        FUZZ_CHECK(path.startsWith(folder + u'/') && !path.mid(folder.size() + 1).contains(u'/'),
                   {"folder", fuzz::shown(folder)}, {"path", fuzz::shown(path)});
    }
    return 0;
}
