#include "qtwebbrowser.h"

#include "browserpage.h"
#include "documentdialogs.h"
#include "pdfdocuments.h"
#include "printprogress.h"

#include <QAction>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMenu>
#include <QPointer>
#include <QPrinter>
#include <QSaveFile>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEngineDownloadRequest>
#include <QWebEngineFindTextResult>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <memory>
#include <utility>

namespace {
constexpr int printEndWaitMs = 5000;
// How often the viewer's reports of where the reader is in a PDF document are read.
constexpr int pdfFollowMs = 300;
// How long the zoom keys rest before a PDF document opens again at the zoom they chose.
constexpr int pdfReopenMs = 250;
// How long after the reader scrolled the viewer's reports are taken for that scrolling
// (the viewer scrolls smoothly, for a while after the key or the wheel).
constexpr qint64 pdfScrollReportMs = 1000;

bool isLocalPdf(const QUrl &url)
{
    return url.isLocalFile() && url.path().endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive);
}

// The browser's PDF viewer tells the page holding it where the reader is (the top edge
// and width of the page it shows most of; here with the time) once that page has spoken
// to it. Run again and
// again: the first run listens and speaks to the viewer (until it answers), each run hands
// over the reports gathered since the one before.
const QString pdfReportsScript = QStringLiteral(R"JS(
(function () {
    var state = window.legisdiscoViewer;
    if (!state) {
        state = window.legisdiscoViewer = { heard: false, reports: [] };
        window.addEventListener('message', function (event) {
            if (event.source !== window.frames[0]) { return; }
            state.heard = true;
            var data = event.data;
            if (data && data.type === 'viewport' && isFinite(data.pageY) &&
                isFinite(data.pageWidth)) {
                state.reports.push([Number(data.pageY), Number(data.pageWidth), Date.now()]);
                if (state.reports.length > 10000) { state.reports.shift(); }
            }
        });
    }
    if (!state.heard && window.frames[0]) {
        window.frames[0].postMessage({ type: 'getSelectedText' }, '*');
    }
    var reports = state.reports;
    state.reports = [];
    return reports;
})()
)JS");

// Reads what the program needs of a loaded page in one go.
const QString documentScript = QStringLiteral(R"JS(
(function () {
    var doc = document;
    if (!doc || !doc.documentElement) { return { present: false }; }
    var labels = [];
    var found = doc.getElementsByTagName('label');
    for (var i = 0; i < found.length; ++i) {
        // The engine splits long texts into several nodes; the page wrote one.
        found[i].normalize();
        var values = [];
        var nodes = found[i].childNodes;
        for (var j = 0; j < nodes.length; ++j) { values.push(nodes[j].nodeValue); }
        labels.push(values);
    }
    var links = [];
    for (var k = 0; k < doc.links.length; ++k) { links.push(String(doc.links[k].href)); }
    return { present: true, hasBody: !!doc.body, labels: labels, links: links,
             text: String(doc.documentElement.textContent || '') };
})()
)JS");

HtmlDocument documentFromScriptResult(const QVariant &result)
{
    HtmlDocument doc;
    const QVariantMap map = result.toMap();
    doc.present = map.value(QStringLiteral("present")).toBool();
    if (!doc.present) {
        return doc;
    }
    doc.hasBody = map.value(QStringLiteral("hasBody")).toBool();
    const QVariantList labels = map.value(QStringLiteral("labels")).toList();
    for (const QVariant &label : labels) {
        QStringList values;
        const QVariantList nodes = label.toList();
        for (const QVariant &node : nodes) {
            values.append(node.isNull() ? QString() : node.toString());
        }
        doc.labelChildValues.append(values);
    }
    const QVariantList links = map.value(QStringLiteral("links")).toList();
    for (const QVariant &link : links) {
        doc.links.append(link.toString());
    }
    doc.text = map.value(QStringLiteral("text")).toString();
    return doc;
}
} // namespace

