#pragma once

#include "htmldocument.h"

#include <QList>
#include <QWidget>

#include <functional>

class QAction;

// ExecWB commands and options.
namespace BrowserCommand {
constexpr int SaveAs = 4;
constexpr int Print = 6;
constexpr int PromptUser = 1;
} // namespace BrowserCommand

// CommandStateChange command numbers.
namespace BrowserCommandState {
constexpr int Forward = 1;
constexpr int Back = 2;
} // namespace BrowserCommandState

// An embedded web browser. Operations return at once; loading goes on in the
// background and is reported by the signals. Addresses of local documents are
// reported as local paths, web documents as their URL.
class WebBrowser : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

    // Opens a local path or a URL.
    virtual void Navigate2(const QString &address) = 0;
    // Opens an address as typed by a user.
    virtual void Navigate(const QString &address) = 0;
    // One step in the browser's own history; false when there is no such step.
    virtual bool GoBack() = 0;
    virtual bool GoForward() = 0;
    virtual void Stop() = 0;
    virtual void Refresh() = 0;
    // Print (6) or save as (4) the page on screen, asking the user (option 1).
    // False when the command could not be carried out.
    virtual bool ExecWB(int command, int option) = 0;
    // True while a page is loading.
    virtual bool Busy() const = 0;
    // The page on screen, as read when it finished loading.
    virtual HtmlDocument Document() const = 0;
    // Whether each page is read for Document() once it has loaded (the default). The read
    // asks the page's process, so the completion events wait for its answer; a browser
    // whose listeners never read Document() completes at once without it, and Document()
    // then tells of no page.
    virtual void SetReadsDocuments(bool on) = 0;
    // Marks every match of text on the page on screen, letter case ignored, and
    // brings the next one (the previous one when backward) into view; done
    // then gets the match shown (from 1) and the number of matches, both 0
    // when there is none. An empty text takes the marks away.
    using FindTextDone = std::function<void(int active, int total)>;
    virtual void FindText(const QString &text, bool backward, const FindTextDone &done) = 0;
    // The zoom of every page shown from now on (1 is the page's own size). A PDF document
    // of the collection is as wide as the browser at 1; on screen, it opens again at the
    // page the reader is on.
    virtual void SetZoomFactor(double factor) = 0;
    virtual double ZoomFactor() const = 0;
    // The page (from 1) of the PDF document on screen that the reader is on, as far as
    // its viewer tells, otherwise the page its address named; 0 when none is known.
    virtual int PdfPage() const = 0;
    // Prints the PDF document on screen, whose file is path, as its own pages, asking
    // the user. An empty text when printed or cancelled, otherwise why it failed.
    virtual QString PrintPdfFile(const QString &path) = 0;
    // Saves a copy of the PDF document on screen, whose file is path, where the user
    // chooses. An empty text when saved or cancelled, otherwise why it failed.
    virtual QString SavePdfFile(const QString &path) = 0;
    // The window's own commands, offered after the browser's own in its right-click menu.
    virtual void SetContextActions(const QList<QAction *> &actions) = 0;

signals:
    // Raised before a navigation starts; setting *cancel stops it.
    void BeforeNavigate2(const QString &address, bool *cancel);
    void NavigateComplete2(const QString &address);
    void DocumentComplete(const QString &address);
    void StatusTextChange(const QString &text);
    void CommandStateChange(int command, bool enable);
    // The page started a download (a click on a link to a file it does not
    // show). The browser itself saves nothing: whoever listens decides.
    void DownloadRequested(const QString &url);
};

using WebBrowserFactory = std::function<WebBrowser *(QWidget *parent)>;
