#include "searchtools.h"

#include "findbar.h"
#include "indexpage.h"
#include "searchbackend.h"
#include "searchpane.h"
#include "searchservice.h"
#include "webbrowser.h"
#include "widgetnames.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>

#include <utility>

namespace {
// The results pane takes this share of the window's width, within bounds.
constexpr int paneShare = 3; // a third at most
constexpr int paneMaxWidth = 420;
// How often, and how far apart, the words of a hit are looked for in a PDF document
// whose text is not there yet.
constexpr int pdfFindRetries = 12;
constexpr int pdfFindRetryMs = 400;
// Results shown in the pane.
constexpr int paneHits = 200;
// The index waits this long after the first page is on screen, so that the page is drawn
// and the window answers before any file of the collection is looked at.
constexpr int indexAfterFirstPageMilliseconds = 1000;
// A first page that never completes (a home page missing or hung) holds the index back no
// longer than this.
constexpr int firstPageWaitMilliseconds = 10000;
} // namespace

SearchTools::SearchTools(FeatureModule &features, const Collection &collection, WebBrowser *browser,
                         QWidget *client, QLayout *addressBand, QStatusBar *statusBar,
                         QObject *parent)
    : QObject(parent)
    , m_backend(std::make_unique<DeferredSearchBackend>(features))
    , m_collection(collection)
    , m_browser(browser)
    , m_client(client)
{
    txtSearch = new QLineEdit(client);
    txtSearch->setObjectName(QStringLiteral("txtSearch"));
    txtSearch->setPlaceholderText(QStringLiteral("Buscar en la colección"));
    txtSearch->setAccessibleName(QStringLiteral("Buscar en la colección"));
    enableNamedClearButton(txtSearch);
    txtSearch->setMinimumWidth(160);
    txtSearch->setMaximumWidth(280);
    if (addressBand) {
        addressBand->addWidget(txtSearch);
    }

    findBar = new FindBar(browser, client);

    searchPane = new SearchPane(client);
    searchPane->hide();
    connect(searchPane, &SearchPane::closeRequested, this, [this] {
        searchPane->hide();
        emit paneToggled();
    });

    lblIndexStatus = new QLabel(statusBar);
    lblIndexStatus->setObjectName(QStringLiteral("lblIndexStatus"));
    lblIndexStatus->setAccessibleName(QStringLiteral("Estado del índice"));
    statusBar->addPermanentWidget(lblIndexStatus);

    connect(browser, &WebBrowser::DocumentComplete, this, &SearchTools::browserDocumentComplete);
    connect(findBar, &FindBar::counted, this, [this](int, int total) {
        if (total > 0 || !findBar->isVisible()) {
            m_pdfFindRetries = 0;
        } else if (m_pdfFindRetries > 0) {
            --m_pdfFindRetries;
            QTimer::singleShot(pdfFindRetryMs, findBar, [this] {
                if (findBar->isVisible()) {
                    // A fresh search: the engine does not look again for a text it
                    // has just not found.
                    m_browser->FindText(QString(), false, {});
                    findBar->findNext();
                }
            });
        }
    });
}

SearchTools::~SearchTools()
{
    // The service's threads may still be asking the backend for the index: they end first.
    delete m_service;
}

SearchService &SearchTools::service()
{
    if (!m_service) {
        // The reader sees the program folder with the per-user collection laid
        // over it; the index goes to the user's cache folder, one per collection.
        const QString indexFolder = indexFolderFor(
            m_collection, QStandardPaths::writableLocation(QStandardPaths::CacheLocation));
        m_service = new SearchService(*m_backend, m_collection, indexFolder, this);
        connect(m_service, &SearchService::progressChanged, this, &SearchTools::showIndexProgress);
        connect(m_service, &SearchService::indexUnavailable, this, [this](const QString &reason) {
            lblIndexStatus->setText(QStringLiteral("Búsqueda no disponible: %1").arg(reason));
        });
        connect(m_service, &SearchService::hitsFound, this, &SearchTools::showHits);
    }
    return *m_service;
}

void SearchTools::showIndexProgress(int done, int total, int skipped, bool finished)
{
    lblIndexStatus->setText(indexStatusText(done, total, skipped, finished));
    // Results asked for while indexing may have grown.
    if (finished && searchPane->isVisible() && !searchPane->query().isEmpty()) {
        m_keepRow = searchPane->lstResults->currentRow();
        m_service->search(searchPane->query(), paneHits);
    }
}

