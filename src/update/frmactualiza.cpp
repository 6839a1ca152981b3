#include "frmactualiza.h"

#include "indexrefresh.h"

#include "connectivityprobe.h"
#include "dialogkeys.h"
#include "download.h"
#include "messageboxes.h"
#include "packageinstaller.h"
#include "packagesize.h"
#include "packagetrust.h"
#include "placement.h"
#include "startupcheck.h"
#include "twips.h"
#include "updatecheck.h"
#include "updatecontract.h"
#include "updatefeed.h"
#include "utility.h"
#include "widgetnames.h"
#include "windowservice.h"
#include "windowtexts.h"
#include "wrappingbutton.h"

#include <QCheckBox>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QUrl>

#include <utility>

namespace {
// Where a list item keeps the identifier the server gave, its text being for the reader.
constexpr int identifierRole = Qt::UserRole;
} // namespace

frmActualiza::frmActualiza(PlatformServices services, const Collection &collection, QWidget *owner)
    : QDialog(owner,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
    , m_services(std::move(services))
    , m_collection(collection)
{
    setObjectName(QStringLiteral("frmActualiza"));
    setWindowTitle(WindowTexts::caption());

    Frame1 = named(new QGroupBox(QStringLiteral("Circulares Faltantes"), this), "Frame1");
    listVersion = named(new QListWidget(Frame1), "listVersion");
    // A server may offer many thousands of circulars.
    listVersion->setUniformItemSizes(true);
    btnOK = named(new WrappingButton(QStringLiteral("&Revisar Actualizaciones"), Frame1), "btnOK");
    btnActualiza = named(new WrappingButton(QStringLiteral("A&ctualizar"), Frame1), "btnActualiza");
    for (QPushButton *button : {btnOK, btnActualiza}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    wbrowserAct = named(m_services.newBrowser(this), "wbrowserAct");
    wbrEjecutable = named(m_services.newBrowser(this), "wbrEjecutable");
    Label1 = named(new QLabel(QStringLiteral("Si no se inicia la descarga automáticamente, puede "
                                             "utilizar el siguiente enlance para obtener la "
                                             "actualización, el paquete de actualización debe "
                                             "ejecutarse en la carpeta de instalación del "
                                             "sistema."),
                              this),
                   "Label1");
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Shown in Label1's place while the package waits for another install to end.
    lblEspera =
        named(new QLabel(QStringLiteral("Esperando a que termine otra instalación..."), this),
              "lblEspera");
    lblEspera->setWordWrap(true);
    lblEspera->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblEspera->setVisible(false);
    chkAviso =
        named(new QCheckBox(QStringLiteral("A&visar al iniciar si hay circulares nuevas"), this),
              "chkAviso");
    chkAviso->setChecked(StartupCheck::enabled(m_services.profile, m_collection.programFolder()));

    Twips::setFixedClientSize(this, 6330, 4440);
    Twips::place(Frame1, 1440, 240, 3255, 2175);
    Twips::place(listVersion, 120, 360, 1455, 1620);
    Twips::place(btnOK, 1680, 360, 1455, 615);
    Twips::place(btnActualiza, 1680, 1080, 1455, 615);
    Twips::place(wbrowserAct, 1320, 360, 3015, 2175);
    Twips::place(wbrEjecutable, 120, 3360, 6135, 975);
    Twips::place(Label1, 120, 2760, 6135, 735);
    Twips::place(lblEspera, 120, 2760, 6135, 735);
    Twips::place(chkAviso, 1440, 2430, 4815, 315);
    wbrowserAct->setVisible(false);
    wbrEjecutable->setVisible(false);

    // Names for assistive technologies.
    Frame1->setAccessibleName(Frame1->title());
    listVersion->setAccessibleName(QStringLiteral("Circulares faltantes"));
    btnOK->setAccessibleName(QStringLiteral("Revisar Actualizaciones"));
    btnActualiza->setAccessibleName(QStringLiteral("Actualizar"));
    wbrowserAct->setAccessibleName(QStringLiteral("Lista de circulares del servidor"));
    wbrEjecutable->setAccessibleName(QStringLiteral("Respuesta del servidor de actualizaciones"));
    Label1->setAccessibleName(Label1->text());

    setTabOrder(wbrowserAct, wbrEjecutable);
    setTabOrder(wbrEjecutable, btnActualiza);
    setTabOrder(btnActualiza, btnOK);
    // The check box lies below the frame: it is reached after the buttons and before the
    // list, which reads first, so that the keyboard follows the reading order round.
    setTabOrder(btnOK, chkAviso);
    setTabOrder(chkAviso, listVersion);
    DialogKeys::install(this); // no cancel button: Escape leaves the window open

    connect(wbrowserAct, &WebBrowser::BeforeNavigate2, this,
            &frmActualiza::wbrowserAct_BeforeNavigate2);
    connect(wbrowserAct, &WebBrowser::NavigateComplete2, this,
            &frmActualiza::wbrowserAct_NavigateComplete2);
    connect(btnOK, &QPushButton::clicked, this, &frmActualiza::btnOK_Click);
    connect(btnActualiza, &QPushButton::clicked, this, &frmActualiza::btnActualiza_Click);
    connect(chkAviso, &QCheckBox::toggled, this, [this](bool on) {
        if (!StartupCheck::setEnabled(m_services.profile, m_collection.programFolder(), on)) {
            inform(QStringLiteral("No se pudo guardar esta preferencia en el archivo de "
                                  "configuración."));
        }
    });
    connect(wbrEjecutable, &WebBrowser::DownloadRequested, this,
            &frmActualiza::wbrEjecutable_DownloadRequested);

    Form_Load();
}

void frmActualiza::Form_Load()
{
    btnOK->setEnabled(false);
    btnActualiza->setEnabled(false);
    m_prefix =
        ReadIniValue(m_services.profile, SettingsPath(m_collection.programFolder()),
                     QStringLiteral("http"), QStringLiteral("actualizacion"), QStringLiteral("?"));
    askForTheList();
    askForTheTitles();
}

void frmActualiza::askForTheTitles()
{
    const QUrl address(m_prefix + UpdateContract::catalogFile);
    if (!address.isValid() ||
        (address.scheme() != QLatin1String("http") && address.scheme() != QLatin1String("https"))) {
        return;
    }
    QPointer<frmActualiza> self(this);
    m_services.updateFeed.fetch(address, maxCatalogBytes, [self](std::optional<QByteArray> text) {
        if (!self || !text) {
            return;
        }
        self->m_services.updateFeed.fetch(
            QUrl(self->m_prefix + UpdateContract::catalogSignatureFile), maxSignatureBytes,
            [self, text](std::optional<QByteArray> signature) {
                if (self && signature) {
                    self->catalogArrived(*text, *signature);
                }
            });
    });
}

void frmActualiza::catalogArrived(const QByteArray &text, const QByteArray &signature)
{
    // Only what the publisher signed names a circular.
    const PackageTrust trust = trustFor(m_collection, QDate::currentDate());
    QString reason;
    const std::optional<Catalog> catalog =
        trust.key ? vouchedCatalog(trust, text, signature, {}, &reason) : std::nullopt;
    if (!catalog) {
        return;
    }
    for (const CatalogCircular &circular : catalog->circulars) {
        m_titles.insert(circular.number, circular.title.simplified());
    }
    for (int row = 0; row < listVersion->count(); ++row) {
        QListWidgetItem *item = listVersion->item(row);
        item->setText(itemText(item->data(identifierRole).toString()));
        item->setToolTip(item->text());
    }
}

QString frmActualiza::itemText(const QString &identifier) const
{
    const QString title = m_titles.value(identifier.trimmed());
    return title.isEmpty() ? identifier : identifier + QStringLiteral(" — ") + title;
}

void frmActualiza::askForTheList()
{
    actURL = m_prefix + UpdateContract::listPage;
    m_listUnread = true;
    wbrowserAct->Navigate2(actURL);
}

void frmActualiza::wbrowserAct_BeforeNavigate2(const QString &, bool *cancel)
{
    if (IsConnected(m_services.probe)) {
        return;
    }
    *cancel = true;
    // A check that was waiting for the list page can be tried again later.
    if (std::exchange(m_checkWhenListArrives, false)) {
        btnOK->setEnabled(true);
    }
    // The engine is inside its navigation callback: the box waits for it to return.
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_services.messages.show(this, QStringLiteral("Verifique su conexión a Internet"),
                                     MessageIcon::Critical, WindowTexts::messageTitle());
        },
        Qt::QueuedConnection);
}

