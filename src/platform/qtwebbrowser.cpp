#include "qtwebbrowser.h"

#include "browserpage.h"
#include "documentdialogs.h"
#include "pdfprinting.h"
#include "printprogress.h"

#include <QAction>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QPointer>
#include <QPrinter>
#include <QSaveFile>
#include <QTimer>
#include <QUrlQuery>
#include <QVBoxLayout>
#include <QWebEngineDownloadRequest>
#include <QWebEngineFindTextResult>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <memory>
#include <utility>

namespace {
constexpr int printEndWaitMs = 5000;

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

QtWebBrowser::QtWebBrowser(QWebEngineProfile *profile, DocumentDialogs &dialogs, QWidget *parent)
    : WebBrowser(parent)
    , m_view(new QWebEngineView(this))
    , m_page(new BrowserPage(profile, m_view))
    , m_dialogs(dialogs)
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
    m_requestedAddress = address;
    m_requestedUrl = urlFromAddress(address);
    m_page->load(m_requestedUrl);
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
    if (!m_page->action(QWebEnginePage::Back)->isEnabled()) {
        return false;
    }
    m_page->triggerAction(QWebEnginePage::Back);
    return true;
}

bool QtWebBrowser::GoForward()
{
    if (!m_page->action(QWebEnginePage::Forward)->isEnabled()) {
        return false;
    }
    m_page->triggerAction(QWebEnginePage::Forward);
    return true;
}

void QtWebBrowser::Stop()
{
    m_page->triggerAction(QWebEnginePage::Stop);
}

void QtWebBrowser::Refresh()
{
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

void QtWebBrowser::FindText(const QString &text, bool backward, const FindTextDone &done)
{
    const QWebEnginePage::FindFlags flags =
        backward ? QWebEnginePage::FindBackward : QWebEnginePage::FindFlags();
    QPointer<QtWebBrowser> self(this);
    m_page->findText(text, flags, [self, done](const QWebEngineFindTextResult &result) {
        if (self && done) {
            done(result.activeMatch(), result.numberOfMatches());
        }
    });
}

void QtWebBrowser::SetZoomFactor(double factor)
{
    // The PDF viewer keeps a zoom of its own (its + and - buttons) and ignores the
    // page's: a step asked there would only show up on the next page.
    if (m_page->url().path().endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive)) {
        return;
    }
    m_zoom = factor;
    m_view->setZoomFactor(factor);
}

double QtWebBrowser::ZoomFactor() const
{
    return m_zoom;
}

int QtWebBrowser::PdfPage() const
{
    // The viewer opens at the page the address's fragment names ("#page=3").
    const QUrlQuery fragment(m_page->url().fragment());
    bool ok = false;
    const int page = fragment.queryItemValue(QStringLiteral("page")).toInt(&ok);
    return ok && page > 0 ? page : 0;
}

QString QtWebBrowser::PrintPdfFile(const QString &path)
{
    const int pages = pdfPageCount(path);
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
    return printPdfDocument(
        path, printer, choice == PrintChoice::File,
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
    m_busy = true;
    ++m_loadGeneration;
    m_documentBefore = std::exchange(m_document, HtmlDocument());
    reportCommandStates();
}

void QtWebBrowser::onLoadFinished(bool)
{
    // The reader's zoom holds for every document, not only the one it was set on.
    if (!qFuzzyCompare(m_view->zoomFactor(), m_zoom)) {
        m_view->setZoomFactor(m_zoom);
    }
    // The page is read before completion is reported, so that handlers of the
    // completion events see the document they were told about.
    const int generation = m_loadGeneration;
    const QUrl url = m_page->url();
    if (!std::exchange(m_navigationAccepted, false)) {
        // The navigation was cancelled before it started: the page on screen
        // stays, nothing has completed.
        m_busy = false;
        m_document = m_documentBefore;
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
