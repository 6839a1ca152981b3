#include "browserpage.h"

#include "pageconfinement.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWebEngineContextMenuRequest>
#include <QWebEngineNewWindowRequest>
#include <QWebEngineView>
#include <QWidget>

#include <utility>

namespace {
// How long after a click or a key the navigation it causes may arrive: the
// engine hands it over from another process.
constexpr qint64 readerInputWindowMs = 3000;

NavigationCause causeOf(QWebEnginePage::NavigationType type)
{
    switch (type) {
    case QWebEnginePage::NavigationTypeTyped:
        return NavigationCause::Program;
    case QWebEnginePage::NavigationTypeBackForward:
    case QWebEnginePage::NavigationTypeReload:
        return NavigationCause::History;
    case QWebEnginePage::NavigationTypeLinkClicked:
        return NavigationCause::Link;
    case QWebEnginePage::NavigationTypeFormSubmitted:
        return NavigationCause::Form;
    case QWebEnginePage::NavigationTypeRedirect:
        return NavigationCause::Redirect;
    case QWebEnginePage::NavigationTypeOther:
        break;
    }
    return NavigationCause::Other;
}

bool recent(const QElapsedTimer &timer)
{
    return timer.isValid() && timer.elapsed() < readerInputWindowMs;
}
} // namespace

BrowserPage::BrowserPage(QWebEngineProfile *profile, QObject *parent)
    : QWebEnginePage(profile, parent)
{
    connect(this, &QWebEnginePage::linkHovered, this,
            [this](const QString &url) { m_hoveredLink = QUrl(url); });
    connect(this, &QWebEnginePage::newWindowRequested, this, &BrowserPage::onNewWindowRequested);
    connect(this, &QWebEnginePage::loadFinished, this,
            [this] { m_readerNavigationPending = false; });
}

void BrowserPage::watchReaderInput(QWidget *view)
{
    m_view = view;
    // The engine's surface inside the view is replaced as pages change
    // process: the input is watched on its way to whichever surface is there.
    qApp->installEventFilter(this);
}

bool BrowserPage::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    const bool scrolling =
        type == QEvent::Wheel ||
        (type == QEvent::MouseMove && static_cast<QMouseEvent *>(event)->buttons() != Qt::NoButton);
    if (type != QEvent::MouseButtonRelease && type != QEvent::KeyPress && !scrolling) {
        return false;
    }
    if (!m_view || !watched->isWidgetType() ||
        !m_view->isAncestorOf(static_cast<QWidget *>(watched))) {
        return false;
    }
    if (scrolling) {
        emit readerScrolled();
        return false;
    }
    if (type == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        emit readerKeyPressed(key);
        if (key != Qt::Key_Return && key != Qt::Key_Enter) {
            return false;
        }
    }
    m_readerInput.start();
    return false;
}

bool BrowserPage::chosenByReader(const QUrl &url) const
{
    if (url.isEmpty()) {
        return false;
    }
    return recent(m_readerInput) && url == m_hoveredLink;
}

void BrowserPage::triggerAction(WebAction action, bool checked)
{
    if (action != OpenLinkInThisWindow && action != OpenLinkInNewWindow &&
        action != OpenLinkInNewTab && action != OpenLinkInNewBackgroundTab) {
        QWebEnginePage::triggerAction(action, checked);
        return;
    }
    // The reader chose the link from its menu: it opens here, by the same rules.
    const QWebEngineView *view = QWebEngineView::forPage(this);
    if (const QWebEngineContextMenuRequest *menu =
            view ? view->lastContextMenuRequest() : nullptr) {
        openHere(menu->linkUrl(), true);
    }
}

bool BrowserPage::acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame)
{
    NavigationFacts facts;
    facts.from = this->url();
    facts.to = url;
    facts.mainFrame = isMainFrame;
    facts.cause = causeOf(type);
    facts.chosenByReader = facts.cause == NavigationCause::Link && chosenByReader(url);
    facts.readerNavigationPending = m_readerNavigationPending;
    if (!navigationAllowed(facts)) {
        return false;
    }
    if (isMainFrame && m_addressRule && facts.cause != NavigationCause::History &&
        !std::exchange(m_ruleApplied, false)) {
        const QUrl instead = m_addressRule(url);
        if (instead != url) {
            // The engine is still inside its request: the other address loads once it is done.
            m_ruleApplied = true;
            QMetaObject::invokeMethod(
                this, [this, instead] { setUrl(instead); }, Qt::QueuedConnection);
            return false;
        }
    }
    // Frames are offered like the page itself: the handlers make no difference.
    bool cancel = false;
    emit navigationRequested(url, isMainFrame, &cancel);
    if (!cancel && isMainFrame && isCollectionPage(facts.from) && !isCollectionPage(url)) {
        m_readerNavigationPending = true;
    }
    return !cancel;
}

void BrowserPage::onNewWindowRequested(QWebEngineNewWindowRequest &request)
{
    // The engine has asked createWindow first, which made none; the address
    // opens in this page if the rules let it. Whether a click or a key led to
    // the request is the engine's own answer.
    const QUrl url = request.requestedUrl();
    openHere(url, request.isUserInitiated() && chosenByReader(url));
}

void BrowserPage::openHere(const QUrl &url, bool chosen)
{
    NavigationFacts facts;
    facts.from = this->url();
    facts.to = url;
    facts.cause = NavigationCause::NewWindow;
    facts.chosenByReader = chosen;
    if (url.isEmpty() || !navigationAllowed(facts)) {
        return;
    }
    // The engine is still inside its request: the page loads once it is done.
    QMetaObject::invokeMethod(
        this, [this, url] { setUrl(url); }, Qt::QueuedConnection);
}

QWebEnginePage *BrowserPage::createWindow(WebWindowType)
{
    return nullptr;
}
