#include "updatecheck.h"

#include "updatecontract.h"

#include <QDir>
#include <QDirIterator>

QStringList splitServerList(const QString &text)
{
    if (text.isEmpty()) {
        return {};
    }
    return text.split(QLatin1Char(','));
}

QString trimSpaces(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == QLatin1Char(' ')) {
        ++begin;
    }
    while (end > begin && text.at(end - 1) == QLatin1Char(' ')) {
        --end;
    }
    return text.mid(begin, end - begin);
}

QSet<QString> localNameSet(const QStringList &localNames)
{
    QSet<QString> names;
    names.reserve(localNames.size());
    for (const QString &name : localNames) {
        names.insert(trimSpaces(name));
    }
    return names;
}

bool FindInList(const QString &identifier, const QSet<QString> &localNames)
{
    return localNames.contains(trimSpaces(identifier));
}

QStringList missingCirculars(const QStringList &serverList, const QStringList &localNames)
{
    const QSet<QString> local = localNameSet(localNames);
    QStringList missing;
    for (const QString &identifier : serverList) {
        if (!FindInList(identifier, local)) {
            missing.append(identifier);
        }
    }
    return missing;
}

QStringList localCircularNames(const QString &folder)
{
    // In the folder's own order: sorting would cost more than the whole comparison.
    QStringList names;
    QDirIterator files(folder, {QStringLiteral("*.pdf")}, QDir::Files);
    while (files.hasNext()) {
        files.next();
        names.append(files.fileName().chopped(4));
    }
    return names;
}

namespace {
// What follows the prefix in a request, before the identifiers.
constexpr QLatin1String requestPage = UpdateContract::requestQuery;

// Printable ASCII that keeps its meaning inside the query: everything but the
// characters that start a parameter, a fragment, a space or an escape.
QByteArray keptAsIs()
{
    QByteArray kept;
    for (char c = 0x21; c < 0x7f; ++c) {
        if (c != '&' && c != '#' && c != '+' && c != '%') {
            kept.append(c);
        }
    }
    return kept;
}

QString encodedIdentifier(const QString &identifier, const QByteArray &kept)
{
    return QString::fromLatin1(identifier.toUtf8().toPercentEncoding(kept));
}
} // namespace

QString requestAddress(const QString &prefix, const QStringList &identifiers)
{
    const QByteArray kept = keptAsIs();
    QString address = prefix + requestPage;
    for (const QString &identifier : identifiers) {
        address += encodedIdentifier(identifier, kept) + QLatin1Char(',');
    }
    if (address.endsWith(QLatin1Char(','))) {
        address.chop(1);
    }
    return address;
}

qsizetype identifiersThatFit(const QString &prefix, const QStringList &identifiers,
                             qsizetype maxBytes)
{
    const QByteArray kept = keptAsIs();
    // requestAddress encodes everything outside printable ASCII, so its length
    // in bytes is the prefix's plus each encoded identifier's and the commas.
    qsizetype length = prefix.toUtf8().size() + requestPage.size();
    if (length > maxBytes) {
        return 0;
    }
    qsizetype fitting = 0;
    for (const QString &identifier : identifiers) {
        length += encodedIdentifier(identifier, kept).size() + (fitting > 0 ? 1 : 0);
        if (length > maxBytes) {
            break;
        }
        ++fitting;
    }
    return fitting;
}
