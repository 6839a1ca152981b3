#pragma once

#include "searchindex.h"

#include <QFrame>

#include <vector>

class QLabel;
class QListWidget;
class QToolButton;

// The results of a search of the collection, beside the browser: best first,
// each with its title, its kind, the PDF page and a snippet with the words
// found in bold. Enter or a click on a result asks for it to be opened.
class SearchPane : public QFrame {
    Q_OBJECT
public:
    explicit SearchPane(QWidget *parent = nullptr);

    // indexing: the index is still being built, so more may turn up later.
    void showResults(const QString &query, std::vector<SearchHit> hits, bool indexing);
    // The search for query is under way: no results yet.
    void showSearching(const QString &query);
    const std::vector<SearchHit> &hits() const { return m_hits; }
    QString query() const { return m_query; }

    // The line under the title of a hit: "circular · página 3".
    static QString describe(const SearchHit &hit);
    // The snippet as rich text, the words found in bold.
    static QString snippetHtml(const SearchHit &hit);

    QLabel *lblSearchSummary;
    QListWidget *lstResults;
    QToolButton *cmdSearchClose;

signals:
    void hitActivated(int index);
    void closeRequested();

private:
    std::vector<SearchHit> m_hits;
    QString m_query;
};
