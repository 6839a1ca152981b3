#pragma once

#include "collection.h"
#include "commandline.h"

#include <QString>
#include <QStringList>

class LockFileInstanceGuard;

// The entry of the window's module (window.cpp): the window on collection, until it is
// closed. arguments are the program's, as it was started.
using RunWindow = int (*)(int argc, char *argv[], const QStringList &arguments,
                          const CommandLine &line, const Collection &collection,
                          LockFileInstanceGuard &instance);
constexpr char runWindowSymbol[] = "legisdiscoRunWindow";

// The module beside the program.
inline QString windowModuleName()
{
    return QStringLiteral("legisdisco-window.so");
}

// "«X» no es un documento de la colección; no se abre."
inline QString notADocumentText(const QString &argument)
{
    return QStringLiteral("«%1» no es un documento de la colección; no se abre.").arg(argument);
}
