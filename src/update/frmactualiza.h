#pragma once

#include "platformservices.h"

#include <QDialog>

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
    frmActualiza(PlatformServices services, const QString &programFolder, QWidget *owner);

    void Form_Load();
    void wbrowserAct_BeforeNavigate2(const QString &address, bool *cancel);
    void wbrowserAct_NavigateComplete2(const QString &address);
    void btnOK_Click();
    void btnActualiza_Click();

    QString actURL;

    QGroupBox *Frame1;
    QListWidget *listVersion;
    QPushButton *btnOK;
    QPushButton *btnActualiza;
    WebBrowser *wbrowserAct;
    WebBrowser *wbrEjecutable;
    QLabel *Label1;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void inform(const QString &text);
    QString firstLink() const;

    PlatformServices m_services;
    QString m_programFolder;
};
