#pragma once

#include "collection.h"

#include <QString>

class QTextStream;

// How long the command-line search spends bringing the index up to date before it
// answers from what is indexed.
constexpr int searchCommandIndexMilliseconds = 15000;

// The command-line search: brings the index in indexFolder up to date with
// the collection for at most indexMilliseconds (or, while another process
// writes it, takes it as it is), then writes one line per hit to out, best
// first, for the best limit hits (all of them when limit is 0):
//   relative path[#page=N] TAB title TAB snippet
// with each field escaped by escapeSearchField. How many more hits there are
// goes to err, so that out holds hits alone. When the index is not complete
// yet, says so on err. Answers the exit status: 0, also when nothing is found;
// 1 when the index cannot be made or used (the reason goes to err); 2 when the
// folder is not a collection.
int runSearchCommand(const Collection &collection, const QString &indexFolder, const QString &text,
                     int limit, QTextStream &out, QTextStream &err,
                     int indexMilliseconds = searchCommandIndexMilliseconds);

// A field of the command's output on one line, the tabs between fields kept
// apart: a backslash is written "\\", a tab "\t", a line feed "\n", a carriage
// return "\r", and any other control character "\xHH".
QString escapeSearchField(const QString &field);
