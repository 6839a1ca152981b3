#include "browserpage.h"

namespace {
// Catches the address a "new window" would open and hands it to the page that
// asked for the window, then goes away.
class NewWindowCatcher : public QWebEnginePage {
public:
    NewWindowCatcher(QWebEngineProfile *profile, QWebEnginePage *target)
        : QWebEnginePage(profile, target)
        , m_target(target)
    {
    }

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType, bool) override
    {
        if (m_target && !url.isEmpty()) {
            m_target->setUrl(url);
        }
        deleteLater();
        return false;
    }

private:
    QWebEnginePage *m_target;
};
} // namespace

BrowserPage::BrowserPage(QWebEngineProfile *profile, QObject *parent)
    : QWebEnginePage(profile, parent)
{
}

bool BrowserPage::acceptNavigationRequest(const QUrl &url, NavigationType, bool isMainFrame)
{
    // Frames are offered like the page itself: the handlers make no difference.
    bool cancel = false;
    emit navigationRequested(url, isMainFrame, &cancel);
    return !cancel;
}

QWebEnginePage *BrowserPage::createWindow(WebWindowType)
{
    return new NewWindowCatcher(profile(), this);
}