void frmActualiza::wbrowserAct_NavigateComplete2(const QString &address)
{
    const bool packageOffered = address.contains(UpdateContract::answerPage);
    btnActualiza->setEnabled(packageOffered);
    if (std::exchange(m_checkWhenListArrives, false)) {
        btnOK->setEnabled(false);
        // Out of the engine's callback first: the check may show a message.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (isVisible()) {
                    checkList();
                }
            },
            Qt::QueuedConnection);
        return;
    }
    btnOK->setEnabled(!packageOffered);
}

void frmActualiza::btnOK_Click()
{
    if (wbrowserAct->Busy()) {
        return;
    }
    if (!m_listUnread) {
        // The hidden browser shows a list page an earlier check read, or what
        // the server answered to the request (an error page, say): the check
        // starts again from a fresh list page.
        btnOK->setEnabled(false);
        m_checkWhenListArrives = true;
        askForTheList();
        return;
    }
    checkList();
}

void frmActualiza::checkList()
{
    if (wbrowserAct->Busy()) {
        // The list page moved on to another page meanwhile: that one is read.
        m_checkWhenListArrives = true;
        return;
    }
    m_listUnread = false;
    listVersion->clear();
    m_notRequested = 0;
    const HtmlDocument document = wbrowserAct->Document();
    if (!document.present || !document.hasBody || document.labelChildValues.isEmpty()) {
        btnOK->setEnabled(true);
        inform(QStringLiteral("Revise que su conexión a Internet este funcionando"));
        return;
    }
    const QStringList firstLabel = document.labelChildValues.first();
    const QString listText = firstLabel.isEmpty() ? QString() : firstLabel.first();
    // The circulars the reader has: the program folder's and the user's own.
    QStringList local;
    for (const QString &folder : {m_collection.programFolder(), m_collection.userFolder()}) {
        if (!folder.isEmpty()) {
            local += localCircularNames(QDir(folder).filePath(UpdateContract::circularsFolder));
        }
    }
    for (const QString &identifier : missingCirculars(splitServerList(listText), local)) {
        auto *item = new QListWidgetItem(listVersion);
        item->setData(identifierRole, identifier);
        item->setText(itemText(identifier));
        item->setToolTip(item->text()); // the list is narrow; a title is read whole here
    }
    btnOK->setEnabled(false);
    if (listVersion->count() == 0) {
        inform(QStringLiteral("A la fecha su programa está actualizado"));
        return;
    }
    QStringList missing;
    for (int row = 0; row < listVersion->count(); ++row) {
        missing.append(listVersion->item(row)->data(identifierRole).toString());
    }
    // A server takes addresses of a few kilobytes: the request carries the
    // first circulars that fit, and the next check asks for the rest.
    const qsizetype fitting = identifiersThatFit(m_prefix, missing);
    if (fitting == 0) {
        inform(QStringLiteral("Las circulares faltantes no caben en una solicitud al servidor."));
        return;
    }
    m_notRequested = missing.size() - fitting;
    missing.resize(fitting);
    actURL = requestAddress(m_prefix, missing);
    wbrowserAct->Navigate2(actURL);
    wbrEjecutable->Navigate(actURL);
    wbrEjecutable->setVisible(true);
}

