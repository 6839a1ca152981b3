#include "searchcommand.h"

#include "indexpage.h"
#include "searchindex.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QTextStream>

namespace {
// Every hit of any collection the program is meant for.
constexpr int allHits = 1000000;

QString grouped(int number)
{
    QString digits = QString::number(number);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3) {
        digits.insert(at, u'.');
    }
    return digits;
}

QString sentence(const QString &text)
{
    return text.left(1).toUpper() + text.mid(1) + u'.';
}
} // namespace

QString escapeSearchField(const QString &field)
{
    QString out;
    out.reserve(field.size());
    for (const QChar c : field) {
        const char16_t code = c.unicode();
        if (code == u'\\') {
            out += QLatin1String("\\\\");
        } else if (code == u'\t') {
            out += QLatin1String("\\t");
        } else if (code == u'\n') {
            out += QLatin1String("\\n");
        } else if (code == u'\r') {
            out += QLatin1String("\\r");
        } else if (code < 0x20 || (code >= 0x7F && code < 0xA0)) {
            out += QStringLiteral("\\x%1").arg(code, 2, 16, QLatin1Char('0'));
        } else {
            out += c;
        }
    }
    return out;
}

int runSearchCommand(const Collection &collection, const QString &indexFolder, const QString &text,
                     int limit, QTextStream &out, QTextStream &err, int indexMilliseconds)
{
    if (!hasCollectionLayout(collection)) {
        err << sentence(notACollectionText(collection.programFolder())) << Qt::endl;
        return 2;
    }
    {
        CollectionIndex index(collection, indexFolder);
        switch (index.open()) {
        case CollectionIndex::OpenResult::Opened: {
            const IndexProgress progress =
                index.update({}, nullptr, QDeadlineTimer(qMax(0, indexMilliseconds)));
            if (!progress.error.isEmpty()) {
                err << QStringLiteral("No se puede usar el índice de la colección en %1: %2.")
                           .arg(QDir::toNativeSeparators(indexFolder), progress.error)
                    << Qt::endl;
                return 1;
            }
            if (!progress.finished) {
                err << QStringLiteral("El índice de la colección está incompleto (%1 de %2 "
                                      "documentos): se busca en lo ya indexado, y cada búsqueda "
                                      "sigue indexando.")
                           .arg(progress.done)
                           .arg(progress.total)
                    << Qt::endl;
            }
            break;
        }
        case CollectionIndex::OpenResult::Busy:
            err << QStringLiteral("El índice de la colección se está actualizando en otra ventana; "
                                  "se busca en lo ya indexado.")
                << Qt::endl;
            break;
        case CollectionIndex::OpenResult::Failed:
            err << QStringLiteral("No se puede crear el índice de la colección en %1.")
                       .arg(indexFolder)
                << Qt::endl;
            return 1;
        }
    }
    CollectionSearch search(collection, indexFolder);
    const QHash<QString, QString> statuses = collectionStatuses(collection);
    // Snippets are made for the hits printed alone; the others are only counted.
    int matching = 0;
    const std::vector<SearchHit> hits =
        search.search(text, limit > 0 ? qMin(limit, allHits) : allHits, {}, &matching);
    for (const SearchHit &hit : hits) {
        QString location = escapeSearchField(hit.relativePath);
        if (hit.page > 0) {
            location += QStringLiteral("#page=%1").arg(hit.page);
        }
        out << location << u'\t' << escapeSearchField(hit.title) << u'\t'
            << escapeSearchField(hit.snippet) << u'\t'
            << escapeSearchField(statuses.value(circularNumberOf(hit.relativePath))) << u'\n';
    }
    out.flush();
    const int more = matching - static_cast<int>(hits.size());
    if (more == 1) {
        err << QStringLiteral("Hay 1 resultado más; --limit 0 los muestra todos.") << Qt::endl;
    } else if (more > 1) {
        err << QStringLiteral("Hay %1 resultados más; --limit 0 los muestra todos.")
                   .arg(grouped(more))
            << Qt::endl;
    }
    return 0;
}
