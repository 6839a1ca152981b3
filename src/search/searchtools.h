#pragma once

#include "collection.h"
#include "searchindex.h"

#include <QObject>
#include <QPointer>

#include <memory>
#include <vector>

class FeatureModule;
class FindBar;
class QLabel;
class QLayout;
class QLineEdit;
class QStatusBar;
class QWidget;
class SearchBackend;
class SearchPane;
class SearchService;
class WebBrowser;

// The search tools of the main window: the field that searches the collection, the pane of
// its results, the index's status and the find bar of the page on screen, with the index
// service behind them. The window lays its browser out beside the pane (paneWidth, place)
// and calls the tools from its menu and field handlers.
class SearchTools : public QObject {
    Q_OBJECT
public:
    // Puts the field at the end of addressBand, the pane and the find bar over client
    // beside browser, and the status at the right of statusBar.
    // The index's code comes from features when the index is first wanted.
    SearchTools(FeatureModule &features, const Collection &collection, WebBrowser *browser,
                QWidget *client, QLayout *addressBand, QStatusBar *statusBar,
                QObject *parent = nullptr);
    ~SearchTools() override;

    // Asks for the hits for text and opens the pane, where they show once found (the
    // search runs off the window's thread; a newer search replaces an older one).
    void search(const QString &text);
    // Opens hit index of the pane in the browser: a PDF at its page, a page with the
    // words found by the find bar once it has loaded.
    void openHit(int index);
    // Brings the index up to date with the collection on disk. Before the browser's first
    // page has completed, the pass waits for it (or for a while, when it never completes).
    void reindex();

    // Hides the pane, or shows it again with the results it had.
    void togglePane();

    // The width the pane takes of the client area; 0 while it is closed.
    int paneWidth() const;
    // Places the pane at the right of the browser and the find bar over the page's top
    // right corner.
    void place();

    QLineEdit *txtSearch;
    FindBar *findBar;
    SearchPane *searchPane;
    QLabel *lblIndexStatus;

signals:
    // The pane opened or closed: the window lays its browser out again.
    void paneToggled();

private:
    SearchService &service();
    void showIndexProgress(int done, int total, int skipped, bool finished);
    void showHits(const QString &text, const std::vector<SearchHit> &hits);
    void browserDocumentComplete(const QString &address);
    void firstPageShown();

    std::unique_ptr<SearchBackend> m_backend;
    Collection m_collection;
    WebBrowser *m_browser;
    QWidget *m_client;
    SearchService *m_service = nullptr;
    // A page opened from the results, and the words to find on it once loaded.
    QString m_findOnLoad;
    QString m_findOnLoadPath;
    // What to do with the answer on its way: put the keyboard in the results (a search
    // the reader asked for), or keep the chosen result (the same search asked again
    // once the index was complete).
    bool m_focusResults = false;
    QPointer<QWidget> m_focusAtSearch;
    int m_keepRow = -1;
    // A PDF document opened from the results shows its text a moment after it has
    // loaded: the words are looked for again this many more times until found.
    int m_pdfFindRetries = 0;
    // The browser's first page has completed; a pass asked for before waits for it.
    bool m_firstPageShown = false;
    bool m_reindexWaiting = false;
};
