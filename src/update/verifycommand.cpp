#include "verifycommand.h"

#include "collection.h"
#include "collectioncheck.h"
#include "packagetrust.h"

#include <QTextStream>

int verifyCommand(const Collection &collection, QDate today, QTextStream &out, QTextStream &err)
{
    const PackageTrust trust = trustFor(collection, today);
    if (!trust.keyed) {
        err << QStringLiteral("No se puede verificar la colección: la carpeta del programa no "
                              "tiene la clave pública del publicador (legisdis.pub).")
            << Qt::endl;
        return 1;
    }
    if (!trust.key) {
        err << QStringLiteral("No se puede verificar la colección: %1.").arg(trust.keyProblem)
            << Qt::endl;
        return 1;
    }
    const std::optional<Catalog> catalog = acceptedCatalog(collection, *trust.key);
    if (!catalog) {
        err << QStringLiteral("No se puede verificar la colección: no tiene un catálogo firmado "
                              "por el publicador.")
            << Qt::endl;
        return 1;
    }
    const QList<CatalogDifference> differences = differencesFrom(collection, *catalog);
    for (const CatalogDifference &difference : differences) {
        switch (difference.kind) {
        case CatalogDifference::Kind::Changed:
            out << QStringLiteral("modificado\t");
            break;
        case CatalogDifference::Kind::Missing:
            out << QStringLiteral("falta\t");
            break;
        case CatalogDifference::Kind::Unlisted:
            out << QStringLiteral("no figura en el catálogo\t");
            break;
        }
        out << difference.path << Qt::endl;
    }
    if (!differences.isEmpty()) {
        err << (differences.size() == 1
                    ? QStringLiteral("1 archivo no coincide con el catálogo número %1.")
                          .arg(catalog->sequence)
                    : QStringLiteral("%1 archivos no coinciden con el catálogo número %2.")
                          .arg(differences.size())
                          .arg(catalog->sequence))
            << Qt::endl;
        return 1;
    }
    out << QStringLiteral("La colección coincide con el catálogo número %1 del publicador.")
               .arg(catalog->sequence)
        << Qt::endl;
    return 0;
}