QtWebBrowser::QtWebBrowser(QWebEngineProfile *profile, DocumentDialogs &dialogs, PdfDocuments &pdf,
                           QWidget *parent)
    : WebBrowser(parent)
    , m_view(new QWebEngineView(this))
    , m_page(new BrowserPage(profile, m_view))
    , m_dialogs(dialogs)
    , m_pdf(pdf)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    setFocusProxy(m_view);

    m_page->settings()->setAttribute(QWebEngineSettings::PluginsEnabled, true);
    m_page->settings()->setAttribute(QWebEngineSettings::PdfViewerEnabled, true);
    // Pages of the collection read its files and nothing of the network; the
    // request interceptor keeps the files to the collection's folders. A script
    // opens no window unless the reader just clicked, and then the page's
    // navigation rules decide.
    m_page->settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
    m_page->settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    m_page->settings()->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    m_page->watchReaderInput(m_view);
    m_view->setPage(m_page);
    m_view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_view, &QWidget::customContextMenuRequested, this, &QtWebBrowser::showContextMenu);

    connect(m_page, &BrowserPage::navigationRequested, this,
            [this](const QUrl &url, bool isMainFrame, bool *cancel) {
                emit BeforeNavigate2(reportedAddress(url), cancel);
                // Busy is the page's own loading; a frame it adds later does not count.
                if (!*cancel && isMainFrame) {
                    m_busy = true;
                    m_navigationAccepted = true;
                }
            });
    connect(m_page, &QWebEnginePage::loadStarted, this, &QtWebBrowser::onLoadStarted);
    connect(m_page, &QWebEnginePage::loadFinished, this, &QtWebBrowser::onLoadFinished);
    connect(m_page, &QWebEnginePage::linkHovered, this,
            [this](const QString &url) { emit StatusTextChange(url); });
    connect(m_page->action(QWebEnginePage::Back), &QAction::changed, this,
            &QtWebBrowser::reportCommandStates);
    connect(m_page->action(QWebEnginePage::Forward), &QAction::changed, this,
            &QtWebBrowser::reportCommandStates);
    connect(profile, &QWebEngineProfile::downloadRequested, this,
            &QtWebBrowser::onDownloadRequested);
    connect(m_page, &QWebEnginePage::pdfPrintingFinished, this,
            [this] { m_printsUnderWay = qMax(0, m_printsUnderWay - 1); });

    // A PDF document of the collection opens at the reader's zoom, however it is reached.
    m_page->setAddressRule([this](const QUrl &url) { return pdfOpening(url, 0, false); });
    m_pdfReopen = new QTimer(this);
    m_pdfReopen->setSingleShot(true);
    m_pdfReopen->setInterval(pdfReopenMs);
    connect(m_pdfReopen, &QTimer::timeout, this, [this] {
        const QUrl url = m_page->url();
        if (!isLocalPdf(url)) {
            m_pdfZoomPending = false;
        }
        if (!m_pdfZoomPending) {
            return;
        }
        if (m_busy || m_reopenLoads == m_loads) {
            m_pdfReopen->start(); // the document takes the zoom once it is there
            return;
        }
        m_pdfZoomPending = false;
        reopenPdf(pdfOpening(url, qMax(1, PdfPage()), true));
    });
    m_pdfFollow = new QTimer(this);
    m_pdfFollow->setInterval(pdfFollowMs);
    connect(m_pdfFollow, &QTimer::timeout, this, &QtWebBrowser::followPdf);
    // The viewer's reports are followed only while the reader scrolls: its own jumps (to
    // either end, to a page chosen in its bars, along a link) are not told apart from
    // scrolling by the reports alone.
    connect(m_page, &BrowserPage::readerScrolled, this, &QtWebBrowser::readerScrolls);
    connect(m_page, &BrowserPage::readerKeyPressed, this, [this](int key) {
        switch (key) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_Space:
            readerScrolls();
            break;
        default:
            break;
        }
    });
}