void SearchTools::showHits(const QString &text, const std::vector<SearchHit> &found)
{
    std::vector<SearchHit> hits = found;
    const QHash<QString, QString> statuses = collectionStatuses(m_collection);
    for (SearchHit &hit : hits) {
        hit.status = statuses.value(circularNumberOf(hit.relativePath));
    }
    searchPane->showResults(text, std::move(hits), m_service->indexing());
    if (m_keepRow >= 0 && m_keepRow < searchPane->lstResults->count()) {
        searchPane->lstResults->setCurrentRow(m_keepRow);
    }
    m_keepRow = -1;
    // The keyboard goes to the results, unless the reader has moved it meanwhile.
    if (std::exchange(m_focusResults, false) && searchPane->lstResults->count() > 0 &&
        QApplication::focusWidget() == m_focusAtSearch) {
        searchPane->lstResults->setFocus(Qt::OtherFocusReason);
    }
}

void SearchTools::reindex()
{
    if (!m_firstPageShown) {
        // The start-up asks for a pass before the first page: it waits for that page, so
        // that the window's start costs the same whatever the size of the collection.
        if (!std::exchange(m_reindexWaiting, true)) {
            QTimer::singleShot(firstPageWaitMilliseconds, this, &SearchTools::firstPageShown);
        }
        return;
    }
    service().reindex();
}

void SearchTools::firstPageShown()
{
    if (std::exchange(m_firstPageShown, true) || !m_reindexWaiting) {
        return;
    }
    QTimer::singleShot(indexAfterFirstPageMilliseconds, this, [this] {
        if (std::exchange(m_reindexWaiting, false)) {
            service().reindex();
        }
    });
}

void SearchTools::search(const QString &text)
{
    if (text.trimmed().isEmpty()) {
        return;
    }
    m_keepRow = -1;
    m_focusResults = true;
    m_focusAtSearch = QApplication::focusWidget();
    searchPane->showSearching(text);
    service().search(text, paneHits);
    if (!searchPane->isVisible()) {
        searchPane->show();
        emit paneToggled();
    }
}

void SearchTools::openHit(int index)
{
    const std::vector<SearchHit> &hits = searchPane->hits();
    if (index < 0 || static_cast<size_t>(index) >= hits.size()) {
        return;
    }
    const SearchHit &hit = hits[static_cast<size_t>(index)];
    findBar->closeBar();
    if (hit.page > 0) {
        // The browser's PDF viewer opens at the page the address names, as wide as the
        // browser allows (not the whole page squeezed into its height), with the words
        // found.
        QUrl url = QUrl::fromLocalFile(hit.absolutePath);
        url.setFragment(QStringLiteral("page=%1&view=FitH").arg(hit.page));
        m_findOnLoad = hit.findText;
        m_findOnLoadPath = hit.absolutePath;
        m_browser->Navigate2(url.toString(QUrl::FullyEncoded));
        return;
    }
    m_findOnLoad = hit.findText;
    m_findOnLoadPath = hit.absolutePath;
    m_browser->Navigate2(hit.absolutePath);
}

void SearchTools::browserDocumentComplete(const QString &address)
{
    firstPageShown();
    // A page opened from the results shows the words found once it is there;
    // an open find bar counts again on each new page. A PDF document's viewer has
    // its text a while after the document is there (also when a zoom key opens it
    // again): the search is repeated until it finds something.
    const bool pdf = address.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive);
    m_pdfFindRetries = pdf ? pdfFindRetries : 0;
    if (!m_findOnLoad.isEmpty() && QDir::cleanPath(address) == QDir::cleanPath(m_findOnLoadPath)) {
        findBar->openBar(std::exchange(m_findOnLoad, QString()));
    } else if (findBar->isVisible() && !findBar->txtFind->text().isEmpty()) {
        findBar->findNext();
    }
}

void SearchTools::togglePane()
{
    if (searchPane->isVisible()) {
        searchPane->hide();
        if (searchPane->isAncestorOf(QApplication::focusWidget())) {
            m_browser->setFocus(Qt::OtherFocusReason);
        }
    } else if (!searchPane->query().isEmpty()) {
        searchPane->show();
        searchPane->lstResults->setFocus(Qt::OtherFocusReason);
    } else {
        return;
    }
    emit paneToggled();
}

int SearchTools::paneWidth() const
{
    if (!searchPane->isVisible()) {
        return 0;
    }
    return qMin(paneMaxWidth, m_client->width() / paneShare);
}

void SearchTools::place()
{
    const int top = m_browser->y();
    const int height = m_browser->height();
    if (searchPane->isVisible()) {
        searchPane->setGeometry(m_browser->width(), top, paneWidth(), height);
    }
    // The find bar lies over the page's top right corner, under the address bar.
    const int width = qMin(m_browser->width(), qMax(360, findBar->sizeHint().width()));
    findBar->setGeometry(m_browser->width() - width, top, width, findBar->sizeHint().height());
    findBar->raise();
}
