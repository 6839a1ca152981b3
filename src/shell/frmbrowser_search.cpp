// Search of the collection (the search field, the results pane, the index
// status) and find in page (the find bar) in the main window.

#include "frmbrowser.h"

#include "collection.h"
#include "coolbar.h"
#include "findbar.h"
#include "searchpane.h"
#include "searchservice.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QStandardPaths>
#include <QStatusBar>
#include <QUrl>

namespace {
// The results pane takes this share of the window's width, within bounds.
constexpr int paneShare = 3; // a third
constexpr int paneMinWidth = 260;
constexpr int paneMaxWidth = 520;
// Results shown in the pane.
constexpr int paneHits = 200;
} // namespace

void frmBrowser::buildSearch()
{
    // The search field stands at the end of the address band.
    txtSearch = new QLineEdit(m_client);
    txtSearch->setObjectName(QStringLiteral("txtSearch"));
    txtSearch->setPlaceholderText(QStringLiteral("Buscar en la colección"));
    txtSearch->setAccessibleName(QStringLiteral("Buscar en la colección"));
    txtSearch->setClearButtonEnabled(true);
    txtSearch->setMinimumWidth(160);
    txtSearch->setMaximumWidth(280);
    if (QLayout *band = txtURL->parentWidget() ? txtURL->parentWidget()->layout() : nullptr) {
        band->addWidget(txtSearch);
    }
    connect(txtSearch, &QLineEdit::returnPressed, this, &frmBrowser::txtSearch_Return);

    mnuBuscar = mnuActualiza->addAction(QStringLiteral("Buscar en la colección..."));
    mnuBuscar->setObjectName(QStringLiteral("mnuBuscar"));
    mnuBuscar->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F));
    connect(mnuBuscar, &QAction::triggered, this, &frmBrowser::mnuBuscar_Click);

    findBar = new FindBar(WebBrowser1, m_client);
    mnuFindInPage = new QAction(QStringLiteral("Buscar en la página"), this);
    mnuFindInPage->setObjectName(QStringLiteral("mnuFindInPage"));
    mnuFindInPage->setShortcut(QKeySequence::Find);
    addAction(mnuFindInPage);
    connect(mnuFindInPage, &QAction::triggered, this, &frmBrowser::mnuFindInPage_Click);
    // F3 and Shift+F3 work wherever the keyboard is in the window.
    auto *findNext = new QAction(this);
    findNext->setObjectName(QStringLiteral("mnuFindNext"));
    findNext->setShortcut(QKeySequence(Qt::Key_F3));
    addAction(findNext);
    connect(findNext, &QAction::triggered, this,
            [this] { findBar->isVisible() ? findBar->findNext() : mnuFindInPage_Click(); });
    auto *findPrevious = new QAction(this);
    findPrevious->setObjectName(QStringLiteral("mnuFindPrevious"));
    findPrevious->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3));
    addAction(findPrevious);
    connect(findPrevious, &QAction::triggered, this,
            [this] { findBar->isVisible() ? findBar->findPrevious() : mnuFindInPage_Click(); });

    searchPane = new SearchPane(m_client);
    searchPane->hide();
    connect(searchPane, &SearchPane::hitActivated, this, &frmBrowser::searchPane_HitActivated);
    connect(searchPane, &SearchPane::closeRequested, this, [this] {
        searchPane->hide();
        Form_Resize();
    });

    // The index's progress sits at the right of the status bar; the panel of
    // the browser's status text keeps the rest.
    lblIndexStatus = new QLabel(StatusBar1);
    lblIndexStatus->setObjectName(QStringLiteral("lblIndexStatus"));
    lblIndexStatus->setAccessibleName(QStringLiteral("Estado del índice"));
    StatusBar1->addPermanentWidget(lblIndexStatus);

    // A page opened from the results shows the words found once it is there;
    // an open find bar counts again on each new page.
    connect(WebBrowser1, &WebBrowser::DocumentComplete, this, [this](const QString &address) {
        if (!m_findOnLoad.isEmpty() &&
            QDir::cleanPath(address) == QDir::cleanPath(m_findOnLoadPath)) {
            findBar->openBar(std::exchange(m_findOnLoad, QString()));
        } else if (findBar->isVisible() && !findBar->txtFind->text().isEmpty()) {
            findBar->findNext();
        }
    });
}

