#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QUrl>
#include <QWebEnginePage>

#include <functional>

class QWebEngineNewWindowRequest;

// The one place that decides whether a navigation may happen. A page of the
// collection leaves the collection only where the reader sends it (see
// navigationAllowed); what passes is then offered to navigationRequested,
// where a handler may still cancel it. Requests for a new window (a script's
// window.open, a link to another target, a middle click, a link's menu entry)
// are judged by the same rules and open in this page instead.
class BrowserPage : public QWebEnginePage {
    Q_OBJECT
public:
    explicit BrowserPage(QWebEngineProfile *profile, QObject *parent = nullptr);

    // The widget the reader clicks and types on to reach this page's links.
    void watchReaderInput(QWidget *view);

    void triggerAction(WebAction action, bool checked = false) override;

    // The address the page opens instead of url when a link or the program sends it
    // there (url itself when nothing changes); steps in the history and reloads open
    // what they opened before.
    using AddressRule = std::function<QUrl(const QUrl &url)>;
    void setAddressRule(AddressRule rule) { m_addressRule = std::move(rule); }

signals:
    void navigationRequested(const QUrl &url, bool isMainFrame, bool *cancel);
    // The reader pressed a key on the page, or turned the wheel or dragged the pointer
    // over it.
    void readerKeyPressed(int key);
    void readerScrolled();

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage *createWindow(WebWindowType type) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void onNewWindowRequested(QWebEngineNewWindowRequest &request);
    void openHere(const QUrl &url, bool chosenByReader);
    bool chosenByReader(const QUrl &url) const;

    QPointer<QWidget> m_view;
    // The link under the pointer or the keyboard's focus, as the engine last reported it.
    QUrl m_hoveredLink;
    // When the reader last clicked or pressed a key on the page.
    QElapsedTimer m_readerInput;
    bool m_readerNavigationPending = false;
    AddressRule m_addressRule;
    // The navigation under way goes where the rule sent it: it is not sent on again.
    bool m_ruleApplied = false;
};
