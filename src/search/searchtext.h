#pragma once

#include <QString>
#include <QStringView>

#include <vector>

// The words of a text as the index and the queries see them: letters and
// digits in runs, lower case, accents and the diaeresis dropped (the tilde of
// "ñ" is a letter of its own and stays). A number written with thousands
// points ("3.019") is one word, "3019".

// The folded form of a word or text: lower case, without accents.
QString foldText(QStringView text);

struct TextWord {
    qsizetype start = 0;  // in the original text
    qsizetype length = 0; // in the original text
    QString folded;
};

// The words of text, in order. Words longer than a term may be are cut.
std::vector<TextWord> splitWords(QStringView text);

// The same words one at a time, without making anything: the start of the first word at
// or after from, and its length in *length; -1 when there is none.
qsizetype nextWord(QStringView text, qsizetype from, qsizetype *length);
// The folded form of one word as nextWord finds it (thousands points dropped, cut to
// the longest term).
QString foldWord(QStringView word);

// The text with the typographic ligatures of Latin letters ("ﬁ", "ﬂ", "ﬀ"...) written as
// their letters: PDF fonts hand them out as single characters, and "Oﬁcina" is to be
// found, and shown, as "Oficina".
QString withoutLigatures(QString text);

// The text with every run of blanks and control characters made one space,
// trimmed: a title or snippet fit for one line.
QString oneLine(QStringView text);
