#include "indexpage.h"

#include "packagetrust.h"
#include "updatecontract.h"

#include <QHash>
#include <QUrl>

#include <functional>

#include <algorithm>

namespace {

// Text for element content and attribute values alike.
QString escaped(const QString &text)
{
    QString out;
    out.reserve(text.size() + text.size() / 8);
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'&':
            out += QLatin1String("&amp;");
            break;
        case u'<':
            out += QLatin1String("&lt;");
            break;
        case u'>':
            out += QLatin1String("&gt;");
            break;
        case u'"':
            out += QLatin1String("&quot;");
            break;
        case u'\'':
            out += QLatin1String("&#39;");
            break;
        default:
            // Control characters have no business in a title; a space keeps words apart.
            out += c.unicode() < 0x20 || c.unicode() == 0x7f ? QChar(u' ') : c;
        }
    }
    return out;
}

// The address of circular number's file, from the index's folder.
QString fileLink(const QString &number)
{
    return escaped(QStringLiteral("../circulares/") +
                   QString::fromLatin1(QUrl::toPercentEncoding(number + QStringLiteral(".pdf"))));
}

QString circularLink(const QString &number, const QString &text)
{
    return QStringLiteral("<a href=\"%1\">%2</a>").arg(fileLink(number), escaped(text));
}

// Newer numbers first: numerically where both are numbers.
bool numberAfter(const QString &a, const QString &b)
{
    bool aNumeric = false;
    bool bNumeric = false;
    const qulonglong x = a.toULongLong(&aNumeric);
    const qulonglong y = b.toULongLong(&bNumeric);
    if (aNumeric && bNumeric && x != y) {
        return x > y;
    }
    return a > b;
}

struct Row {
    QString number;
    QDate date;
    QString title;
    CircularStatus status;
    bool isNew = false;
};

} // namespace

CircularStatus circularStatus(const Catalog &catalog, const QString &number)
{
    CircularStatus repealed{CircularStatus::Kind::Repealed, {}};
    CircularStatus amended{CircularStatus::Kind::Amended, {}};
    for (const CatalogCircular &circular : catalog.circulars) {
        if (circular.repeals.contains(number) && !repealed.by.contains(circular.number)) {
            repealed.by.append(circular.number);
        }
        if (circular.amends.contains(number) && !amended.by.contains(circular.number)) {
            amended.by.append(circular.number);
        }
    }
    if (!repealed.by.isEmpty()) {
        return repealed;
    }
    if (!amended.by.isEmpty()) {
        return amended;
    }
    return {CircularStatus::Kind::InForce, {}};
}

namespace {

QString statusWith(const CircularStatus &status, const std::function<QString(QString)> &name)
{
    QString verb;
    switch (status.kind) {
    case CircularStatus::Kind::None:
        return {};
    case CircularStatus::Kind::InForce:
        return QStringLiteral("Vigente");
    case CircularStatus::Kind::Repealed:
        verb = QStringLiteral("Derogada");
        break;
    case CircularStatus::Kind::Amended:
        verb = QStringLiteral("Modificada");
        break;
    }
    QStringList parts;
    for (const QString &number : status.by) {
        parts.append(QStringLiteral("%1 por la Circular %2").arg(verb, name(number)));
    }
    return parts.join(QStringLiteral("; "));
}

} // namespace

QString statusText(const CircularStatus &status)
{
    return statusWith(status, [](const QString &number) { return number; });
}

