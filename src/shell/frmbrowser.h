#pragma once

#include "collection.h"
#include "platformservices.h"

#include <QMainWindow>

class CoolBar;
class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QStatusBar;
class QToolBar;
class SearchTools;
class StartupCheck;
class UpdateNotice;

// The main window: a browser with a cool bar (toolbar and address bar), a
// status bar and the menu from which every other window opens.
class frmBrowser : public QMainWindow {
    Q_OBJECT
public:
    // When the home page is asked for. AtFormLoad: as the last step of Form_Load, after any
    // form it opens. BeforeBuilding: as soon as the browser exists, before the rest of the
    // window (status bar, menus, search tools) is built, when nothing would come before it
    // in Form_Load (no other instance, settings that read, user data complete, no first-run
    // prompt): the page's engine then starts while the window is built, and Form_Load does
    // not ask again.
    enum class HomePage { AtFormLoad, BeforeBuilding };
    frmBrowser(PlatformServices services, const Collection &collection, QWidget *parent = nullptr);
    frmBrowser(PlatformServices services, const Collection &collection, HomePage homePage,
               QWidget *parent = nullptr);

    // Start-up. Answers false when the program must end at once because
    // another instance runs; the window is then never shown.
    bool Form_Load();
    // Shows the document of the collection that argument names (instancerequest.h: a
    // circular number, or a path within the collection); false, and nothing opened, when
    // it names none.
    bool openDocument(const QString &argument);
    // A later start of the program for this collection asked this window to come to the
    // front and to open document (empty for none). While the start-up still waits for a
    // form, that form comes to the front and the document opens once the start is done.
    void anotherStartAsked(const QString &document);
    void Form_Resize();
    void CoolBar1_HeightChanged();
    void mnuClose_Click();
    // Puts the window where the reader left it in the last run; false when there is no
    // such place kept.
    bool restorePlacement();

    // Navigation.
    void Toolbar1_ButtonClick(QAction *button);
    void txtURL_KeyPress(int keyAscii);
    void WebBrowser1_BeforeNavigate2(const QString &address, bool *cancel);
    void WebBrowser1_CommandStateChange(int command, bool enable);
    void WebBrowser1_DocumentComplete(const QString &address);
    void WebBrowser1_StatusTextChange(const QString &text);

    // Document and help commands.
    void mnuSave_Click();
    void mnuPrint_Click();
    void mnuHelp_Click();
    void mnConsultaGen_Click();
    void mnConsultaSarc_Click();

    // Proxy settings.
    void mnuConfig_Click();

    // Circular updates.
    void mnuCirculares_Click();
    // Whether Form_Load asks the update server for new circulars once the window shows
    // (frmbrowser_notice.cpp); on unless turned off before Form_Load.
    void setStartupCheck(bool on) { m_checkAtStart = on; }
    // The server offers circulars the collection lacks: the notice says how many.
    void startupCheck_NewCirculars(const QStringList &numbers);
    // The notice of new circulars; hidden until there are some.
    UpdateNotice *notice = nullptr;

    // Subscription and page sending.
    void mnSuscribir_Click();
    void mnuDessucri_Click();
    void mnSuscribirWeb_Click();
    void mnuDessucriWeb_Click();
    void mnuSendto_Click();
    // Puts the address mnuSendto_Click would send on the clipboard.
    void mnuCopyAddress_Click();
    // The web address of the page on screen (or of what the address bar holds), as
    // sent and copied.
    QString sharedAddress() const;

    // Search of the collection and find in page (frmbrowser_search.cpp).
    void mnuBuscar_Click();
    void mnuFindInPage_Click();
    void txtSearch_Return();
    void searchPane_HitActivated(int index);
    // Brings the index up to date after the collection changed on disk.
    void reindexCollection();

    QString helpFile() const { return m_helpFile; }
    QString initPage() const { return m_initPage; }
    QString statusText() const;

    CoolBar *CoolBar1;
    QLineEdit *txtURL;
    QToolBar *Toolbar1;
    WebBrowser *WebBrowser1;
    QStatusBar *StatusBar1;

    QMenu *mnuFile;
    QAction *mnuSave;
    QAction *mnuPrint;
    QAction *mnuSendto;
    QAction *mnuCopyAddress;
    QAction *sep1;
    QAction *mnuClose;
    QMenu *mnConsulta;
    QAction *mnConsultaSarc;
    QAction *mnConsultaGen;
    QMenu *mnuActualiza;
    QMenu *mnuActUltima;
    QAction *mnSuscribir;
    QAction *mnSuscribirWeb;
    QAction *mnuDessucri;
    QAction *mnuDessucriWeb;
    QAction *mnuCirculares;
    QAction *mnuConfig;
    QAction *mnuHelp;
    QAction *mnuBuscar;
    QAction *mnuResults;
    QAction *mnuFindInPage; // Ctrl+F, in no menu
    // The keys of a browser, in no menu: the address bar (Ctrl+L, Alt+D, F6), back
    // (Alt+Left), forward (Alt+Right), reload (F5, Ctrl+R), stop (Escape), home
    // (Alt+Home), and zoom in, out and back (Ctrl+plus, Ctrl+minus, Ctrl+0).
    QAction *keyAddress;
    QAction *keyBack;
    QAction *keyForward;
    QAction *keyRefresh;
    QAction *keyStop;
    QAction *keyHome;
    QAction *keyZoomIn;
    QAction *keyZoomOut;
    QAction *keyZoomReset;
    // The search field, the results pane, the index status and the find bar.
    SearchTools *search = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildToolbar();
    void buildMenus();
    void buildKeys();
    // The file of the local PDF document on screen (the copy the reader sees); empty
    // when the page on screen is none.
    QString shownLocalPdf() const;
    void connectBrowser();
    void layoutAlignedControls();
    void applyBrowserSize(float allowanceTwips);
    void openFirstRunPrompt();
    QString programPath(const QString &relative) const;
    void showCritical(const QString &text);
    void openWhenConnected(const QString &relativePath, const QString &offlineMessage);
    // Reads the user data; when incomplete, opens the user-data form and answers false.
    bool checkUserData();
    // Whether Form_Load would open nothing before asking for the home page.
    bool homePageComesFirst() const;
    QString homePagePath() const;
    void requestHomePage();
    QString readHttpSetting(const QString &key) const;
    void openSubscriptionPage();
    // False, with the reader told, when the desktop has no mail program.
    bool openMail(const QString &address);
    void buildSearch();
    void buildNotice();
    void startQuietCheck();

    PlatformServices m_services;
    Collection m_collection;
    QString m_programFolder;
    QString m_helpFile;
    QString m_initPage;
    // Form_Load is done: the window is the reader's.
    bool m_started = false;
    // The home page was asked for before the window was built.
    bool m_homeRequested = false;
    // What a later start asked to open while this one was still starting.
    QString m_pendingDocument;
    bool m_checkAtStart = true;
    StartupCheck *m_check = nullptr;
    // The address of the document on screen, as last completed.
    QString m_shownAddress;
    QWidget *m_client;
    QLabel *m_statusPanel;
};
