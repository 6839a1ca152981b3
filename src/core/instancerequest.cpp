#include "instancerequest.h"

#include "collection.h"
#include "updatecontract.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringDecoder>

namespace {

const QByteArray raiseLine("legisdisco 1 raise");
const QByteArray openPrefix("legisdisco 1 open ");

// The relative path of the canonical path real below folder (whose canonical path is
// taken here), or empty when it does not lie there.
QString inside(const QString &folder, const QString &real)
{
    if (folder.isEmpty() || real.isEmpty()) {
        return {};
    }
    const QString base = QFileInfo(folder).canonicalFilePath();
    if (base.isEmpty() || !real.startsWith(base + u'/')) {
        return {};
    }
    return real.mid(base.size() + 1);
}

QString insideCollection(const Collection &collection, const QString &real)
{
    const QString relative = inside(collection.programFolder(), real);
    return relative.isEmpty() ? inside(collection.userFolder(), real) : relative;
}

// Whether relative ("/"-separated) names something below one of the document folders,
// with no empty, ".", ".." or hidden part.
bool isDocumentPath(const QString &relative)
{
    const QStringList parts = relative.split(u'/');
    if (parts.size() < 2) {
        return false;
    }
    const QString &folder = parts.first();
    if (folder != UpdateContract::circularsFolder && folder != UpdateContract::manualsFolder &&
        folder != UpdateContract::pagesFolder) {
        return false;
    }
    for (const QString &part : parts) {
        if (part.isEmpty() || part.startsWith(u'.')) {
            return false;
        }
    }
    return true;
}

} // namespace

QByteArray instanceRequest(const QString &document)
{
    return (document.isEmpty() ? raiseLine : openPrefix + document.toUtf8()) + '\n';
}

std::optional<QString> readInstanceRequest(const QByteArray &bytes)
{
    if (bytes.size() > maxInstanceRequestBytes || !bytes.endsWith('\n') || bytes.count('\n') != 1) {
        return std::nullopt;
    }
    const QByteArray line = bytes.chopped(1);
    if (line == raiseLine) {
        return QString();
    }
    if (!line.startsWith(openPrefix) || line.size() == openPrefix.size()) {
        return std::nullopt;
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString document = utf8(line.mid(openPrefix.size()));
    if (utf8.hasError()) {
        return std::nullopt;
    }
    for (const QChar c : document) {
        if (c.category() == QChar::Other_Control || c == QChar::ByteOrderMark) {
            return std::nullopt;
        }
    }
    return document;
}

QString collectionDocument(const Collection &collection, const QString &argument)
{
    static const QRegularExpression circularNumber(QStringLiteral("^[0-9]{1,9}$"));
    QString relative;
    if (circularNumber.match(argument).hasMatch()) {
        relative = UpdateContract::circularsFolder + u'/' + argument + QStringLiteral(".pdf");
    } else if (QDir::isAbsolutePath(argument)) {
        relative = insideCollection(collection, QFileInfo(argument).canonicalFilePath());
    } else {
        relative = QDir::cleanPath(argument);
    }
    if (!isDocumentPath(relative)) {
        return {};
    }
    // The copy the reader sees, which must be a file of the collection itself, not one a
    // link inside it leads to elsewhere.
    const QFileInfo file(collection.resolve(relative));
    if (!file.isFile() || insideCollection(collection, file.canonicalFilePath()).isEmpty()) {
        return {};
    }
    return relative;
}
