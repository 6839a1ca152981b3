#pragma once

#include <QDialog>
#include <QStringList>

#include "proxylists.h"

class MessageBoxes;
class ProgramRestart;
class ProxyStore;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// The proxy settings dialog: whether a proxy is used, a host and port per
// protocol, the addresses that bypass the proxy and whether local addresses
// do. It shows the stored configuration when it opens and keeps nothing
// outside its controls; "&Aplicar" stores and reads back, "OK" stores and
// closes, "Cancelar", Esc and the close box close without storing.
//
// The browser engine takes the proxy only when the program starts: after a
// store that changes what the engine would be given, the dialog says so and
// offers to restart the program (through restart; without one it only says).
class frmProxyTest : public QDialog {
    Q_OBJECT
public:
    frmProxyTest(ProxyStore &store, MessageBoxes &messages, QWidget *owner,
                 ProgramRestart *restart = nullptr);

    void Form_Load();
    void chkUseProxy_Click();
    void chkUseSame_Click();
    void cmdApply_Click();
    void cmdOK_Click();
    void cmdSetProxyInfo_Click();

    QGroupBox *Frame1;
    QCheckBox *chkUseProxy;
    QLabel *lblAddress;
    QLineEdit *txtAddress;
    QLabel *Label2;
    QLineEdit *txtPort;
    QCheckBox *chkBypass;

    QGroupBox *Frame2;
    QLabel *Image1;
    QLabel *Label3;
    QLabel *Label4;
    QLabel *Label5;
    QLabel *Label6;
    QLineEdit *txtHttp;
    QLabel *Label11;
    QLineEdit *txtHttpPort;
    QLabel *Label7;
    QLineEdit *txtSecure;
    QLabel *Label12;
    QLineEdit *txtSecurePort;
    QLabel *Label8;
    QLineEdit *txtFtp;
    QLabel *Label13;
    QLineEdit *txtFtpPort;
    QLabel *Label9;
    QLineEdit *txtGopher;
    QLabel *Label14;
    QLineEdit *txtGopherPort;
    QLabel *Label10;
    QLineEdit *txtSocks;
    QLabel *Label15;
    QLineEdit *txtSocksPort;
    QCheckBox *chkUseSame;

    QGroupBox *Frame3;
    QLabel *Image2;
    QLabel *Label16;
    QPlainTextEdit *txtAddresses;
    QLabel *Label17;

    QPushButton *cmdApply;
    QPushButton *cmdOK;
    QPushButton *cmdSetProxyInfo;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void ReadProxySettings();
    // Stores the fields; true when the engine's proxy switches changed with them.
    bool ApplyProxySettings();
    // Offers a restart when the engine's switches changed.
    void offerRestart(bool engineChanged);
    ProxyFields fields() const;
    void showFields(const ProxyFields &fields);

    ProxyStore &m_store;
    MessageBoxes &m_messages;
    ProgramRestart *m_restart;
    // The engine's switches for the configuration as last read or stored,
    // which the running engine's may differ from once something has been
    // stored: a change of them asks for a restart.
    QStringList m_lastSwitches;
};