SearchService &frmBrowser::searchService()
{
    if (!m_searchService) {
        // The reader sees the program folder with the per-user collection laid
        // over it; the index goes to the user's cache folder, one per collection.
        const QString indexFolder = indexFolderFor(
            m_collection, QStandardPaths::writableLocation(QStandardPaths::CacheLocation));
        m_searchService = new SearchService(m_collection, indexFolder, this);
        connect(m_searchService, &SearchService::progressChanged, this,
                [this](int done, int total, int skipped, bool finished) {
                    lblIndexStatus->setText(indexStatusText(done, total, skipped, finished));
                    // Results asked for while indexing may have grown.
                    if (finished && searchPane->isVisible() && !searchPane->query().isEmpty()) {
                        const int row = searchPane->lstResults->currentRow();
                        searchPane->showResults(
                            searchPane->query(),
                            m_searchService->search(searchPane->query(), paneHits), false);
                        if (row >= 0 && row < searchPane->lstResults->count()) {
                            searchPane->lstResults->setCurrentRow(row);
                        }
                    }
                });
        connect(m_searchService, &SearchService::indexUnavailable, this, [this] {
            lblIndexStatus->setText(QStringLiteral("No se puede crear el índice de la colección"));
        });
    }
    return *m_searchService;
}

void frmBrowser::reindexCollection()
{
    searchService().reindex();
}

void frmBrowser::mnuBuscar_Click()
{
    txtSearch->setFocus(Qt::ShortcutFocusReason);
    txtSearch->selectAll();
    if (!txtSearch->text().trimmed().isEmpty() && !searchPane->isVisible()) {
        txtSearch_Return();
    }
}

void frmBrowser::mnuFindInPage_Click()
{
    findBar->openBar();
}

void frmBrowser::txtSearch_Return()
{
    const QString text = txtSearch->text();
    if (text.trimmed().isEmpty()) {
        return;
    }
    SearchService &service = searchService();
    searchPane->showResults(text, service.search(text, paneHits), service.indexing());
    if (!searchPane->isVisible()) {
        searchPane->show();
        Form_Resize();
    }
    if (searchPane->lstResults->count() > 0) {
        searchPane->lstResults->setFocus(Qt::OtherFocusReason);
    }
}

void frmBrowser::searchPane_HitActivated(int index)
{
    const std::vector<SearchHit> &hits = searchPane->hits();
    if (index < 0 || static_cast<size_t>(index) >= hits.size()) {
        return;
    }
    const SearchHit &hit = hits[static_cast<size_t>(index)];
    findBar->closeBar();
    if (hit.page > 0) {
        // The browser's PDF viewer opens at the page the address names.
        QUrl url = QUrl::fromLocalFile(hit.absolutePath);
        url.setFragment(QStringLiteral("page=%1").arg(hit.page));
        m_findOnLoad.clear();
        WebBrowser1->Navigate2(url.toString(QUrl::FullyEncoded));
        return;
    }
    m_findOnLoad = hit.findText;
    m_findOnLoadPath = hit.absolutePath;
    WebBrowser1->Navigate2(hit.absolutePath);
}

int frmBrowser::searchPaneWidth() const
{
    if (!searchPane || !searchPane->isVisible()) {
        return 0;
    }
    return qBound(paneMinWidth, m_client->width() / paneShare,
                  qMax(paneMinWidth, qMin(paneMaxWidth, m_client->width() / 2)));
}

void frmBrowser::placeSearchWidgets()
{
    if (!searchPane) {
        return;
    }
    const int top = WebBrowser1->y();
    const int height = WebBrowser1->height();
    if (searchPane->isVisible()) {
        searchPane->setGeometry(WebBrowser1->width(), top, searchPaneWidth(), height);
    }
    // The find bar lies over the page's top right corner, under the address bar.
    const int width = qMin(WebBrowser1->width(), qMax(360, findBar->sizeHint().width()));
    findBar->setGeometry(WebBrowser1->width() - width, top, width, findBar->sizeHint().height());
    findBar->raise();
}
