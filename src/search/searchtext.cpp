#include "searchtext.h"

#include <algorithm>

namespace {

// Longer words are cut: the index refuses terms over a few hundred bytes, and
// no reader types such a word.
constexpr qsizetype maxWordLength = 64;

QChar foldChar(QChar c)
{
    const QChar lower = c.toLower();
    if (lower == u'ñ' || lower.unicode() < 0x80) {
        return lower;
    }
    if (lower.decompositionTag() == QChar::Canonical) {
        const QString parts = lower.decomposition();
        if (!parts.isEmpty() && parts.at(0).unicode() < 0x80) {
            return parts.at(0);
        }
    }
    return lower;
}

bool isWordChar(QChar c)
{
    return c.isLetterOrNumber();
}

bool isDigitRun(QStringView text)
{
    if (text.isEmpty()) {
        return false;
    }
    for (QChar c : text) {
        if (!c.isDigit()) {
            return false;
        }
    }
    return true;
}

} // namespace

QString foldText(QStringView text)
{
    QString folded;
    folded.reserve(text.size());
    for (QChar c : text) {
        if (c.category() == QChar::Mark_NonSpacing) {
            continue; // a combining accent written on its own
        }
        folded.append(foldChar(c));
    }
    return folded;
}

qsizetype nextWord(QStringView text, qsizetype from, qsizetype *length)
{
    const qsizetype size = text.size();
    qsizetype i = from;
    while (i < size && !isWordChar(text[i])) {
        ++i;
    }
    if (i >= size) {
        *length = 0;
        return -1;
    }
    qsizetype end = i;
    // Combining marks start at U+0300: below that, no character needs its category.
    while (end < size &&
           (isWordChar(text[end]) ||
            (text[end].unicode() >= 0x300 && text[end].category() == QChar::Mark_NonSpacing))) {
        ++end;
    }
    // Thousands points inside a number: "3.019", "1.250.000".
    if (isDigitRun(text.mid(i, end - i))) {
        while (end + 4 <= size && text[end] == u'.' && isDigitRun(text.mid(end + 1, 3)) &&
               (end + 4 == size || !isWordChar(text[end + 4]))) {
            end += 4;
        }
    }
    *length = end - i;
    return i;
}

QString foldWord(QStringView word)
{
    QString folded = foldText(word);
    folded.remove(u'.');
    if (folded.size() > maxWordLength) {
        folded.truncate(maxWordLength);
    }
    return folded;
}

std::vector<TextWord> splitWords(QStringView text)
{
    std::vector<TextWord> words;
    qsizetype length = 0;
    for (qsizetype at = nextWord(text, 0, &length); at >= 0;
         at = nextWord(text, at + length, &length)) {
        words.push_back(TextWord{at, length, foldWord(text.mid(at, length))});
    }
    return words;
}

QString withoutLigatures(QString text)
{
    // U+FB00 to U+FB06: ff, fi, fl, ffi, ffl, long s t, st.
    const auto isLigature = [](QChar c) { return c.unicode() >= 0xFB00 && c.unicode() <= 0xFB06; };
    if (std::none_of(text.cbegin(), text.cend(), isLigature)) {
        return text;
    }
    QString letters;
    letters.reserve(text.size() + 8);
    for (QChar c : std::as_const(text)) {
        letters.append(isLigature(c) ? c.decomposition() : QString(c));
    }
    return letters;
}

QString oneLine(QStringView text)
{
    QString line;
    line.reserve(text.size());
    bool blank = false;
    for (QChar c : text) {
        if (c.isSpace() || c.category() == QChar::Other_Control) {
            blank = true;
            continue;
        }
        if (blank && !line.isEmpty()) {
            line.append(u' ');
        }
        blank = false;
        line.append(c);
    }
    return line;
}