QtWebBrowser::~QtWebBrowser()
{
    // The engine runs pending script callbacks while the page is destroyed, and
    // the window holding this browser may be half gone by then: nothing is
    // delivered from here on.
    m_closing = true;
    // The engine fails when the page goes while it still writes a print to a file: the
    // print is given a few seconds to end.
    if (m_printsUnderWay > 0) {
        QEventLoop wait;
        connect(m_page, &QWebEnginePage::pdfPrintingFinished, &wait, [this, &wait] {
            if (m_printsUnderWay == 0) {
                wait.quit();
            }
        });
        QTimer::singleShot(printEndWaitMs, &wait, &QEventLoop::quit);
        wait.exec();
    }
    blockSignals(true);
    disconnect(m_page, nullptr, this, nullptr);
    delete m_view;
}

QUrl QtWebBrowser::urlFromAddress(const QString &address)
{
    if (QDir::isAbsolutePath(address) && !address.contains(QLatin1String("://"))) {
        return QUrl::fromLocalFile(address);
    }
    return QUrl::fromUserInput(address);
}

QString QtWebBrowser::addressFromUrl(const QUrl &url)
{
    if (url.isLocalFile()) {
        return QDir::toNativeSeparators(url.toLocalFile());
    }
    return url.toString();
}

void QtWebBrowser::Navigate2(const QString &address)
{
    load(address);
}

void QtWebBrowser::Navigate(const QString &address)
{
    load(address);
}

void QtWebBrowser::load(const QString &address)
{
    ++m_loads;
    m_requestedAddress = address;
    m_requestedUrl = pdfOpening(urlFromAddress(address), 0, false);
    const QUrl shown = m_page->url();
    if (!m_busy && isLocalPdf(shown) &&
        m_requestedUrl.adjusted(QUrl::RemoveFragment) == shown.adjusted(QUrl::RemoveFragment)) {
        // Another place in the document on screen: the viewer would not move for a new
        // fragment alone.
        reopenPdf(m_requestedUrl);
        return;
    }
    m_page->load(m_requestedUrl);
}

void QtWebBrowser::reopenPdf(const QUrl &url)
{
    // The viewer reads its parameters only when it opens: the document opens again at url,
    // in place in the history.
    const QString fragment =
        QString::fromUtf8(QJsonDocument(QJsonArray{QLatin1Char('#') + url.fragment()})
                              .toJson(QJsonDocument::Compact));
    const int loads = ++m_loads;
    m_reopenLoads = loads;
    QPointer<QtWebBrowser> self(this);
    // The reload is the program's own, after the page's history has the new address: an
    // address the program opens meanwhile goes first and the reload is dropped.
    m_page->runJavaScript(QStringLiteral("history.replaceState(null, '', %1[0]);").arg(fragment),
                          QWebEngineScript::ApplicationWorld, [self, loads](const QVariant &) {
                              if (!self || self->m_closing || loads != self->m_loads) {
                                  return;
                              }
                              self->m_page->triggerAction(QWebEnginePage::Reload);
                          });
}

QUrl QtWebBrowser::pdfOpening(const QUrl &url, int page, bool zoomChosen)
{
    if (!isLocalPdf(url)) {
        return url;
    }
    PdfOpening opening;
    opening.page = page;
    opening.zoom = m_zoom;
    opening.viewWidth = m_view->width();
    opening.zoomChosen = zoomChosen;
    if (!qFuzzyCompare(m_zoom, 1.0)) {
        for (const QSizeF &size : pdfPageSizesOf(url.toLocalFile())) {
            opening.pageWidthPoints = qMax(opening.pageWidthPoints, size.width());
        }
    }
    QUrl opened = url;
    opened.setFragment(pdfOpenFragment(url.fragment(), opening));
    return opened;
}

