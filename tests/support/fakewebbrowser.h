#pragma once

#include "webbrowser.h"

#include <QHash>
#include <QStringList>

// Records the operations asked of it; tests raise its events by hand.
class FakeWebBrowser final : public WebBrowser {
    Q_OBJECT
public:
    using WebBrowser::WebBrowser;

    void Navigate2(const QString &address) override { navigations.append(address); }
    void Navigate(const QString &address) override { navigations.append(address); }
    bool GoBack() override { return record(QStringLiteral("GoBack")); }
    bool GoForward() override { return record(QStringLiteral("GoForward")); }
    void Stop() override { record(QStringLiteral("Stop")); }
    void Refresh() override { record(QStringLiteral("Refresh")); }
    bool ExecWB(int command, int option) override
    {
        return record(QStringLiteral("ExecWB %1 %2").arg(command).arg(option));
    }
    bool Busy() const override { return busy; }
    HtmlDocument Document() const override { return document; }
    void SetReadsDocuments(bool on) override { readsDocuments = on; }
    // Answers at once from findMatches: the matches of each text on the page.
    void FindText(const QString &text, bool backward, const FindTextDone &done) override
    {
        finds.append(backward ? QStringLiteral("<") + text : text);
        const int total = findMatches.value(text.toLower());
        if (text != lastFind || total == 0) {
            activeMatch = backward ? total : (total > 0 ? 1 : 0);
        } else {
            activeMatch =
                backward ? (activeMatch + total - 2) % total + 1 : activeMatch % total + 1;
        }
        lastFind = text;
        if (done) {
            done(activeMatch, total);
        }
    }

    void SetZoomFactor(double factor) override { zoom = factor; }
    double ZoomFactor() const override { return zoom; }
    int PdfPage() const override { return pdfPage; }
    QString PrintPdfFile(const QString &path) override
    {
        record(QStringLiteral("PrintPdfFile ") + path);
        return pdfProblem;
    }
    QString SavePdfFile(const QString &path) override
    {
        record(QStringLiteral("SavePdfFile ") + path);
        return pdfProblem;
    }
    void SetContextActions(const QList<QAction *> &actions) override { contextActions = actions; }

    // Raises BeforeNavigate2 and answers whether the navigation was cancelled.
    bool offerNavigation(const QString &address)
    {
        bool cancel = false;
        emit BeforeNavigate2(address, &cancel);
        return cancel;
    }

    QStringList navigations;
    QStringList finds; // each text searched, "<" before it when backward
    QHash<QString, int> findMatches;
    QString lastFind;
    int activeMatch = 0;
    QStringList operations;
    bool busy = false;
    HtmlDocument document;
    bool readsDocuments = true;
    double zoom = 1.0;
    int pdfPage = 0;
    QString pdfProblem; // what PrintPdfFile and SavePdfFile answer
    QList<QAction *> contextActions;

private:
    bool record(const QString &operation)
    {
        operations.append(operation);
        return false;
    }
};
