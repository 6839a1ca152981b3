#include "firstdialog.h"

#include "dialogkeys.h"
#include "frmdatos.h"
#include "mailaddresses.h"
#include "messageboxes.h"
#include "placement.h"
#include "shell.h"
#include "twips.h"
#include "utility.h"
#include "windowtexts.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

namespace {
const QString noValue = QStringLiteral("?");

QFont promptFont(bool bold)
{
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSizeF(9.75);
    font.setBold(bold);
    return font;
}
} // namespace

firstDialog::firstDialog(ProfileFile &profile, Shell &shell, MessageBoxes &messages,
                         const QString &programFolder, QWidget *owner)
    : QDialog(owner,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
    , m_profile(profile)
    , m_shell(shell)
    , m_messages(messages)
    , m_programFolder(programFolder)
{
    setObjectName(QStringLiteral("firstDialog"));
    setWindowTitle(WindowTexts::caption());

    OKButton = new QPushButton(QStringLiteral("&Si"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    CancelButton = new QPushButton(QStringLiteral("&No"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    for (QPushButton *button : {OKButton, CancelButton}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    Label1 = new QLabel(QStringLiteral("Desea recibir las actualizaciones de este programa en su "
                                       "correo electrónico?"),
                        this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label1->setFont(promptFont(false));
    chkmostrar = new QCheckBox(QStringLiteral("En el futuro no mostrar este mensaje"), this);
    chkmostrar->setObjectName(QStringLiteral("chkmostrar"));
    chkmostrar->setFont(promptFont(true));
    QPalette red = chkmostrar->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    red.setColor(QPalette::ButtonText, Qt::red);
    chkmostrar->setPalette(red);

    Twips::setFixedClientSize(this, 5700, 1695);
    Twips::place(OKButton, 4320, 120, 1215, 375);
    Twips::place(CancelButton, 4320, 600, 1215, 375);
    Twips::place(Label1, 120, 240, 3855, 615);
    Twips::place(chkmostrar, 120, 960, 4095, 495);

    // Names for assistive technologies.
    OKButton->setAccessibleName(QStringLiteral("Sí"));
    CancelButton->setAccessibleName(QStringLiteral("No"));
    Label1->setAccessibleName(Label1->text());
    chkmostrar->setAccessibleName(chkmostrar->text());

    setTabOrder(OKButton, CancelButton);
    setTabOrder(CancelButton, chkmostrar);
    OKButton->setFocus();
    // Neither button is the cancel button: Escape does nothing.
    DialogKeys::install(this);

    connect(OKButton, &QPushButton::clicked, this, &firstDialog::OKButton_Click);
    connect(CancelButton, &QPushButton::clicked, this, &firstDialog::CancelButton_Click);
}

void firstDialog::OKButton_Click()
{
    const QString settings = SettingsPath(m_programFolder);
    const QString user = QStringLiteral("user");
    const QString email = ReadIniValue(m_profile, settings, user, QStringLiteral("email"), noValue);
    const QString name = ReadIniValue(m_profile, settings, user, QStringLiteral("name"), noValue);
    const QString lastname =
        ReadIniValue(m_profile, settings, user, QStringLiteral("lastname"), noValue);
    ReadIniValue(m_profile, settings, user, QStringLiteral("job"), noValue);
    const QString recipient = ReadIniValue(m_profile, settings, QStringLiteral("http"),
                                           QStringLiteral("cemail"), noValue);
    if (userDataComplete(name, lastname, email)) {
        m_shell.execute(this, QStringLiteral("Open"), subscribeMail(recipient), QString(),
                        m_programFolder, ShowCommand::ShowMaximized);
        chkmostrar->setChecked(true);
    } else {
        frmDatos form(m_profile, m_messages, m_programFolder, this);
        form.exec();
    }
    close();
}

void firstDialog::CancelButton_Click()
{
    close();
}

void firstDialog::Form_Unload()
{
    if (chkmostrar->isChecked() &&
        !WriteIniValue(m_profile, SettingsPath(m_programFolder), QStringLiteral("init"),
                       QStringLiteral("show"), QStringLiteral("0"))) {
        m_messages.show(this,
                        QStringLiteral("No se pudo guardar su elección: este mensaje volverá a "
                                       "aparecer la próxima vez que inicie el programa. Revise "
                                       "que haya espacio libre en el disco."),
                        MessageIcon::Critical, WindowTexts::messageTitle());
    }
}

void firstDialog::done(int result)
{
    if (!m_unloaded) {
        m_unloaded = true;
        Form_Unload();
    }
    QDialog::done(result);
}

void firstDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    Placement::centerOnScreen(this);
}