void frmActualiza::btnActualiza_Click()
{
    if (wbrowserAct->Busy()) {
        return;
    }
    downloadAndInstall(firstLink());
}

void frmActualiza::wbrEjecutable_DownloadRequested(const QString &url)
{
    if (!isVisible() || wbrowserAct->Busy()) {
        return;
    }
    // Out of the engine's callback first: the download waits in a loop of its own.
    QMetaObject::invokeMethod(
        this, [this, url] { downloadAndInstall(url); }, Qt::QueuedConnection);
}

void frmActualiza::downloadAndInstall(const QString &link)
{
    // Where the program folder cannot be written, the user's own collection takes the package.
    const QString folder = m_collection.installFolder();
    QDir().mkpath(folder);
    // The answer page says how big the package is: the download brings no more than that.
    const DownloadRequest request{WindowTexts::messageTitle(), folder, link,
                                  PackageSize::announced(wbrowserAct->Document().text)};
    btnActualiza->setEnabled(false);
    hide();
    const DownloadResult download = DownloadFile(
        {m_services.downloadFolders, m_services.fileDownload, m_services.windows}, request);
    // The package is installed, never run: it may carry only documents of the collection.
    switch (download.status) {
    case DownloadResult::Status::Saved: {
        const QSet<QString> before = collectionCirculars(m_collection);
        const InstallOutcome outcome = m_services.packageInstaller.install(
            download.path, folder, trustFor(m_collection, QDate::currentDate()),
            [this] { return waitForOtherInstall(); });
        lblEspera->setVisible(false);
        Label1->setVisible(true);
        // The package was saved only to be installed; it is not part of the collection.
        QFile::remove(download.path);
        m_installed = outcome.installed;
        const InstallNews news = installNews(m_collection, before, outcome, m_services.pdf);
        if (news.circulars.isEmpty()) {
            inform(news.message + remainingText());
        } else {
            m_openIndex = m_services.messages.offer(
                this, news.message + remainingText(), MessageIcon::Information,
                WindowTexts::messageTitle(), QStringLiteral("Ver circulares nuevas"));
        }
        break;
    }
    case DownloadResult::Status::Cancelled:
        break;
    case DownloadResult::Status::Failed:
    case DownloadResult::Status::Pending:
        inform(QStringLiteral("No se descargó el paquete de actualización: %1.")
                   .arg(download.error.isEmpty() ? QStringLiteral("la descarga no terminó")
                                                 : download.error));
        break;
    }
    close();
}