const QList<QSizeF> &QtWebBrowser::pdfPageSizesOf(const QString &path)
{
    const QFileInfo file(path);
    if (path != m_sizesPath || file.lastModified() != m_sizesModified) {
        m_sizesPath = path;
        m_sizesModified = file.lastModified();
        m_sizes = m_pdf.pageSizes(path);
    }
    return m_sizes;
}

void QtWebBrowser::startFollowingPdf(const QUrl &url)
{
    m_pdfPath = url.toLocalFile();
    // The viewer opens at the page the address names, the first when it names none.
    m_pdfPlace = PdfPlace{qMax(1, pdfFragmentPage(url.fragment())), 0, 0};
    m_pdfMatchesShown = 0;
    m_pdfFollow->start();
}

void QtWebBrowser::followPdf()
{
    if (m_pdfPath.isEmpty() || m_pdfPlace.page == 0) {
        m_pdfFollow->stop();
        return;
    }
    const int generation = m_loadGeneration;
    QPointer<QtWebBrowser> self(this);
    m_page->runJavaScript(
        pdfReportsScript, QWebEngineScript::ApplicationWorld,
        [self, generation](const QVariant &result) {
            if (!self || self->m_closing || generation != self->m_loadGeneration ||
                self->m_pdfPath.isEmpty()) {
                return;
            }
            const QList<QSizeF> &pages = self->pdfPageSizesOf(self->m_pdfPath);
            const QVariantList reports = result.toList();
            for (const QVariant &report : reports) {
                const QVariantList values = report.toList();
                if (self->m_pdfPlace.page == 0) {
                    break;
                }
                if (values.size() != 3) {
                    continue;
                }
                const PdfPlace before = self->m_pdfPlace;
                const PdfPlace after = followPdfViewport(before, values.at(0).toDouble(),
                                                         values.at(1).toDouble(), pages);
                // A jump moves the document at the same zoom while the reader does not
                // scroll; a new zoom (the viewer fitting the document as it opens, its own
                // + and - buttons) keeps the page.
                const bool zoomed =
                    before.zoom <= 0 || (after.page == before.page &&
                                         qAbs(after.zoom - before.zoom) >= before.zoom * 0.005);
                const bool moved =
                    after.page != before.page || qAbs(after.pageTop - before.pageTop) >= 1;
                if (!zoomed && moved && !self->scrolledBefore(values.at(2).toLongLong())) {
                    self->losePdfPlace();
                    break;
                }
                self->m_pdfPlace = after;
            }
        });
}

void QtWebBrowser::readerScrolls()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    // Reports are read a while after they were made: the times kept reach further back.
    while (!m_scrolls.isEmpty() && m_scrolls.first() < now - 3 * pdfScrollReportMs) {
        m_scrolls.removeFirst();
    }
    // One time for each tenth of a second is enough.
    if (m_scrolls.isEmpty() || m_scrolls.last() < now - 100) {
        m_scrolls.append(now);
    } else {
        m_scrolls.last() = now;
    }
}

bool QtWebBrowser::scrolledBefore(qint64 reported) const
{
    // The page and the browser share the clock; the times are read a little apart.
    for (const qint64 scrolled : m_scrolls) {
        if (scrolled <= reported + 50 && scrolled >= reported - pdfScrollReportMs) {
            return true;
        }
    }
    return false;
}

void QtWebBrowser::losePdfPlace()
{
    if (!m_pdfPath.isEmpty()) {
        m_pdfPlace = PdfPlace();
    }
}

QString QtWebBrowser::reportedAddress(const QUrl &url)
{
    if (!m_requestedAddress.isNull() && url == m_requestedUrl) {
        const QString given = std::exchange(m_requestedAddress, QString());
        // An address given with its scheme, or as a local path, is reported
        // as given; one without (typed as "ejemplo.org/pagina.htm") as the
        // address it was completed to, which is what will be opened.
        const bool asGiven = url.isLocalFile()
                                 ? QDir::isAbsolutePath(given)
                                 : given.startsWith(url.scheme() + u':', Qt::CaseInsensitive);
        return asGiven ? given : addressFromUrl(url);
    }
    return addressFromUrl(url);
}

