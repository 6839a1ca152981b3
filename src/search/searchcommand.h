#pragma once

#include "collection.h"

#include <QString>

class QTextStream;

// The command-line search: brings the index in indexFolder up to date with
// the collection (or, while another process writes it, takes it as it is),
// then writes one line per hit to out, best first:
//   relative path[#page=N] TAB title TAB snippet
// Answers the exit status: 0, also when nothing is found; 1 when the index
// cannot be made at all (the message goes to err).
int runSearchCommand(const Collection &collection, const QString &indexFolder, const QString &text,
                     QTextStream &out, QTextStream &err);