bool frmActualiza::waitForOtherInstall()
{
    // The window comes back to say why nothing happens yet; closing it gives up.
    if (!lblEspera->isVisible()) {
        Label1->setVisible(false);
        lblEspera->setVisible(true);
        show();
    }
    m_services.windows.sleep(100, true);
    return isVisible();
}

QString frmActualiza::remainingText() const
{
    if (m_notRequested == 0) {
        return {};
    }
    if (m_notRequested == 1) {
        return QStringLiteral("\n\nQueda 1 circular por pedir: vuelva a usar \"Revisar "
                              "Actualizaciones\" para obtenerla.");
    }
    return QStringLiteral("\n\nQuedan %1 circulares por pedir: vuelva a usar \"Revisar "
                          "Actualizaciones\" para obtenerlas.")
        .arg(m_notRequested);
}

QString frmActualiza::firstLink() const
{
    const QStringList links = wbrowserAct->Document().links;
    return links.isEmpty() ? QString() : links.first();
}

void frmActualiza::inform(const QString &text)
{
    m_services.messages.show(this, text, MessageIcon::Information, WindowTexts::messageTitle());
}

void frmActualiza::done(int result)
{
    // Whatever the hidden browsers still owe this window is not delivered any more.
    for (WebBrowser *browser : {wbrowserAct, wbrEjecutable}) {
        disconnect(browser, nullptr, this, nullptr);
        browser->Stop();
    }
    QDialog::done(result);
}

void frmActualiza::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    Placement::centerOnOwner(this);
}
