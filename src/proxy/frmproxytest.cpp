#include "frmproxytest.h"

#include "chromiumproxy.h"
#include "dialogkeys.h"
#include "messageboxes.h"
#include "placement.h"
#include "programrestart.h"
#include "proxystore.h"
#include "twips.h"
#include "widgetnames.h"
#include "windowtexts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>

#include <iterator>
#include <utility>

namespace {

const QString outcomeTitle = QStringLiteral("IE Proxy Settings");

QLabel *label(const QString &text, const char *name, QWidget *parent)
{
    auto *widget = named(new QLabel(text, parent), name);
    widget->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return widget;
}

// The ":" between a host box and its port box.
QLabel *colon(const char *name, QWidget *parent)
{
    QLabel *widget = label(QStringLiteral(":"), name, parent);
    QFont font(QStringLiteral("Arial"), QApplication::font().pointSize());
    font.setBold(true);
    widget->setFont(font);
    return widget;
}

// A picture that is decoration only: it looks the same whether or not its
// frame is enabled.
class DecorationImage final : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.drawPixmap(0, 0, pixmap());
    }
};

QLabel *image(const QIcon &icon, const char *name, QWidget *parent)
{
    auto *widget = named(new DecorationImage(parent), name);
    widget->setPixmap(icon.pixmap(32, 32));
    widget->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return widget;
}

// A caption wider in this font than in the one the dialog was designed for
// grows to the right, as far as its parent allows, like an auto-sized label.
void fitCaption(QLabel *label)
{
    const int room = label->parentWidget()->width() - label->x();
    const int width = qMin(label->sizeHint().width(), room);
    if (width > label->width()) {
        label->resize(width, label->height());
    }
}

void setText(QLineEdit *box, const QString &text)
{
    if (box->text() != text) {
        box->setText(text);
    }
}

} // namespace

