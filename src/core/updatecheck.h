#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

// The comparison of the circulars a server offers with the local ones.

// The identifiers of a comma-separated list, exactly as split (spaces kept);
// an empty text holds none, while adjacent or trailing commas give empty ones.
QStringList splitServerList(const QString &text);

// text without leading and trailing U+0020 (tabs and line breaks stay).
QString trimSpaces(const QString &text);

// The local identifiers made ready for FindInList: trimmed of spaces.
QSet<QString> localNameSet(const QStringList &localNames);

// Whether identifier, trimmed of spaces, equals a trimmed local name: an exact,
// case-sensitive comparison with no numeric reading ("012" is not "12").
bool FindInList(const QString &identifier, const QSet<QString> &localNames);

// The server's identifiers that have no local file, in the server's order and
// exactly as the server gave them.
QStringList missingCirculars(const QStringList &serverList, const QStringList &localNames);

// The identifiers of the circulars in folder: the regular, visible files named
// *.pdf (extension in any case), without their last four characters, in the
// order the folder lists them. A
// missing or unreadable folder holds none.
QStringList localCircularNames(const QString &folder);

// prefix + "archivoValores.asp?Numeros=" + the identifiers joined by ",", less
// a final comma. Characters that would change the request's meaning ("&",
// "#", "+", "%", space, anything outside ASCII) are percent-encoded.
QString requestAddress(const QString &prefix, const QStringList &identifiers);

// The longest request address a server is asked to take, in bytes.
constexpr qsizetype maxRequestAddressBytes = 8192;

// How many of identifiers, from the first, fit into a request address of at
// most maxBytes (requestAddress of prefix and those identifiers).
qsizetype identifiersThatFit(const QString &prefix, const QStringList &identifiers,
                             qsizetype maxBytes = maxRequestAddressBytes);
