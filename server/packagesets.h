#pragma once

#include <QString>
#include <QStringList>

// How a set of circulars travels in the package's addresses: a short text made only of
// letters, digits, "-" and "_" from which the set can be read back, so that any server over
// the same folder can build the package again from its address alone.
namespace PackageSets {
// The value of an identifier written as a plain decimal number (no sign, no leading zero,
// at most 18 digits), as most are; false for any other. Sets of such numbers are coded as
// runs, and found again by value.
bool plainNumber(QStringView identifier, quint64 *value);
// identifiers must be in natural order, without repetitions.
QString encode(const QStringList &identifiers);
// The set back, in natural order; false when code is not the encoding of a set, or of one
// of more than most circulars. A code of a few bytes can stand for a million numbers: most
// bounds what decoding it costs (the server passes how many circulars it has).
bool decode(const QString &code, qsizetype most, QStringList *identifiers);
} // namespace PackageSets
