#include "searchcommand.h"

#include "searchindex.h"

#include <QTextStream>

namespace {
// Every hit of any collection the program is meant for.
constexpr int allHits = 1000000;
} // namespace

int runSearchCommand(const Collection &collection, const QString &indexFolder, const QString &text,
                     QTextStream &out, QTextStream &err)
{
    {
        CollectionIndex index(collection, indexFolder);
        switch (index.open()) {
        case CollectionIndex::OpenResult::Opened:
            index.update();
            break;
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
    for (const SearchHit &hit : search.search(text, allHits)) {
        QString location = hit.relativePath;
        if (hit.page > 0) {
            location += QStringLiteral("#page=%1").arg(hit.page);
        }
        out << location << u'\t' << hit.title << u'\t' << hit.snippet << u'\n';
    }
    out.flush();
    return 0;
}
