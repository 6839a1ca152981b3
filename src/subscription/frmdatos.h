#pragma once

#include <QDialog>

class MessageBoxes;
class ProfileFile;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The user's personal data: first name, last name, e-mail and institution,
// shown as stored in the settings file and written back on "Aceptar". Each
// opening is a new form that loads the stored values afresh.
class frmDatos : public QDialog {
    Q_OBJECT
public:
    frmDatos(ProfileFile &profile, MessageBoxes &messages, const QString &programFolder,
             QWidget *owner);

    void Form_Load();
    void cmdAceptar_Click();

    QGroupBox *Frame1;
    QLabel *Label1;
    QLineEdit *txtNombre;
    QLabel *Label2;
    QLineEdit *txtApellido;
    QLabel *Label3;
    QLineEdit *txtEmail;
    QLabel *Label4;
    QLineEdit *txtInst;
    QPushButton *cmdAceptar;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void refuse(const QString &text);

    ProfileFile &m_profile;
    MessageBoxes &m_messages;
    QString m_settingsPath;
};
