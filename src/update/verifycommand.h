#pragma once

#include <QDate>

class Collection;
class QTextStream;

// legisdisco --verify: compares the collection with the newest catalog it accepted, signed
// by the publisher whose key the program folder holds. Prints each circular or page that
// was changed, is missing or is not listed, one a line; answers 0 when everything matches,
// 1 otherwise (a difference, or no key or accepted catalog to compare with).
int verifyCommand(const Collection &collection, QDate today, QTextStream &out, QTextStream &err);
