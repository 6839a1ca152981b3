#pragma once

#include <QDialog>

class MessageBoxes;
class ProfileFile;
class QCheckBox;
class QLabel;
class QPushButton;
class Shell;

// The start-up offer to receive the program's updates by e-mail. "&Si" with
// complete user data starts the subscription mail and stops the offer; the
// check box stops it too.
class firstDialog : public QDialog {
    Q_OBJECT
public:
    firstDialog(ProfileFile &profile, Shell &shell, MessageBoxes &messages,
                const QString &programFolder, QWidget *owner);

    void OKButton_Click();
    void CancelButton_Click();
    void Form_Unload();

    QPushButton *OKButton;
    QPushButton *CancelButton;
    QLabel *Label1;
    QCheckBox *chkmostrar;

    // Every way of closing runs the closing step once.
    void done(int result) override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    ProfileFile &m_profile;
    Shell &m_shell;
    MessageBoxes &m_messages;
    QString m_programFolder;
    bool m_unloaded = false;
};
