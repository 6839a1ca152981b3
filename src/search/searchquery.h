#pragma once

#include <QString>
#include <QStringList>

#include <vector>

// What a reader typed into a search field, split into what must be found:
// single words, and "phrases in quotes" whose words must stand together in
// that order. Words are folded (searchtext.h).
struct ParsedQuery {
    struct Part {
        QStringList words;   // folded
        QStringList typed;   // single words: as typed, lower case (accents kept), for the stemmer
        bool phrase = false; // quoted: these words, in order, unstemmed
    };
    std::vector<Part> parts;

    bool isEmpty() const { return parts.empty(); }
};

ParsedQuery parseQuery(const QString &text);