bool QtWebBrowser::GoBack()
{
    ++m_loads;
    if (!m_page->action(QWebEnginePage::Back)->isEnabled()) {
        return false;
    }
    m_page->triggerAction(QWebEnginePage::Back);
    return true;
}

bool QtWebBrowser::GoForward()
{
    ++m_loads;
    if (!m_page->action(QWebEnginePage::Forward)->isEnabled()) {
        return false;
    }
    m_page->triggerAction(QWebEnginePage::Forward);
    return true;
}

void QtWebBrowser::Stop()
{
    ++m_loads;
    m_page->triggerAction(QWebEnginePage::Stop);
}

void QtWebBrowser::Refresh()
{
    ++m_loads;
    m_page->triggerAction(QWebEnginePage::Reload);
}

bool QtWebBrowser::ExecWB(int command, int)
{
    switch (command) {
    case BrowserCommand::SaveAs:
        return savePage();
    case BrowserCommand::Print:
        return printPage();
    default:
        return false;
    }
}

bool QtWebBrowser::Busy() const
{
    return m_busy;
}

HtmlDocument QtWebBrowser::Document() const
{
    return m_document;
}

void QtWebBrowser::SetReadsDocuments(bool on)
{
    m_readsDocuments = on;
}

void QtWebBrowser::FindText(const QString &text, bool backward, const FindTextDone &done)
{
    const QWebEnginePage::FindFlags flags =
        backward ? QWebEnginePage::FindBackward : QWebEnginePage::FindFlags();
    const int generation = m_loadGeneration;
    QPointer<QtWebBrowser> self(this);
    m_page->findText(text, flags, [self, done, generation](const QWebEngineFindTextResult &result) {
        if (self && generation == self->m_loadGeneration && result.numberOfMatches() > 0) {
            self->pdfMatchShown();
        }
        if (self && done) {
            done(result.activeMatch(), result.numberOfMatches());
        }
    });
}

void QtWebBrowser::pdfMatchShown()
{
    if (m_pdfPath.isEmpty()) {
        return;
    }
    // The viewer shows first the match it finds from the page it shows: a document
    // opened at the page of a search hit, not moved since, stays at that page. Any other
    // match may lie anywhere in the document.
    const bool first = m_pdfMatchesShown++ == 0;
    if (!first || m_pdfPlace.zoom > 0 || pdfFragmentPage(m_page->url().fragment()) == 0) {
        losePdfPlace();
    }
}

void QtWebBrowser::SetZoomFactor(double factor)
{
    m_zoom = factor;
    const QUrl url = m_page->url();
    if (!isLocalPdf(url)) {
        m_view->setZoomFactor(factor);
        return;
    }
    // The PDF viewer ignores the page's zoom and takes its own from the address it opens:
    // the document opens again once the keys have come to rest and it is not opening
    // (openings in quick succession would leave steps in the history).
    m_pdfZoomPending = true;
    m_pdfReopen->start();
}

double QtWebBrowser::ZoomFactor() const
{
    return m_zoom;
}

int QtWebBrowser::PdfPage() const
{
    if (m_pdfPlace.page > 0) {
        return m_pdfPlace.page;
    }
    // Where the reader is is not known: the page the viewer opened at ("#page=3").
    return pdfFragmentPage(m_page->url().fragment());
}

