#pragma once

#include "pdfview.h"
#include "webbrowser.h"

#include <QDateTime>
#include <QSizeF>
#include <QUrl>

class BrowserPage;
class DocumentDialogs;
class PdfDocuments;
class QWebEngineDownloadRequest;
class QWebEngineProfile;
class QWebEngineView;
class QTimer;

// The browser on Qt WebEngine. PDF documents are shown inline.
class QtWebBrowser final : public WebBrowser {
    Q_OBJECT
public:
    QtWebBrowser(QWebEngineProfile *profile, DocumentDialogs &dialogs, PdfDocuments &pdf,
                 QWidget *parent = nullptr);
    ~QtWebBrowser() override;

    void Navigate2(const QString &address) override;
    void Navigate(const QString &address) override;
    bool GoBack() override;
    bool GoForward() override;
    void Stop() override;
    void Refresh() override;
    bool ExecWB(int command, int option) override;
    bool Busy() const override;
    HtmlDocument Document() const override;
    void SetReadsDocuments(bool on) override;
    void FindText(const QString &text, bool backward, const FindTextDone &done) override;
    void SetZoomFactor(double factor) override;
    double ZoomFactor() const override;
    int PdfPage() const override;
    QString PrintPdfFile(const QString &path) override;
    QString SavePdfFile(const QString &path) override;
    void SetContextActions(const QList<QAction *> &actions) override;

    QWebEngineView *view() const { return m_view; }

    // How an address given to Navigate2 becomes a URL: absolute local paths
    // are files, anything else is read the way a user would type it.
    static QUrl urlFromAddress(const QString &address);
    // How a URL is reported: local files as local paths, the rest as URLs.
    static QString addressFromUrl(const QUrl &url);

private:
    void load(const QString &address);
    QString reportedAddress(const QUrl &url);
    void onLoadStarted();
    void onLoadFinished(bool ok);
    void reportCommandStates();
    void onDownloadRequested(QWebEngineDownloadRequest *download);
    bool savePage();
    bool printPage();
    void showContextMenu(const QPoint &position);
    // The address a local PDF document opens at: the reader's zoom, at page (0: the page
    // the address names), and as the viewer fits this browser's width.
    QUrl pdfOpening(const QUrl &url, int page, bool zoomChosen);
    const QList<QSizeF> &pdfPageSizesOf(const QString &path);
    void reopenPdf(const QUrl &url);
    void startFollowingPdf(const QUrl &url);
    void followPdf();
    void losePdfPlace();
    void readerScrolls();
    bool scrolledBefore(qint64 reported) const;
    void pdfMatchShown();

    QWebEngineView *m_view;
    BrowserPage *m_page;
    DocumentDialogs &m_dialogs;
    PdfDocuments &m_pdf;
    HtmlDocument m_document;
    // The page's document before the load under way: it stays when that load
    // turns out to be a cancelled navigation.
    HtmlDocument m_documentBefore;
    // The address last handed to Navigate or Navigate2, reported as given (not
    // as the engine rewrites it) when the engine asks about its navigation,
    // unless it lacked a scheme (see reportedAddress).
    QString m_requestedAddress;
    QUrl m_requestedUrl;
    bool m_busy = false;
    bool m_readsDocuments = true;
    // A main-frame navigation was let through since the last load ended: a
    // load that ends without one was cancelled and completes nothing.
    bool m_navigationAccepted = false;
    bool m_closing = false;
    int m_loadGeneration = 0;
    int m_reportedBack = -1;
    int m_reportedForward = -1;
    double m_zoom = 1.0;
    // Prints to a PDF file the engine is still writing.
    int m_printsUnderWay = 0;
    QList<QAction *> m_contextActions;
    // The local PDF document on screen (empty when none) and where the reader is in it,
    // from the viewer's reports; a place of page 0 is not known.
    QString m_pdfPath;
    PdfPlace m_pdfPlace;
    // When the reader last scrolled (milliseconds since 1970), one time to a tenth of a
    // second, the last seconds' only.
    QList<qint64> m_scrolls;
    // Matches of the find bar shown in that document.
    int m_pdfMatchesShown = 0;
    // The reader chose a zoom the document on screen does not have yet.
    bool m_pdfZoomPending = false;
    // The opening (of m_loads) that told the document on screen to open again; while it is
    // the last one asked for and no load has started, the document is still to reopen.
    // Any other opening asked for meanwhile (a stop, an address) ends the wait.
    int m_reopenLoads = -1;
    // Counts the openings the program asked for.
    int m_loads = 0;
    QTimer *m_pdfFollow;
    QTimer *m_pdfReopen;
    // The sizes of the pages of the PDF document last asked about.
    QString m_sizesPath;
    QDateTime m_sizesModified;
    QList<QSizeF> m_sizes;
};
