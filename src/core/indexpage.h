#pragma once

#include "catalog.h"
#include "collection.h"

#include <QDate>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

// A circular whose file the collection holds, as the file describes itself: the title in
// its document information and the day it was written. Used where the catalog is silent.
struct PresentCircular {
    QString number;
    QString title; // may be empty
    QDate date;    // may be invalid
};

// Where a circular stands, as the catalog says.
struct CircularStatus {
    enum class Kind { None, InForce, Repealed, Amended };
    Kind kind = Kind::None; // None: there is no catalog to say
    QStringList by;         // the circulars that repeal it, or that amend it
};

// The status of circular number in catalog: repealed when any circular of the catalog
// repeals it, else amended when any amends it, else in force.
CircularStatus circularStatus(const Catalog &catalog, const QString &number);

// "Vigente", "Derogada por la Circular 1007", "Modificada por la Circular 1004"; empty
// for Kind::None.
QString statusText(const CircularStatus &status);

// The circular index, pagina/circulares.htm: every circular in present, newest first by
// date, with its number, date and title linked to its file, its status where catalog is
// given, and "Nueva" on those that seen lacks. seen holds the circulars the reader had when
// they last opened the index; none marks nothing new. The catalog's date and title win
// over the file's own. Every text is written escaped: titles come from the network.
QString circularIndexPage(const std::optional<Catalog> &catalog,
                          const QList<PresentCircular> &present,
                          const std::optional<QSet<QString>> &seen);

// The status of every circular the newest catalog collection accepted lists, as
// statusText says it, by number; empty without the publisher's key or an accepted catalog.
QHash<QString, QString> collectionStatuses(const Collection &collection);

// The number of the circular at relativePath ("circulares/1002.pdf" gives "1002"); empty
// for any other file.
QString circularNumberOf(const QString &relativePath);

// The outcome of an install that brought no circular the collection lacked, with the count
// of its files.
QString noNewCircularsText(int files);

// The outcome's opening for circulars that were not in the collection before: number and
// title of up to ten, then how many more; titles holds what is known by number.
QString newCircularsText(const QStringList &numbers, const QHash<QString, QString> &titles,
                         int files);