QString QtWebBrowser::PrintPdfFile(const QString &path)
{
    if (const QString problem = m_pdf.unavailable(); !problem.isEmpty()) {
        return QStringLiteral("No se pudo imprimir el documento: %1.").arg(problem);
    }
    const int pages = m_pdf.pageCount(path);
    if (pages < 1) {
        return QStringLiteral("No se pudo leer el documento PDF para imprimirlo.");
    }
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(QFileInfo(path).completeBaseName());
    const PrintChoice choice = m_dialogs.askPrinter(window(), &printer, pages);
    if (choice == PrintChoice::Cancelled) {
        return {};
    }
    // A long document shows how far printing has come, and may be stopped.
    PrintProgress progress(QFileInfo(path).fileName(), pages, window());
    return m_pdf.print(path, printer, choice == PrintChoice::File,
                       [&progress](int done, int total) { return progress.advance(done, total); });
}

QString QtWebBrowser::SavePdfFile(const QString &path)
{
    const QString target = m_dialogs.askSavePath(window(), QFileInfo(path).fileName());
    if (target.isEmpty()) {
        return {};
    }
    const QString problem = QStringLiteral("No se pudo guardar el documento en %1: %2");
    if (QFileInfo(target).canonicalFilePath() == QFileInfo(path).canonicalFilePath()) {
        return {}; // the document itself: there is nothing to copy
    }
    QFile source(path);
    if (!source.open(QIODevice::ReadOnly)) {
        return problem.arg(target, source.errorString());
    }
    QSaveFile copy(target);
    if (!copy.open(QIODevice::WriteOnly)) {
        return problem.arg(target, copy.errorString());
    }
    char buffer[64 * 1024];
    for (qint64 read; (read = source.read(buffer, sizeof buffer)) > 0;) {
        if (copy.write(buffer, read) != read) {
            copy.cancelWriting();
            return problem.arg(target, copy.errorString());
        }
    }
    if (source.error() != QFileDevice::NoError) {
        copy.cancelWriting();
        return problem.arg(target, source.errorString());
    }
    if (!copy.commit()) {
        return problem.arg(target, copy.errorString());
    }
    return {};
}

void QtWebBrowser::SetContextActions(const QList<QAction *> &actions)
{
    m_contextActions = actions;
}

