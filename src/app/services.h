#pragma once

#include "collection.h"
#include "commandline.h"

class QTextStream;

// The entry of the services module (services.cpp) that runs a command of the command line on
// the collection (--search, --install-package, --verify); answers the exit status.
using RunCommand = int (*)(const CommandLine &line, const Collection &collection, QTextStream &out,
                           QTextStream &err);
constexpr char runCommandEntry[] = "legisdiscoRunCommand";
