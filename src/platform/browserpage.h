#pragma once

#include <QWebEnginePage>

// The one place that decides whether a navigation may happen: every request
// (the page's or a frame's) is offered to navigationRequested first, and a handler
// may cancel it. Requests for a new window open in this page instead.
class BrowserPage : public QWebEnginePage {
    Q_OBJECT
public:
    explicit BrowserPage(QWebEngineProfile *profile, QObject *parent = nullptr);

signals:
    void navigationRequested(const QUrl &url, bool isMainFrame, bool *cancel);

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage *createWindow(WebWindowType type) override;
};
