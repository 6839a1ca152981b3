#include "readeraddress.h"

#include "collection.h"
#include "instancerequest.h"

#include <QDir>
#include <QUrl>

namespace {
const QString webPrefix = QStringLiteral("http://");
constexpr int localPrefixLength = 12;

// The local file an address-bar text names, or an empty text when it names none.
QString localPathOf(const QString &text)
{
    if (text.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
        const QUrl url(text);
        return url.isLocalFile() ? url.toLocalFile() : QString();
    }
    return QDir::isAbsolutePath(text) ? text : QString();
}

// The path of file below folder with "/" separators, or a null text when file does not
// lie inside folder.
QString pathBelow(const QString &file, const QString &folder)
{
    if (file.isEmpty() || folder.isEmpty()) {
        return QString();
    }
    const QString cleanFile = QDir::cleanPath(QDir::fromNativeSeparators(file));
    QString cleanFolder = QDir::cleanPath(QDir::fromNativeSeparators(folder));
    if (!cleanFolder.endsWith(QLatin1Char('/'))) {
        cleanFolder += QLatin1Char('/');
    }
    if (!cleanFile.startsWith(cleanFolder)) {
        return QString();
    }
    return cleanFile.mid(cleanFolder.size());
}
} // namespace

QString typedAddress(const Collection &collection, const QString &text)
{
    const QString trimmed = text.trimmed();
    // Absolute paths and addresses with a scheme are the browser's to read.
    if (trimmed.isEmpty() || QDir::isAbsolutePath(trimmed) || trimmed.contains(u':')) {
        return text;
    }
    const QString relative = collectionDocument(collection, trimmed);
    if (relative.isEmpty()) {
        return text;
    }
    return QDir(collection.programFolder()).filePath(relative);
}

QString sharedPageAddress(const QString &addressBarText, const QString &webBase,
                          const QString &programFolder, const QString &userFolder, int page)
{
    if (addressBarText.left(webPrefix.size()) == webPrefix) {
        return addressBarText;
    }
    // The fixed cut below only fits a program folder whose path is 11 characters long; a
    // document of the collection is placed by its path inside whichever copy it came from.
    const QString local = localPathOf(addressBarText);
    QString below = pathBelow(local, programFolder);
    if (below.isNull()) {
        below = pathBelow(local, userFolder);
    }
    if (!below.isNull()) {
        QString address = webBase + below;
        if (page > 0 && below.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive)) {
            address += QStringLiteral("#page=%1").arg(page);
        }
        return address;
    }
    QString text = addressBarText;
    text.replace(QLatin1Char('\\'), QLatin1Char('/'));
    qsizetype cut = localPrefixLength;
    // A character outside the BMP is two UTF-16 units: the cut takes both, so that no
    // half of a surrogate pair is left to be sent as "?".
    if (cut < text.size() && text.at(cut).isLowSurrogate() && text.at(cut - 1).isHighSurrogate()) {
        ++cut;
    }
    return webBase + text.mid(cut);
}
