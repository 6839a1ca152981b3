#include "catalog.h"

#include "packagerules.h"
#include "updatecontract.h"

#include <QRegularExpression>

namespace {

const QByteArray header("catalogo-legisdisco 1");

// A number names a file: letters, digits, "-", "_" and ".", not first.
bool isNumber(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9A-Za-z_-][0-9A-Za-z._-]*$"));
    return text.size() <= 64 && pattern.match(text).hasMatch();
}

bool isDigest(const QByteArray &text)
{
    if (text.size() != 64) {
        return false;
    }
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return true;
}

std::optional<qint64> sizeOf(const QByteArray &text)
{
    bool ok = false;
    const qint64 size = text.toLongLong(&ok);
    if (!ok || size < 0 || text.startsWith('+') || text.startsWith('-')) {
        return std::nullopt;
    }
    return size;
}

std::optional<QStringList> numbersOf(const QString &text)
{
    if (text.isEmpty()) {
        return QStringList();
    }
    const QStringList numbers = text.split(u',');
    for (const QString &number : numbers) {
        if (!isNumber(number)) {
            return std::nullopt;
        }
    }
    return numbers;
}

// Text kept on one line, with no tab: what a field may hold.
QString oneField(QString text)
{
    for (QChar &c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f) {
            c = u' ';
        }
    }
    return text.simplified();
}

} // namespace

QString circularPath(const QString &number)
{
    return UpdateContract::circularsFolder + u'/' + number + QStringLiteral(".pdf");
}

QHash<QString, CatalogFile> Catalog::filesByPath() const
{
    QHash<QString, CatalogFile> byPath;
    for (const CatalogCircular &circular : circulars) {
        const QString path = circularPath(circular.number);
        byPath.insert(path, CatalogFile{path, circular.sha256, circular.size});
    }
    for (const CatalogFile &file : files) {
        byPath.insert(file.path, file);
    }
    return byPath;
}

QByteArray Catalog::text() const
{
    QByteArray out = header + '\n';
    out += "secuencia\t" + QByteArray::number(sequence) + '\n';
    out += "vigente-hasta\t" + validUntil.toString(Qt::ISODate).toUtf8() + '\n';
    for (const CatalogCircular &c : circulars) {
        out += "circular\t" + c.number.toUtf8() + '\t' + c.date.toString(Qt::ISODate).toUtf8() +
               '\t' + c.sha256 + '\t' + QByteArray::number(c.size) + '\t' +
               c.repeals.join(u',').toUtf8() + '\t' + c.amends.join(u',').toUtf8() + '\t' +
               oneField(c.title).toUtf8() + '\n';
    }
    for (const CatalogFile &f : files) {
        out += "archivo\t" + f.path.toUtf8() + '\t' + f.sha256 + '\t' + QByteArray::number(f.size) +
               '\n';
    }
    return out;
}

std::optional<Catalog> parseCatalog(QByteArrayView text, QString *error)
{
    const auto fail = [error](int line, const QString &what) -> std::optional<Catalog> {
        *error = QStringLiteral("el catálogo no es válido (línea %1: %2)").arg(line).arg(what);
        return std::nullopt;
    };
    const QList<QByteArray> lines = QByteArray(text.data(), text.size()).split('\n');
    if (lines.isEmpty() || lines.first() != header) {
        return fail(1, QStringLiteral("no empieza por «%1»").arg(QString::fromLatin1(header)));
    }
    Catalog catalog;
    bool haveSequence = false;
    QHash<QString, int> seen;
    for (int i = 1; i < lines.size(); ++i) {
        const int number = i + 1;
        const QByteArray &line = lines.at(i);
        if (line.isEmpty()) {
            if (i == lines.size() - 1) {
                break; // the newline that ends the last line
            }
            return fail(number, QStringLiteral("línea vacía"));
        }
        const QString decoded = QString::fromUtf8(line);
        if (decoded.toUtf8() != line) {
            return fail(number, QStringLiteral("no es texto UTF-8"));
        }
        const QStringList fields = decoded.split(u'\t');
        const QString &kind = fields.first();
        if (kind == QLatin1String("secuencia") && fields.size() == 2 && !haveSequence) {
            bool ok = false;
            catalog.sequence = fields.at(1).toULongLong(&ok);
            if (!ok || !fields.at(1).at(0).isDigit()) {
                return fail(number, QStringLiteral("secuencia no válida"));
            }
            haveSequence = true;
        } else if (kind == QLatin1String("vigente-hasta") && fields.size() == 2 &&
                   !catalog.validUntil.isValid()) {
            catalog.validUntil = QDate::fromString(fields.at(1), Qt::ISODate);
            if (!catalog.validUntil.isValid()) {
                return fail(number, QStringLiteral("fecha no válida"));
            }
        } else if (kind == QLatin1String("circular") && fields.size() == 8) {
            CatalogCircular circular;
            circular.number = fields.at(1);
            circular.date = QDate::fromString(fields.at(2), Qt::ISODate);
            circular.sha256 = fields.at(3).toLatin1();
            const std::optional<qint64> size = sizeOf(fields.at(4).toLatin1());
            const std::optional<QStringList> repeals = numbersOf(fields.at(5));
            const std::optional<QStringList> amends = numbersOf(fields.at(6));
            if (!isNumber(circular.number) || !circular.date.isValid() ||
                !isDigest(circular.sha256) || !size || !repeals || !amends) {
                return fail(number, QStringLiteral("circular mal escrita"));
            }
            circular.size = *size;
            circular.repeals = *repeals;
            circular.amends = *amends;
            circular.title = fields.at(7);
            const QString path = circularPath(circular.number);
            if (seen.contains(path.toLower())) {
                return fail(number, QStringLiteral("circular repetida"));
            }
            seen.insert(path.toLower(), number);
            catalog.circulars.append(circular);
        } else if (kind == QLatin1String("archivo") && fields.size() == 4) {
            CatalogFile file{fields.at(1), fields.at(2).toLatin1(), 0};
            const std::optional<qint64> size = sizeOf(fields.at(3).toLatin1());
            const PackageRules::EntryVerdict verdict = PackageRules::checkEntryName(file.path);
            if (!verdict.allowed || verdict.kind == PackageRules::EntryKind::Folder ||
                verdict.kind == PackageRules::EntryKind::Catalog || !isDigest(file.sha256) ||
                !size) {
                return fail(number, QStringLiteral("archivo mal escrito"));
            }
            file.size = *size;
            if (seen.contains(file.path.toLower())) {
                return fail(number, QStringLiteral("archivo repetido"));
            }
            seen.insert(file.path.toLower(), number);
            catalog.files.append(file);
        } else {
            return fail(number, QStringLiteral("registro desconocido"));
        }
    }
    if (!haveSequence || !catalog.validUntil.isValid()) {
        return fail(lines.size(), QStringLiteral("faltan la secuencia o el último día válido"));
    }
    return catalog;
}
