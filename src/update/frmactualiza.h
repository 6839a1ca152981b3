#pragma once

#include "collection.h"
#include "platformservices.h"

#include <QDialog>
#include <QHash>

class QCheckBox;
class QGroupBox;
class QLabel;
class QListWidget;
class QPushButton;

// The update window: asks the update server which circulars it offers, lists
// those missing from the collection, requests them and downloads and opens
// the package the server answers with.
class frmActualiza : public QDialog {
    Q_OBJECT
public:
    frmActualiza(PlatformServices services, const Collection &collection, QWidget *owner);

    void Form_Load();
    void wbrowserAct_BeforeNavigate2(const QString &address, bool *cancel);
    void wbrowserAct_NavigateComplete2(const QString &address);
    void btnOK_Click();
    void btnActualiza_Click();
    // A download the package page in wbrEjecutable started (the user clicked
    // its link): the same download and installation as "A&ctualizar".
    void wbrEjecutable_DownloadRequested(const QString &url);

    // Whether a package was installed into the collection while the window was open.
    bool installed() const { return m_installed; }
    // Whether the reader asked to see the circulars the install brought.
    bool openIndexRequested() const { return m_openIndex; }

    // The address the hidden browser was last sent to on the server: the list
    // page, then the request.
    QString actURL;

    QGroupBox *Frame1;
    QListWidget *listVersion;
    QPushButton *btnOK;
    QPushButton *btnActualiza;
    WebBrowser *wbrowserAct;
    WebBrowser *wbrEjecutable;
    QLabel *Label1;
    // Says that the package waits for another install into the collection to end.
    QLabel *lblEspera;
    // Whether the program asks the server for new circulars when it starts.
    QCheckBox *chkAviso;

protected:
    void showEvent(QShowEvent *event) override;
    void done(int result) override;

private:
    // Sends the hidden browser to the list page afresh.
    void askForTheList();
    // Compares the list page on show with the collection and sends the request.
    void checkList();
    void inform(const QString &text);
    // Fetches the server's signed catalog for the titles of the circulars listed.
    void askForTheTitles();
    void catalogArrived(const QByteArray &text, const QByteArray &signature);
    // An identifier, with its title where the server's catalog gives one.
    QString itemText(const QString &identifier) const;
    QString firstLink() const;
    void downloadAndInstall(const QString &link);
    QString remainingText() const;
    // One pause of the wait for another install; false once the user closed the window.
    bool waitForOtherInstall();

    PlatformServices m_services;
    Collection m_collection;
    // The server's prefix, as the settings give it.
    QString m_prefix;
    // The hidden browser was sent to the list page and no check has read it yet.
    bool m_listUnread = false;
    // A press of "Revisar Actualizaciones" waits for the list page.
    bool m_checkWhenListArrives = false;
    // Missing circulars that did not fit into the request: the next check asks for them.
    qsizetype m_notRequested = 0;
    bool m_installed = false;
    bool m_openIndex = false;
    QHash<QString, QString> m_titles; // by circular, from the server's signed catalog
};
