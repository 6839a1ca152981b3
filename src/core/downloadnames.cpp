#include "downloadnames.h"

#include "updatecontract.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace DownloadNames {
namespace {

constexpr int maxNameBytes = 255;
constexpr int maxAttempts = 10000;

// The collection's own names: a download saved under one would be taken for it, and the
// package removed after its install would take the collection's file with it (the
// catalog a package has just brought, say).
bool isReserved(const QString &name)
{
    for (const QLatin1String reserved :
         {QLatin1String("legisdisco"), QLatin1String("legisdis.ini"), QLatin1String("legisdis.hlp"),
          QLatin1String("legisdis.pub"), UpdateContract::circularsFolder,
          UpdateContract::manualsFolder, UpdateContract::pagesFolder, UpdateContract::catalogFile,
          UpdateContract::catalogSignatureFile}) {
        if (name.compare(reserved, Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

// text cut so that its UTF-8 form takes at most bytes, never inside a character.
QString cutToBytes(const QString &text, int bytes)
{
    QString cut;
    int used = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool pair =
            text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
        const QString character = text.mid(i, pair ? 2 : 1);
        const int size = int(character.toUtf8().size());
        if (used + size > bytes) {
            break;
        }
        cut += character;
        used += size;
        i += pair ? 1 : 0;
    }
    return cut;
}

// Splits a name into stem and extension (".zip"); a leading dot is no extension.
void split(const QString &name, QString *stem, QString *extension)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0 || name.size() - dot > 16) {
        *stem = name;
        extension->clear();
        return;
    }
    *stem = name.left(dot);
    *extension = name.mid(dot);
}

QString fitted(const QString &stem, const QString &suffix)
{
    const int suffixBytes = int(suffix.toUtf8().size());
    return cutToBytes(stem, maxNameBytes - suffixBytes) + suffix;
}

} // namespace

QString safeName(const QString &link)
{
    const QString last = link.mid(link.lastIndexOf(u'/') + 1);
    QString name = QUrl::fromPercentEncoding(last.toUtf8());
    for (QChar &c : name) {
        if (c == u'/' || c == u'\\' || c.unicode() < 0x20 || c.unicode() == 0x7f ||
            c.category() == QChar::Other_Format) {
            c = u'_';
        }
    }
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) {
        return QStringLiteral("descarga");
    }
    if (name.startsWith(u'.')) {
        name[0] = u'_';
    }
    if (name.toUtf8().size() > maxNameBytes) {
        QString stem, extension;
        split(name, &stem, &extension);
        name = fitted(stem, extension);
    }
    return name;
}

QString freshPath(const QString &folder, const QString &name)
{
    const QDir dir(folder);
    const auto isFree = [&dir](const QString &candidate) {
        const QFileInfo info(dir.filePath(candidate));
        return !isReserved(candidate) && !info.exists() && !info.isSymLink();
    };
    if (isFree(name)) {
        return dir.filePath(name);
    }
    QString stem, extension;
    split(name, &stem, &extension);
    for (int n = 1; n <= maxAttempts; ++n) {
        const QString candidate = fitted(stem, QStringLiteral(" (%1)").arg(n) + extension);
        if (isFree(candidate)) {
            return dir.filePath(candidate);
        }
    }
    return {};
}

} // namespace DownloadNames
