#include "packagerules.h"

#include "updatecontract.h"

#include <QStringList>

namespace PackageRules {
namespace {

constexpr quint64 bombSizeThreshold = 100ull * 1024 * 1024;
constexpr quint64 bombRatio = 100;
constexpr int maxNameBytes = 255;

EntryVerdict refuse(const QString &reason)
{
    return EntryVerdict{false, EntryKind::Folder, reason};
}

bool hasControlCharacter(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c.category() == QChar::Other_Format) {
            return true;
        }
    }
    return false;
}

bool endsWithAny(const QString &name, std::initializer_list<const char *> suffixes)
{
    for (const char *suffix : suffixes) {
        if (name.endsWith(QLatin1String(suffix), Qt::CaseInsensitive)) {
            return true;
        }
    }
    return false;
}

} // namespace

EntryVerdict checkEntryName(const QString &name)
{
    const QString shown = printable(name);
    if (name.isEmpty()) {
        return refuse(QStringLiteral("el paquete tiene una entrada sin nombre"));
    }
    if (name.startsWith(u'/') || name.contains(u'\\') || name.contains(u':') ||
        hasControlCharacter(name)) {
        return refuse(QStringLiteral("el nombre «%1» no es seguro").arg(shown));
    }
    const bool isFolder = name.endsWith(u'/');
    const QStringList parts = (isFolder ? name.chopped(1) : name).split(u'/');
    for (const QString &part : parts) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String("..")) {
            return refuse(QStringLiteral("el nombre «%1» no es seguro").arg(shown));
        }
        if (part.startsWith(u'.')) {
            return refuse(QStringLiteral("«%1» es un archivo oculto").arg(shown));
        }
        if (part.toUtf8().size() > maxNameBytes) {
            return refuse(QStringLiteral("el nombre «%1» es demasiado largo").arg(shown));
        }
    }

    if (!isFolder && parts.size() == 1 &&
        (name == UpdateContract::catalogFile || name == UpdateContract::catalogSignatureFile)) {
        return EntryVerdict{true, EntryKind::Catalog, QString()};
    }
    const QString top = parts.first();
    const QString notAllowed =
        QStringLiteral("«%1» no es un documento de la colección (solo se admiten circulares y "
                       "manuales en PDF y páginas)")
            .arg(shown);
    if (top != UpdateContract::circularsFolder && top != UpdateContract::manualsFolder &&
        top != UpdateContract::pagesFolder) {
        return refuse(notAllowed);
    }
    if (isFolder) {
        // circulars and manuals lie directly in their folders
        if (top != UpdateContract::pagesFolder && parts.size() > 1) {
            return refuse(notAllowed);
        }
        return EntryVerdict{true, EntryKind::Folder, QString()};
    }
    if (parts.size() == 1) {
        return refuse(notAllowed);
    }
    const QString file = parts.last();
    if (top == UpdateContract::pagesFolder) {
        if (!endsWithAny(file,
                         {".htm", ".html", ".css", ".png", ".jpg", ".jpeg", ".gif", ".svg"})) {
            return refuse(notAllowed);
        }
        return EntryVerdict{true, EntryKind::Page, QString()};
    }
    if (parts.size() != 2 || !endsWithAny(file, {".pdf"})) {
        return refuse(notAllowed);
    }
    return EntryVerdict{
        true, top == UpdateContract::circularsFolder ? EntryKind::Circular : EntryKind::Manual,
        QString()};
}

bool mustBePdf(EntryKind kind)
{
    return kind == EntryKind::Circular || kind == EntryKind::Manual;
}

bool looksLikePdf(const QByteArray &start)
{
    return start.startsWith("%PDF-");
}

bool isSuspiciousRatio(quint64 packedSize, quint64 unpackedSize)
{
    if (unpackedSize <= bombSizeThreshold) {
        return false;
    }
    return packedSize == 0 || unpackedSize / packedSize > bombRatio;
}

bool fitsInFreeSpace(quint64 total, quint64 available)
{
    // total + 10% <= available, without overflowing
    const quint64 spare = total / 10 + (total % 10 != 0 ? 1 : 0);
    return total <= available && spare <= available - total;
}

QString printable(const QString &name)
{
    QString shown;
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f) {
            shown += u'?';
        } else {
            shown += c;
        }
    }
    if (shown.size() > 80) {
        shown = shown.left(77) + QStringLiteral("...");
    }
    return shown;
}

} // namespace PackageRules
