#include "searchquery.h"

#include "searchtext.h"

namespace {

void addWords(ParsedQuery &query, QStringView text, bool phrase)
{
    const std::vector<TextWord> words = splitWords(text);
    if (words.empty()) {
        return;
    }
    if (phrase && words.size() > 1) {
        ParsedQuery::Part part;
        part.phrase = true;
        for (const TextWord &word : words) {
            part.words.append(word.folded);
        }
        query.parts.push_back(part);
        return;
    }
    for (const TextWord &word : words) {
        ParsedQuery::Part part;
        part.phrase = phrase;
        part.words.append(word.folded);
        part.typed.append(text.mid(word.start, word.length).toString().toLower());
        query.parts.push_back(part);
    }
}

} // namespace

ParsedQuery parseQuery(const QString &typed)
{
    // A query pasted from a PDF may carry the font's ligatures.
    const QString text = withoutLigatures(typed);
    ParsedQuery query;
    // Straight and typographic quotes both open and close a phrase; an
    // unclosed quote runs to the end of the text.
    const auto isQuote = [](QChar c) {
        return c == u'"' || c == QChar(0x201C) || c == QChar(0x201D) || c == QChar(0x00AB) ||
               c == QChar(0x00BB);
    };
    qsizetype start = 0;
    bool inPhrase = false;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i == text.size() || isQuote(text[i])) {
            addWords(query, QStringView(text).mid(start, i - start), inPhrase);
            inPhrase = !inPhrase;
            start = i + 1;
        }
    }
    return query;
}
