#include "frmdatos.h"

#include "dialogkeys.h"
#include "messageboxes.h"
#include "placement.h"
#include "twips.h"
#include "utility.h"
#include "widgetnames.h"
#include "windowtexts.h"

#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <limits>
#include <utility>

namespace {
const QString sectionUser = QStringLiteral("user");
const QString noValue = QStringLiteral("?");

QLabel *fieldLabel(const QString &text, const char *name, QWidget *parent)
{
    auto *label = named(new QLabel(text, parent), name);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

// A right-aligned caption wider in this font than in the one the form was
// designed for grows to the left, keeping its right edge next to its box.
void fitCaptionLeftwards(QLabel *label)
{
    const int extra = qMin(label->sizeHint().width() - label->width(), label->x());
    if (extra > 0) {
        label->setGeometry(label->x() - extra, label->y(), label->width() + extra, label->height());
    }
}
} // namespace

frmDatos::frmDatos(ProfileFile &profile, MessageBoxes &messages, const QString &programFolder,
                   QWidget *owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint)
    , m_profile(profile)
    , m_messages(messages)
    , m_settingsPath(SettingsPath(programFolder))
{
    setObjectName(QStringLiteral("frmDatos"));
    setWindowTitle(WindowTexts::caption());
    setAttribute(Qt::WA_DeleteOnClose, false);

    Frame1 = named(new QGroupBox(QStringLiteral("Datos Usuario"), this), "Frame1");
    Label1 = fieldLabel(QStringLiteral("Nombre:"), "Label1", Frame1);
    txtNombre = named(new QLineEdit(Frame1), "txtNombre");
    Label2 = fieldLabel(QStringLiteral("Apellido:"), "Label2", Frame1);
    txtApellido = named(new QLineEdit(Frame1), "txtApellido");
    Label3 = fieldLabel(QStringLiteral("e-mail:"), "Label3", Frame1);
    txtEmail = named(new QLineEdit(Frame1), "txtEmail");
    Label4 = fieldLabel(QStringLiteral("Institución:"), "Label4", Frame1);
    txtInst = named(new QLineEdit(Frame1), "txtInst");
    cmdAceptar = named(new QPushButton(QStringLiteral("Aceptar"), this), "cmdAceptar");
    // Enter in a box must not accept the form.
    cmdAceptar->setAutoDefault(false);
    cmdAceptar->setDefault(false);

    Twips::setFixedClientSize(this, 5190, 2865);
    Twips::place(Frame1, 120, 120, 4935, 2055);
    Twips::place(Label1, 360, 360, 615, 255);
    Twips::place(txtNombre, 1080, 360, 3255, 285);
    Twips::place(Label2, 360, 720, 615, 255);
    Twips::place(txtApellido, 1080, 720, 3255, 285);
    Twips::place(Label3, 480, 1080, 495, 255);
    Twips::place(txtEmail, 1080, 1080, 3255, 285);
    Twips::place(Label4, 120, 1440, 855, 255);
    Twips::place(txtInst, 1080, 1440, 3255, 285);
    Twips::place(cmdAceptar, 3480, 2280, 1575, 495);
    for (QLabel *caption : {Label1, Label2, Label3, Label4}) {
        fitCaptionLeftwards(caption);
    }

    // Names for assistive technologies.
    Frame1->setAccessibleName(Frame1->title());
    for (QLabel *caption : {Label1, Label2, Label3, Label4}) {
        caption->setAccessibleName(caption->text());
    }
    txtNombre->setAccessibleName(QStringLiteral("Nombre"));
    txtApellido->setAccessibleName(QStringLiteral("Apellido"));
    txtEmail->setAccessibleName(QStringLiteral("e-mail"));
    txtInst->setAccessibleName(QStringLiteral("Institución"));
    cmdAceptar->setAccessibleName(cmdAceptar->text());

    setTabOrder(txtNombre, txtApellido);
    setTabOrder(txtApellido, txtEmail);
    setTabOrder(txtEmail, txtInst);
    setTabOrder(txtInst, cmdAceptar);
    txtNombre->setFocus();
    // No cancel button: Escape leaves the form open with what was typed.
    DialogKeys::install(this);
    // Values have no length limit.
    for (QLineEdit *box : {txtNombre, txtApellido, txtEmail, txtInst}) {
        box->setMaxLength(std::numeric_limits<int>::max());
    }

    connect(cmdAceptar, &QPushButton::clicked, this, &frmDatos::cmdAceptar_Click);

    Form_Load();
}

void frmDatos::Form_Load()
{
    txtNombre->setText(
        ReadIniValue(m_profile, m_settingsPath, sectionUser, QStringLiteral("name"), noValue));
    txtApellido->setText(
        ReadIniValue(m_profile, m_settingsPath, sectionUser, QStringLiteral("lastname"), noValue));
    txtEmail->setText(
        ReadIniValue(m_profile, m_settingsPath, sectionUser, QStringLiteral("email"), noValue));
    txtInst->setText(
        ReadIniValue(m_profile, m_settingsPath, sectionUser, QStringLiteral("job"), noValue));
}

void frmDatos::cmdAceptar_Click()
{
    if (txtNombre->text().isEmpty()) {
        refuse(QStringLiteral("Debe introducir su nombre"));
        return;
    }
    if (txtApellido->text().isEmpty()) {
        refuse(QStringLiteral("Debe introducir su apellido"));
        return;
    }
    if (txtEmail->text().isEmpty()) {
        refuse(QStringLiteral("Debe introducir su email"));
        return;
    }
    // A write that fails (a full disk, a folder that cannot be written) is
    // said, and the form stays open with what was typed.
    const std::pair<const char *, QLineEdit *> fields[] = {
        {"name", txtNombre}, {"lastname", txtApellido}, {"email", txtEmail}, {"job", txtInst}};
    for (const auto &[key, box] : fields) {
        if (!WriteIniValue(m_profile, m_settingsPath, sectionUser, QLatin1String(key),
                           box->text())) {
            m_messages.show(this,
                            QStringLiteral("No se pudieron guardar sus datos. Revise que haya "
                                           "espacio libre en el disco e intente de nuevo."),
                            MessageIcon::Critical, WindowTexts::messageTitle());
            return;
        }
    }
    accept();
}

void frmDatos::refuse(const QString &text)
{
    m_messages.show(this, text, MessageIcon::Information, WindowTexts::messageTitle());
}

void frmDatos::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    Placement::centerOnScreen(this);
}