void QtWebBrowser::showContextMenu(const QPoint &position)
{
    QMenu *menu = m_view->createStandardContextMenu();
    if (!menu) {
        return;
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    // Everything here opens in this one window: no tabs, no other windows. Nor does the
    // browser save anything behind the window's back (its downloads are cancelled): the
    // entries that would seem to do so go too.
    for (const QWebEnginePage::WebAction unwanted :
         {QWebEnginePage::OpenLinkInNewTab, QWebEnginePage::OpenLinkInNewWindow,
          QWebEnginePage::OpenLinkInNewBackgroundTab, QWebEnginePage::ViewSource,
          QWebEnginePage::SavePage, QWebEnginePage::InspectElement,
          QWebEnginePage::DownloadLinkToDisk, QWebEnginePage::DownloadImageToDisk,
          QWebEnginePage::DownloadMediaToDisk}) {
        menu->removeAction(m_page->action(unwanted));
    }
    QList<QAction *> own;
    for (QAction *action : std::as_const(m_contextActions)) {
        if (action->isEnabled()) {
            own.append(action);
        }
    }
    if (!own.isEmpty()) {
        if (!menu->isEmpty()) {
            menu->addSeparator();
        }
        menu->addActions(own);
    }
    // No two separators in a row, none at either end, once entries were taken away.
    QAction *previous = nullptr;
    for (QAction *action : menu->actions()) {
        if (action->isSeparator() && (!previous || previous->isSeparator())) {
            menu->removeAction(action);
            continue;
        }
        previous = action;
    }
    if (previous && previous->isSeparator()) {
        menu->removeAction(previous);
    }
    if (menu->isEmpty()) {
        delete menu;
        return;
    }
    menu->popup(m_view->mapToGlobal(position));
}

void QtWebBrowser::onLoadStarted()
{
    m_reopenLoads = -1;
    m_busy = true;
    ++m_loadGeneration;
    m_documentBefore = std::exchange(m_document, HtmlDocument());
    reportCommandStates();
}

void QtWebBrowser::onLoadFinished(bool)
{
    const QUrl url = m_page->url();
    // The reader's zoom holds for every document, not only the one it was set on; a PDF
    // document has it from its address.
    const double zoom = isLocalPdf(url) ? 1.0 : m_zoom;
    if (!qFuzzyCompare(m_view->zoomFactor(), zoom)) {
        m_view->setZoomFactor(zoom);
    }
    // The page is read before completion is reported (unless nobody reads it), so that
    // handlers of the completion events see the document they were told about.
    const int generation = m_loadGeneration;
    if (!std::exchange(m_navigationAccepted, false)) {
        // The navigation was cancelled before it started: the page on screen
        // stays, nothing has completed.
        m_busy = false;
        m_document = m_documentBefore;
        return;
    }
    m_pdfPath.clear();
    m_pdfPlace = PdfPlace();
    if (isLocalPdf(url)) {
        startFollowingPdf(url);
    } else {
        m_pdfZoomPending = false;
    }
    if (!m_readsDocuments) {
        m_busy = false;
        const QString address = addressFromUrl(url);
        emit NavigateComplete2(address);
        emit DocumentComplete(address);
        return;
    }
    QPointer<QtWebBrowser> self(this);
    m_page->runJavaScript(documentScript, [self, generation, url](const QVariant &result) {
        if (!self || self->m_closing || generation != self->m_loadGeneration) {
            return; // a newer load has started meanwhile, or the browser is going away
        }
        self->m_document = documentFromScriptResult(result);
        self->m_busy = false;
        const QString address = addressFromUrl(url);
        emit self->NavigateComplete2(address);
        emit self->DocumentComplete(address);
    });
}

void QtWebBrowser::onDownloadRequested(QWebEngineDownloadRequest *download)
{
    if (m_closing || download->page() != m_page ||
        download->state() != QWebEngineDownloadRequest::DownloadRequested) {
        return;
    }
    // Nothing is saved behind the user's back: the listener starts its own download.
    const QString url = download->url().toString(QUrl::FullyEncoded);
    download->cancel();
    emit DownloadRequested(url);
}

void QtWebBrowser::reportCommandStates()
{
    const int forward = m_page->action(QWebEnginePage::Forward)->isEnabled() ? 1 : 0;
    const int back = m_page->action(QWebEnginePage::Back)->isEnabled() ? 1 : 0;
    if (forward != m_reportedForward) {
        m_reportedForward = forward;
        emit CommandStateChange(BrowserCommandState::Forward, forward == 1);
    }
    if (back != m_reportedBack) {
        m_reportedBack = back;
        emit CommandStateChange(BrowserCommandState::Back, back == 1);
    }
}

bool QtWebBrowser::savePage()
{
    QString name = QFileInfo(m_page->url().path()).fileName();
    if (name.isEmpty()) {
        name = QStringLiteral("pagina.htm");
    }
    const QString path = m_dialogs.askSavePath(window(), name);
    if (path.isEmpty()) {
        return false;
    }
    m_page->save(path, QWebEngineDownloadRequest::CompleteHtmlSaveFormat);
    return true;
}

bool QtWebBrowser::printPage()
{
    auto printer = std::make_shared<QPrinter>(QPrinter::HighResolution);
    const PrintChoice choice = m_dialogs.askPrinter(window(), printer.get(), 0);
    if (choice == PrintChoice::Cancelled) {
        return false;
    }
    // To a PDF file the page goes as the engine lays it out for print, its text kept.
    if (choice == PrintChoice::File) {
        ++m_printsUnderWay;
        m_page->printToPdf(printer->outputFileName(), printer->pageLayout(), printer->pageRanges());
        return true;
    }
    // Printing runs in the background; the printer must live until it ends.
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = connect(m_view, &QWebEngineView::printFinished, this,
                          [printer, connection](bool) { QObject::disconnect(*connection); });
    m_view->print(printer.get());
    return true;
}