QString circularIndexPage(const std::optional<Catalog> &catalog,
                          const QList<PresentCircular> &present,
                          const std::optional<QSet<QString>> &seen)
{
    QHash<QString, const CatalogCircular *> listed;
    if (catalog) {
        for (const CatalogCircular &circular : catalog->circulars) {
            listed.insert(circular.number, &circular);
        }
    }
    QSet<QString> here;
    QList<Row> rows;
    for (const PresentCircular &file : present) {
        if (here.contains(file.number)) {
            continue;
        }
        here.insert(file.number);
        Row row{file.number, file.date, file.title, {}, seen && !seen->contains(file.number)};
        if (const CatalogCircular *entry = listed.value(file.number)) {
            row.date = entry->date;
            row.title = entry->title;
        }
        if (catalog) {
            row.status = circularStatus(*catalog, file.number);
        }
        rows.append(row);
    }
    std::stable_sort(rows.begin(), rows.end(), [](const Row &a, const Row &b) {
        if (a.date.isValid() != b.date.isValid()) {
            return a.date.isValid();
        }
        if (a.date != b.date) {
            return a.date > b.date;
        }
        return numberAfter(a.number, b.number);
    });

    // A circular named in a status links to its file where the collection holds it.
    const auto name = [&here](const QString &number) {
        return here.contains(number) ? circularLink(number, number) : escaped(number);
    };
    const bool withStatus = catalog.has_value();
    QString html;
    html += QStringLiteral(
        "<!DOCTYPE html>\n<html lang=\"es\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<title>Índice de circulares</title>\n<link rel=\"stylesheet\" href=\"estilo.css\">\n"
        "<style>\n"
        "table.indice { border-collapse: collapse; width: 100%; }\n"
        "table.indice th, table.indice td { border: 1px solid #b0b8c2; padding: 4px 8px; "
        "text-align: left; vertical-align: top; }\n"
        ".nueva { font-weight: bold; color: #9a2800; }\n"
        "@media print { nav { display: none; } body { background: #fff; color: #000; } "
        "a { color: #000; text-decoration: none; } .nueva { color: #000; } "
        "tr { page-break-inside: avoid; } }\n"
        "</style>\n</head>\n<body>\n"
        "<header>\n  <h1>Índice de circulares</h1>\n</header>\n"
        "<nav>\n  <a href=\"maincd.htm\">Inicio</a>\n  <a "
        "href=\"reglamentos.htm\">Reglamentos</a>\n"
        "  <a href=\"circulares.htm\">Circulares</a>\n</nav>\n<main>\n");
    const qsizetype fresh =
        std::count_if(rows.cbegin(), rows.cend(), [](const Row &row) { return row.isNew; });
    html += QStringLiteral("<p>%1 en la colección, de la más reciente a la más antigua")
                .arg(rows.size() == 1 ? QStringLiteral("1 circular")
                                      : QStringLiteral("%1 circulares").arg(rows.size()));
    if (fresh > 0) {
        html += fresh == 1 ? QStringLiteral("; 1 nueva desde su última consulta")
                           : QStringLiteral("; %1 nuevas desde su última consulta").arg(fresh);
    }
    html += QStringLiteral(".</p>\n<table class=\"indice\">\n<thead><tr><th>Circular</th>"
                           "<th>Fecha</th><th>Título</th>");
    if (withStatus) {
        html += QStringLiteral("<th>Estado</th>");
    }
    html += QStringLiteral("</tr></thead>\n<tbody>\n");
    for (const Row &row : rows) {
        html += QStringLiteral("<tr><td>") + circularLink(row.number, row.number);
        if (row.isNew) {
            html += QStringLiteral(" <strong class=\"nueva\">Nueva</strong>");
        }
        html += QStringLiteral("</td><td>") +
                (row.date.isValid() ? row.date.toString(QStringLiteral("dd/MM/yyyy")) : QString()) +
                QStringLiteral("</td><td>") +
                circularLink(row.number, row.title.isEmpty()
                                             ? QStringLiteral("Circular %1").arg(row.number)
                                             : row.title) +
                QStringLiteral("</td>");
        if (withStatus) {
            html += QStringLiteral("<td>") + statusWith(row.status, name) + QStringLiteral("</td>");
        }
        html += QStringLiteral("</tr>\n");
    }
    html += QStringLiteral("</tbody>\n</table>\n</main>\n</body>\n</html>\n");
    return html;
}

QString noNewCircularsText(int files)
{
    return files == 1 ? QStringLiteral("Se instaló la actualización (1 archivo); no trae "
                                       "circulares nuevas.")
                      : QStringLiteral("Se instaló la actualización (%1 archivos); no trae "
                                       "circulares nuevas.")
                            .arg(files);
}

QString newCircularsText(const QStringList &numbers, const QHash<QString, QString> &titles,
                         int files)
{
    if (numbers.isEmpty())
        return noNewCircularsText(files);
    QStringList sorted = numbers;
    std::sort(sorted.begin(), sorted.end(),
              [](const QString &a, const QString &b) { return numberAfter(b, a); });
    constexpr int named = 10;
    QString text = sorted.size() == 1
                       ? QStringLiteral("Se instaló 1 circular nueva en la colección:")
                       : QStringLiteral("Se instalaron %1 circulares nuevas en la colección:")
                             .arg(sorted.size());
    for (qsizetype i = 0; i < sorted.size() && i < named; ++i) {
        const QString title = titles.value(sorted.at(i)).simplified();
        text += QStringLiteral("\n• Circular %1").arg(sorted.at(i));
        if (!title.isEmpty()) {
            text += QStringLiteral(": ") + title;
        }
    }
    if (sorted.size() > named) {
        text += QStringLiteral("\ny %1 más").arg(sorted.size() - named);
    }
    return text;
}

QHash<QString, QString> collectionStatuses(const Collection &collection)
{
    QHash<QString, QString> statuses;
    const PackageTrust trust = trustFor(collection, QDate::currentDate());
    if (!trust.key) {
        return statuses;
    }
    if (const std::optional<Catalog> catalog = acceptedCatalog(collection, *trust.key)) {
        for (const CatalogCircular &circular : catalog->circulars) {
            statuses.insert(circular.number, statusText(circularStatus(*catalog, circular.number)));
        }
    }
    return statuses;
}

QString circularNumberOf(const QString &relativePath)
{
    const QString folder = UpdateContract::circularsFolder + u'/';
    if (!relativePath.startsWith(folder) ||
        !relativePath.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive) ||
        relativePath.indexOf(u'/', folder.size()) >= 0) {
        return {};
    }
    return relativePath.mid(folder.size(), relativePath.size() - folder.size() - 4);
}