frmProxyTest::frmProxyTest(ProxyStore &store, MessageBoxes &messages, QWidget *owner,
                           ProgramRestart *restart)
    : QDialog(owner,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
    , m_store(store)
    , m_messages(messages)
    , m_restart(restart)
{
    setObjectName(QStringLiteral("frmProxyTest"));
    setWindowTitle(WindowTexts::caption());
    QIcon icon = windowIcon();
    if (icon.isNull()) {
        icon = style()->standardIcon(QStyle::SP_DriveNetIcon);
    }

    Frame1 = named(new QGroupBox(QStringLiteral("Proxy Server"), this), "Frame1");
    chkUseProxy =
        named(new QCheckBox(QStringLiteral("Utilizar un proxy server"), Frame1), "chkUseProxy");
    lblAddress = label(QStringLiteral("Direccion IP:"), "lblAddress", Frame1);
    txtAddress = named(new QLineEdit(Frame1), "txtAddress");
    Label2 = label(QStringLiteral("Puerto:"), "Label2", Frame1);
    txtPort = named(new QLineEdit(Frame1), "txtPort");
    chkBypass =
        named(new QCheckBox(QStringLiteral("&No utilizar el proxy server para direcciones locales"),
                            Frame1),
              "chkBypass");

    Frame2 = named(new QGroupBox(QStringLiteral("Servers"), this), "Frame2");
    Image1 = image(icon, "Image1", Frame2);
    Label3 = label(QStringLiteral("Protocolos"), "Label3", Frame2);
    Label4 = label(QStringLiteral("Direcciones IP del servidor proxy"), "Label4", Frame2);
    Label5 = label(QStringLiteral("Puertos"), "Label5", Frame2);
    Label6 = label(QStringLiteral("&HTTP:"), "Label6", Frame2);
    txtHttp = named(new QLineEdit(Frame2), "txtHttp");
    Label11 = colon("Label11", Frame2);
    txtHttpPort = named(new QLineEdit(Frame2), "txtHttpPort");
    Label7 = label(QStringLiteral("&Secure:"), "Label7", Frame2);
    txtSecure = named(new QLineEdit(Frame2), "txtSecure");
    Label12 = colon("Label12", Frame2);
    txtSecurePort = named(new QLineEdit(Frame2), "txtSecurePort");
    Label8 = label(QStringLiteral("&FTP:"), "Label8", Frame2);
    txtFtp = named(new QLineEdit(Frame2), "txtFtp");
    Label13 = colon("Label13", Frame2);
    txtFtpPort = named(new QLineEdit(Frame2), "txtFtpPort");
    Label9 = label(QStringLiteral("&Gopher:"), "Label9", Frame2);
    txtGopher = named(new QLineEdit(Frame2), "txtGopher");
    Label14 = colon("Label14", Frame2);
    txtGopherPort = named(new QLineEdit(Frame2), "txtGopherPort");
    Label10 = label(QStringLiteral("So&cks:"), "Label10", Frame2);
    txtSocks = named(new QLineEdit(Frame2), "txtSocks");
    Label15 = colon("Label15", Frame2);
    txtSocksPort = named(new QLineEdit(Frame2), "txtSocksPort");
    chkUseSame = named(
        new QCheckBox(QStringLiteral("&Utilize el mismo servidor proxy para todos los protocolos"),
                      Frame2),
        "chkUseSame");

    Frame3 = named(new QGroupBox(QStringLiteral("Excepciones"), this), "Frame3");
    Image2 = image(icon, "Image2", Frame3);
    Label16 =
        label(QStringLiteral("No utilize el servidor proxy para las direcciones que empiezen con:"),
              "Label16", Frame3);
    txtAddresses = named(new QPlainTextEdit(Frame3), "txtAddresses");
    txtAddresses->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtAddresses->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    txtAddresses->setTabChangesFocus(true);
    Label17 = label(QStringLiteral("Utilize punto y coma ( ; ) para separar las entradas."),
                    "Label17", Frame3);

    cmdApply = named(new QPushButton(QStringLiteral("&Aplicar"), this), "cmdApply");
    cmdOK = named(new QPushButton(QStringLiteral("OK"), this), "cmdOK");
    cmdSetProxyInfo = named(new QPushButton(QStringLiteral("Cancelar"), this), "cmdSetProxyInfo");
    cmdOK->setDefault(true);

    // A row label's access key puts the focus into its host box.
    Label6->setBuddy(txtHttp);
    Label7->setBuddy(txtSecure);
    Label8->setBuddy(txtFtp);
    Label9->setBuddy(txtGopher);
    Label10->setBuddy(txtSocks);

    Twips::setFixedClientSize(this, 6120, 6750);
    Twips::place(Frame1, 120, 120, 5895, 1575);
    Twips::place(chkUseProxy, 120, 360, 2175, 195);
    Twips::place(lblAddress, 480, 720, 915, 195);
    Twips::place(txtAddress, 1440, 720, 1815, 285);
    Twips::place(Label2, 3480, 720, 510, 195);
    Twips::place(txtPort, 4080, 720, 1095, 285);
    Twips::place(chkBypass, 360, 1080, 4335, 255);

    Twips::place(Frame2, 120, 1800, 5895, 2775);
    Twips::place(Image1, 120, 240, 480, 480);
    Twips::place(Label3, 840, 240, 750, 195);
    Twips::place(Label4, 1800, 240, 2310, 195);
    Twips::place(Label5, 4560, 240, 540, 195);
    struct Row {
        QLabel *label;
        QLineEdit *host;
        QLabel *colon;
        QLineEdit *port;
        int top;
    };
    const Row rows[] = {
        {Label6, txtHttp, Label11, txtHttpPort, 600},
        {Label7, txtSecure, Label12, txtSecurePort, 960},
        {Label8, txtFtp, Label13, txtFtpPort, 1320},
        {Label9, txtGopher, Label14, txtGopherPort, 1680},
        {Label10, txtSocks, Label15, txtSocksPort, 2040},
    };
    for (const Row &row : rows) {
        Twips::place(row.label, 840, row.top, 855, 195);
        Twips::place(row.host, 1800, row.top, 2535, 285);
        Twips::place(row.colon, 4440, row.top, 75, 195);
        Twips::place(row.port, 4560, row.top, 735, 285);
    }
    Twips::place(chkUseSame, 840, 2400, 4455, 255);

    Twips::place(Frame3, 120, 4680, 5895, 1455);
    Twips::place(Image2, 120, 240, 480, 480);
    Twips::place(Label16, 720, 240, 4680, 195);
    Twips::place(txtAddresses, 720, 480, 4575, 495);
    Twips::place(Label17, 720, 1080, 3570, 195);

    for (QLabel *caption : {lblAddress, Label2, Label3, Label4, Label5, Label6, Label7, Label8,
                            Label9, Label10, Label16, Label17}) {
        fitCaption(caption);
    }

    // Names for assistive technologies: captions as they read, the boxes after
    // what they hold.
    for (QGroupBox *frame : {Frame1, Frame2, Frame3}) {
        frame->setAccessibleName(frame->title());
    }
    for (QAbstractButton *button : std::initializer_list<QAbstractButton *>{
             chkUseProxy, chkBypass, chkUseSame, cmdApply, cmdOK, cmdSetProxyInfo}) {
        button->setAccessibleName(spokenCaption(button->text()));
    }
    for (QLabel *caption : {lblAddress, Label2, Label3, Label4, Label5, Label6, Label7, Label8,
                            Label9, Label10, Label16, Label17}) {
        caption->setAccessibleName(spokenCaption(caption->text()));
    }
    for (QLabel *separator : {Label11, Label12, Label13, Label14, Label15}) {
        separator->setAccessibleName(QStringLiteral("Separador de puerto"));
    }
    Image1->setAccessibleName(QStringLiteral("Servidores"));
    Image2->setAccessibleName(QStringLiteral("Excepciones"));
    txtAddress->setAccessibleName(QStringLiteral("Dirección IP del servidor proxy"));
    txtPort->setAccessibleName(QStringLiteral("Puerto del servidor proxy"));
    for (const Row &row : rows) {
        const QString protocol = spokenCaption(row.label->text()).chopped(1);
        row.host->setAccessibleName(QStringLiteral("Servidor proxy %1").arg(protocol));
        row.port->setAccessibleName(QStringLiteral("Puerto %1").arg(protocol));
    }
    txtAddresses->setAccessibleName(Label16->text());

    Twips::place(cmdApply, 120, 6240, 1215, 375);
    Twips::place(cmdOK, 3480, 6240, 1215, 375);
    Twips::place(cmdSetProxyInfo, 4800, 6240, 1215, 375);

    QWidget *const tabOrder[] = {
        chkUseProxy,  txtAddress,    txtPort,       chkBypass,       txtHttp,
        txtHttpPort,  txtSecure,     txtSecurePort, txtFtp,          txtFtpPort,
        txtGopher,    txtGopherPort, txtSocks,      txtSocksPort,    chkUseSame,
        txtAddresses, cmdApply,      cmdOK,         cmdSetProxyInfo,
    };
    for (size_t i = 0; i + 1 < std::size(tabOrder); ++i) {
        setTabOrder(tabOrder[i], tabOrder[i + 1]);
    }
    chkUseProxy->setFocus();
    DialogKeys::install(this, cmdSetProxyInfo);

    connect(chkUseProxy, &QCheckBox::clicked, this, &frmProxyTest::chkUseProxy_Click);
    connect(chkUseSame, &QCheckBox::clicked, this, &frmProxyTest::chkUseSame_Click);
    connect(cmdApply, &QPushButton::clicked, this, &frmProxyTest::cmdApply_Click);
    connect(cmdOK, &QPushButton::clicked, this, &frmProxyTest::cmdOK_Click);
    connect(cmdSetProxyInfo, &QPushButton::clicked, this, &frmProxyTest::cmdSetProxyInfo_Click);

    Form_Load();
}

void frmProxyTest::Form_Load()
{
    ReadProxySettings();
}

void frmProxyTest::chkUseProxy_Click()
{
    const bool use = chkUseProxy->isChecked();
    Frame2->setEnabled(use);
    Frame3->setEnabled(use);
    QWidget *const fields[] = {
        lblAddress,    txtAddress,    Label2,    txtPort,     Label3,     Label4,       Label5,
        Label6,        txtHttp,       Label11,   txtHttpPort, Label7,     txtSecure,    Label12,
        txtSecurePort, Label8,        txtFtp,    Label13,     txtFtpPort, Label9,       txtGopher,
        Label14,       txtGopherPort, Label10,   txtSocks,    Label15,    txtSocksPort, Label16,
        txtAddresses,  Label17,       chkBypass, chkUseSame,
    };
    for (QWidget *field : fields) {
        field->setEnabled(use);
    }
}

void frmProxyTest::chkUseSame_Click()
{
    const bool same = chkUseSame->isChecked();
    if (same) {
        txtAddress->setText(txtHttp->text());
        txtPort->setText(txtHttpPort->text());
    } else {
        txtAddress->clear();
        txtPort->clear();
    }
    for (QLineEdit *box : {txtSecure, txtSecurePort, txtFtp, txtFtpPort, txtGopher, txtGopherPort,
                           txtSocks, txtSocksPort}) {
        box->setEnabled(!same);
    }
}

void frmProxyTest::cmdApply_Click()
{
    const bool engineChanged = ApplyProxySettings();
    ReadProxySettings();
    offerRestart(engineChanged);
}

void frmProxyTest::cmdOK_Click()
{
    offerRestart(ApplyProxySettings());
    accept();
}

void frmProxyTest::cmdSetProxyInfo_Click()
{
    reject();
}

void frmProxyTest::ReadProxySettings()
{
    const ProxyRecord record = m_store.query();
    m_lastSwitches = engineProxySwitches(m_store.storedRecord());
    showFields(readProxyRecord(fields(), record));
    if (record.accessType == ProxyAccess::Proxy) {
        chkUseProxy_Click();
    }
}

bool frmProxyTest::ApplyProxySettings()
{
    const ProxyRecord record = buildProxyRecord(fields());
    if (!m_store.set(record)) {
        m_messages.show(this, QStringLiteral("Unable to update the IE proxy settings."),
                        MessageIcon::Exclamation, outcomeTitle);
        return false;
    }
    QStringList switches = engineProxySwitches(record);
    const bool engineChanged = switches != m_lastSwitches;
    m_lastSwitches = std::move(switches);
    m_messages.show(this, QStringLiteral("The IE proxy settings was updated sucsessfully."),
                    MessageIcon::Information, outcomeTitle);
    return engineChanged;
}

void frmProxyTest::offerRestart(bool engineChanged)
{
    if (!engineChanged) {
        return;
    }
    const QString title = WindowTexts::messageTitle();
    if (!m_restart) {
        m_messages.show(this,
                        QStringLiteral("La nueva configuración del proxy se usará la próxima vez "
                                       "que inicie el programa."),
                        MessageIcon::Information, title);
        return;
    }
    if (m_messages.ask(this,
                       QStringLiteral("La nueva configuración del proxy se usará cuando el "
                                      "programa se reinicie. ¿Desea reiniciarlo ahora?"),
                       title) &&
        !m_restart->restart()) {
        m_messages.show(this, QStringLiteral("No se pudo reiniciar el programa."),
                        MessageIcon::Critical, title);
    }
}

ProxyFields frmProxyTest::fields() const
{
    ProxyFields fields;
    fields.useProxy = chkUseProxy->isChecked();
    fields.bypassLocal = chkBypass->isChecked();
    // The box is multi-line, but the list it feeds is one line: a line break
    // (pasted, say) separates entries like a semicolon.
    fields.exceptions = txtAddresses->toPlainText();
    fields.exceptions.replace(QLatin1String("\r\n"), QLatin1String(";"));
    fields.exceptions.replace(u'\r', u';');
    fields.exceptions.replace(u'\n', u';');
    fields.http = {txtHttp->text(), txtHttpPort->text()};
    fields.secure = {txtSecure->text(), txtSecurePort->text()};
    fields.ftp = {txtFtp->text(), txtFtpPort->text()};
    fields.gopher = {txtGopher->text(), txtGopherPort->text()};
    fields.socks = {txtSocks->text(), txtSocksPort->text()};
    return fields;
}

void frmProxyTest::showFields(const ProxyFields &fields)
{
    chkUseProxy->setChecked(fields.useProxy);
    chkBypass->setChecked(fields.bypassLocal);
    if (txtAddresses->toPlainText() != fields.exceptions) {
        txtAddresses->setPlainText(fields.exceptions);
    }
    setText(txtHttp, fields.http.host);
    setText(txtHttpPort, fields.http.port);
    setText(txtSecure, fields.secure.host);
    setText(txtSecurePort, fields.secure.port);
    setText(txtFtp, fields.ftp.host);
    setText(txtFtpPort, fields.ftp.port);
    setText(txtGopher, fields.gopher.host);
    setText(txtGopherPort, fields.gopher.port);
    setText(txtSocks, fields.socks.host);
    setText(txtSocksPort, fields.socks.port);
}

void frmProxyTest::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    Placement::centerOnOwner(this);
}
