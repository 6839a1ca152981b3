#include "frmbrowser.h"

#include "coolbar.h"
#include "deferredicon.h"
#include "firstdialog.h"
#include "frmactualiza.h"
#include "frmdatos.h"
#include "frmproxytest.h"
#include "indexrefresh.h"
#include "instancechannel.h"
#include "instanceguard.h"
#include "instancerequest.h"
#include "layoutrules.h"
#include "messageboxes.h"
#include "profilefile.h"
#include "searchtools.h"
#include "twips.h"
#include "updatecontract.h"
#include "updatenotice.h"
#include "utility.h"
#include "windowplacementstore.h"
#include "windowtexts.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>

#include <utility>

namespace {
// Design sizes, in twips.
constexpr int designClientWidth = 7155;
constexpr int designClientHeight = 3195;
constexpr int coolBarDesignHeight = 825;
constexpr int statusBarDesignHeight = 315;
constexpr int browserTop = 840;
constexpr float resizeAllowance = 20.0f;

const QString sectionUser = QStringLiteral("user");
const QString noValue = QStringLiteral("?");

QAction *entry(QMenu *menu, const char *name, const QString &caption, bool enabled = true)
{
    QAction *action = menu->addAction(caption);
    action->setObjectName(QLatin1String(name));
    action->setEnabled(enabled);
    return action;
}

QMenu *submenu(QWidget *parent, const char *name, const QString &caption)
{
    auto *menu = new QMenu(caption, parent);
    menu->setObjectName(QLatin1String(name));
    menu->menuAction()->setObjectName(QLatin1String(name));
    menu->setAccessibleName(QString(caption).remove(u'&'));
    return menu;
}
} // namespace

frmBrowser::frmBrowser(PlatformServices services, const Collection &collection, QWidget *parent)
    : frmBrowser(std::move(services), collection, HomePage::AtFormLoad, parent)
{
}

frmBrowser::frmBrowser(PlatformServices services, const Collection &collection, HomePage homePage,
                       QWidget *parent)
    : QMainWindow(parent)
    , m_services(std::move(services))
    , m_collection(collection)
    , m_programFolder(collection.programFolder())
    , m_client(new QWidget(this))
{
    setObjectName(QStringLiteral("frmBrowser"));
    setWindowTitle(WindowTexts::caption());
    setCentralWidget(m_client);
    m_client->setObjectName(QStringLiteral("clientArea"));

    CoolBar1 = new CoolBar(m_client);
    CoolBar1->setObjectName(QStringLiteral("CoolBar1"));
    CoolBar1->setDesignHeight(coolBarDesignHeight);
    txtURL = new QLineEdit(m_client);
    txtURL->setObjectName(QStringLiteral("txtURL"));
    Toolbar1 = new QToolBar(m_client);
    Toolbar1->setObjectName(QStringLiteral("Toolbar1"));
    buildToolbar();
    CoolBar1->addBand(QString(), Toolbar1, 390, 555);
    CoolBar1->addBand(QStringLiteral("  Dirección  "), txtURL, 345, 2775);

    WebBrowser1 = m_services.newBrowser(m_client);
    WebBrowser1->setObjectName(QStringLiteral("WebBrowser1"));
    // Nothing here reads the page's document: each page completes as soon as it has
    // loaded, without a question to the page's process first.
    WebBrowser1->SetReadsDocuments(false);
    // The home page asked for at once where nothing comes before it: the page's engine
    // starts its work while the rest of the window is built. Its events come from the event
    // loop, once the window is whole.
    if (homePage == HomePage::BeforeBuilding && homePageComesFirst()) {
        requestHomePage();
        m_homeRequested = true;
    }

    StatusBar1 = new QStatusBar(m_client);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    m_statusPanel = new QLabel(StatusBar1);
    m_statusPanel->setObjectName(QStringLiteral("Panel1"));
    StatusBar1->addWidget(m_statusPanel, 1);
    StatusBar1->setMinimumHeight(Twips::toPixels(statusBarDesignHeight, Twips::logicalDpi(this)));

    buildMenus();
    buildSearch();
    buildNotice();
    buildKeys();
    // The page's right-click menu offers the window's commands on the page as well.
    WebBrowser1->SetContextActions({mnuCopyAddress, mnuSave, mnuPrint});

    // Names for assistive technologies; the menu entries and the toolbar's
    // buttons are named by their captions and tooltips.
    CoolBar1->setAccessibleName(QStringLiteral("Barra de navegación"));
    Toolbar1->setAccessibleName(QStringLiteral("Botones de navegación"));
    txtURL->setAccessibleName(QStringLiteral("Dirección"));
    WebBrowser1->setAccessibleName(QStringLiteral("Página"));
    StatusBar1->setAccessibleName(QStringLiteral("Barra de estado"));
    m_statusPanel->setAccessibleName(QStringLiteral("Estado"));
    menuBar()->setAccessibleName(QStringLiteral("Menú"));

    // Tab goes from the address bar through the toolbar's buttons to the page.
    QWidget *previous = txtURL;
    for (QAction *button : Toolbar1->actions()) {
        QWidget *widget = Toolbar1->widgetForAction(button);
        setTabOrder(previous, widget);
        previous = widget;
    }
    setTabOrder(previous, WebBrowser1);
    setTabOrder(WebBrowser1, StatusBar1);
    // The engine's view of the page, and what it made for the page, go last in the
    // keyboard's round, where a page asked for after the window was built puts them: the
    // window's first focus stays on the address bar, and Tab leaves the page for it.
    if (m_homeRequested) {
        const QList<QWidget *> inside = WebBrowser1->findChildren<QWidget *>();
        QList<QWidget *> chained;
        for (QWidget *widget = nextInFocusChain(); widget && widget != this;
             widget = widget->nextInFocusChain()) {
            if (inside.contains(widget)) {
                chained.append(widget);
            }
        }
        // Qt moves in the round only widgets that take the keyboard: they take it while they
        // move, and then have their own ways back. A widget passes its way to the widget
        // it lends the keyboard to (the view to the page's surface), so those lending come
        // back first.
        QList<std::pair<QWidget *, Qt::FocusPolicy>> policies;
        for (QWidget *widget : std::as_const(chained) + QList<QWidget *>{previousInFocusChain()}) {
            policies.append({widget, widget->focusPolicy()});
        }
        for (QWidget *widget : std::as_const(chained)) {
            QWidget *last = previousInFocusChain();
            last->setFocusPolicy(Qt::TabFocus);
            widget->setFocusPolicy(Qt::TabFocus);
            setTabOrder(last, widget);
        }
        for (const bool lending : {true, false}) {
            for (const auto &[widget, policy] : std::as_const(policies)) {
                if ((widget->focusProxy() != nullptr) == lending) {
                    widget->setFocusPolicy(policy);
                }
            }
        }
    }

    const double dpi = Twips::logicalDpi(this);
    WebBrowser1->move(0, Twips::toPixels(browserTop, dpi));
    resize(Twips::toPixels(designClientWidth, dpi),
           Twips::toPixels(designClientHeight, dpi) + menuBar()->sizeHint().height());

    m_client->installEventFilter(this);
    connect(CoolBar1, &CoolBar::HeightChanged, this, &frmBrowser::CoolBar1_HeightChanged);
    connect(&m_services.instanceChannel, &InstanceChannel::requested, this,
            &frmBrowser::anotherStartAsked);
    connectBrowser();
}

void frmBrowser::buildToolbar()
{
    struct Button {
        const char *key;
        QString tooltip;
        QStyle::StandardPixmap image;
    };
    const Button buttons[] = {
        {"back", QStringLiteral("Atrás"), QStyle::SP_ArrowBack},
        {"fordward", QStringLiteral("Siguiente"), QStyle::SP_ArrowForward},
        {"stop", QStringLiteral("Parar"), QStyle::SP_BrowserStop},
        {"refresh", QStringLiteral("Refrescar página"), QStyle::SP_BrowserReload},
        {"home", QStringLiteral("Ir al inicio"), QStyle::SP_DirHomeIcon},
    };
    Toolbar1->setIconSize(QSize(20, 20));
    Toolbar1->setMovable(false);
    Toolbar1->setFloatable(false);
    for (const Button &button : buttons) {
        QAction *action =
            Toolbar1->addAction(deferredStandardIcon(this, button.image), button.tooltip);
        action->setObjectName(QLatin1String(button.key));
        action->setData(QLatin1String(button.key));
        action->setToolTip(button.tooltip);
        QWidget *widget = Toolbar1->widgetForAction(action);
        widget->setAccessibleName(button.tooltip);
        widget->setObjectName(QLatin1String(button.key) + QLatin1String("Button"));
        // Reachable with Tab and pressed with Space, as any button.
        widget->setFocusPolicy(Qt::TabFocus);
    }
    // The button that shows the buttons a narrow band hides.
    if (auto *more = Toolbar1->findChild<QToolButton *>(QStringLiteral("qt_toolbar_ext_button"))) {
        more->setAccessibleName(QStringLiteral("Más botones"));
    }
    // The buttons keep to the band's height: no margin around them.
    Toolbar1->layout()->setContentsMargins(0, 0, 0, 0);
    Toolbar1->setFocusPolicy(Qt::NoFocus);
    connect(Toolbar1, &QToolBar::actionTriggered, this, &frmBrowser::Toolbar1_ButtonClick);
}

void frmBrowser::buildMenus()
{
    mnuFile = submenu(this, "mnuFile", QStringLiteral("&Archivo"));
    mnuSave = entry(mnuFile, "mnuSave", QStringLiteral("&Guardar..."));
    mnuPrint = entry(mnuFile, "mnuPrint", QStringLiteral("&Imprimir"));
    mnuSendto = entry(mnuFile, "mnuSendto", QStringLiteral("Enviar página por email..."));
    mnuCopyAddress = entry(mnuFile, "mnuCopyAddress", QStringLiteral("Copiar dirección"));
    mnuPrint->setShortcut(QKeySequence::Print);
    // Ctrl+P prints wherever the keyboard is in the window, the page's viewer included.
    mnuPrint->setShortcutContext(Qt::WindowShortcut);
    sep1 = mnuFile->addSeparator();
    sep1->setObjectName(QStringLiteral("sep1"));
    mnuClose = entry(mnuFile, "mnuClose", QStringLiteral("&Salir"));

    mnConsulta = submenu(this, "mnConsulta", QStringLiteral("Sis&temas de Información"));
    mnConsultaSarc = entry(mnConsulta, "mnConsultaSarc", QStringLiteral("Ma&nual Sistemas"));
    mnConsultaGen = entry(mnConsulta, "mnConsultaGen", QStringLiteral("Erro&res mas comunes"));
    mnConsulta->menuAction()->setEnabled(false);

    mnuActualiza = submenu(this, "mnuActualiza", QStringLiteral("H&erramientas"));
    mnuActUltima = submenu(mnuActualiza, "mnuActUltima", QStringLiteral("Suscripciones"));
    mnSuscribir = entry(mnuActUltima, "mnSuscribir", QStringLiteral("Suscribir"), false);
    mnSuscribirWeb = entry(mnuActUltima, "mnSuscribirWeb", QStringLiteral("Suscribir via Web"));
    mnuDessucri =
        entry(mnuActUltima, "mnuDessucri", QStringLiteral("Quitar la suscripción"), false);
    mnuDessucriWeb =
        entry(mnuActUltima, "mnuDessucriWeb", QStringLiteral("Quitar la suscripción via Web"));
    mnuActualiza->addMenu(mnuActUltima);
    mnuCirculares =
        entry(mnuActualiza, "mnuCirculares", QStringLiteral("Actualización Circulares"));
    mnuConfig = entry(mnuActualiza, "mnuConfig", QStringLiteral("Se&rvidor Proxy"), false);

    menuBar()->addMenu(mnuFile);
    menuBar()->addMenu(mnConsulta);
    menuBar()->addMenu(mnuActualiza);
    mnuHelp = menuBar()->addAction(QStringLiteral("A&yuda"));
    mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
    mnuHelp->setEnabled(false);

    connect(mnuSave, &QAction::triggered, this, &frmBrowser::mnuSave_Click);
    connect(mnuPrint, &QAction::triggered, this, &frmBrowser::mnuPrint_Click);
    connect(mnuClose, &QAction::triggered, this, &frmBrowser::mnuClose_Click);
    connect(mnConsultaSarc, &QAction::triggered, this, &frmBrowser::mnConsultaSarc_Click);
    connect(mnConsultaGen, &QAction::triggered, this, &frmBrowser::mnConsultaGen_Click);
    connect(mnuHelp, &QAction::triggered, this, &frmBrowser::mnuHelp_Click);
    connect(mnuCirculares, &QAction::triggered, this, &frmBrowser::mnuCirculares_Click);
    connect(mnuConfig, &QAction::triggered, this, &frmBrowser::mnuConfig_Click);
    connect(mnuSendto, &QAction::triggered, this, &frmBrowser::mnuSendto_Click);
    connect(mnuCopyAddress, &QAction::triggered, this, &frmBrowser::mnuCopyAddress_Click);
    connect(mnSuscribir, &QAction::triggered, this, &frmBrowser::mnSuscribir_Click);
    connect(mnSuscribirWeb, &QAction::triggered, this, &frmBrowser::mnSuscribirWeb_Click);
    connect(mnuDessucri, &QAction::triggered, this, &frmBrowser::mnuDessucri_Click);
    connect(mnuDessucriWeb, &QAction::triggered, this, &frmBrowser::mnuDessucriWeb_Click);
}

QString frmBrowser::programPath(const QString &relative) const
{
    return QDir(m_programFolder).filePath(relative);
}

bool frmBrowser::Form_Load()
{
    if (m_services.instance.previousInstance()) {
        return false;
    }
    // Later starts for this collection ask this window to come to the front instead.
    m_services.instanceChannel.listen();
    m_helpFile = programPath(QStringLiteral("legisdis.hlp"));
    m_initPage = homePagePath();
    const QString settings = SettingsPath(m_programFolder);
    // Settings that cannot be read read as the defaults; the user is told why.
    if (const QString problem = m_services.profile.readProblem(settings); !problem.isEmpty()) {
        m_services.messages.show(this, problem, MessageIcon::Exclamation,
                                 WindowTexts::messageTitle());
    }
    const QString name =
        ReadIniValue(m_services.profile, settings, sectionUser, QStringLiteral("name"), noValue);
    const QString lastname = ReadIniValue(m_services.profile, settings, sectionUser,
                                          QStringLiteral("lastname"), noValue);
    const QString email =
        ReadIniValue(m_services.profile, settings, sectionUser, QStringLiteral("email"), noValue);
    if (name.isEmpty() || lastname.isEmpty() || email.isEmpty()) {
        frmDatos form(m_services.profile, m_services.messages, m_programFolder, this);
        form.exec();
    }
    const QString show = ReadIniValue(m_services.profile, settings, QStringLiteral("init"),
                                      QStringLiteral("show"), noValue);
    if (show == QLatin1String("1")) {
        openFirstRunPrompt();
    }
    // Done already when the home page was asked for early.
    if (!std::exchange(m_homeRequested, false)) {
        requestHomePage();
    }
    reindexCollection();
    startQuietCheck();
    m_started = true;
    if (!m_pendingDocument.isEmpty()) {
        openDocument(std::exchange(m_pendingDocument, QString()));
    }
    return true;
}

QString frmBrowser::homePagePath() const
{
    return programPath(QStringLiteral("pagina/maincd.htm"));
}

void frmBrowser::requestHomePage()
{
    // The index page follows the catalog and the circulars the collection holds.
    refreshCircularIndex(m_collection, m_services.pdf);
    WebBrowser1->Navigate2(homePagePath());
}

bool frmBrowser::homePageComesFirst() const
{
    if (m_services.instance.previousInstance()) {
        return false;
    }
    const QString settings = SettingsPath(m_programFolder);
    if (!m_services.profile.readProblem(settings).isEmpty()) {
        return false;
    }
    for (const char *key : {"name", "lastname", "email"}) {
        if (ReadIniValue(m_services.profile, settings, sectionUser, QLatin1String(key), noValue)
                .isEmpty()) {
            return false;
        }
    }
    return ReadIniValue(m_services.profile, settings, QStringLiteral("init"),
                        QStringLiteral("show"), noValue) != QLatin1String("1");
}

bool frmBrowser::openDocument(const QString &argument)
{
    const QString relative = collectionDocument(m_collection, argument);
    if (relative.isEmpty()) {
        return false;
    }
    WebBrowser1->Navigate2(programPath(relative));
    return true;
}

void frmBrowser::anotherStartAsked(const QString &document)
{
    if (m_started) {
        setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
        show();
        raise();
        activateWindow();
    } else if (!document.isEmpty()) {
        m_pendingDocument = document;
    }
    // A form that waits for the reader stays in front of the window.
    if (QWidget *modal = QApplication::activeModalWidget()) {
        modal->raise();
        modal->activateWindow();
    }
    // What another process asks for is checked like any other name from outside.
    if (m_started) {
        openDocument(document);
    }
}

void frmBrowser::openFirstRunPrompt()
{
    firstDialog prompt(m_services.profile, m_services.shell, m_services.messages, m_programFolder,
                       this);
    prompt.chkmostrar->setChecked(false);
    prompt.exec();
}

bool frmBrowser::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_client && event->type() == QEvent::Resize) {
        layoutAlignedControls();
        Form_Resize();
    }
    return QMainWindow::eventFilter(watched, event);
}

void frmBrowser::layoutAlignedControls()
{
    const int width = m_client->width();
    const int statusHeight = StatusBar1->sizeHint().expandedTo(StatusBar1->minimumSize()).height();
    StatusBar1->setGeometry(0, m_client->height() - statusHeight, width, statusHeight);
    // Last, since a change of the cool bar's height runs its own layout rule.
    CoolBar1->setGeometry(0, 0, width, CoolBar1->sizeHint().height());
}

void frmBrowser::Form_Resize()
{
    applyBrowserSize(resizeAllowance);
}

void frmBrowser::CoolBar1_HeightChanged()
{
    applyBrowserSize(0.0f);
}

void frmBrowser::applyBrowserSize(float allowanceTwips)
{
    const double dpi = Twips::logicalDpi(this);
    const auto twips = [dpi](int pixels) {
        return static_cast<float>(Twips::fromPixels(pixels, dpi));
    };
    const std::optional<float> height =
        browserHeightTwips(twips(m_client->height()), twips(CoolBar1->height()),
                           twips(StatusBar1->height()), allowanceTwips);
    const int newHeight = height ? Twips::toPixels(*height, dpi) : WebBrowser1->height();
    WebBrowser1->resize(m_client->width() - (search ? search->paneWidth() : 0), newHeight);
    if (search) {
        search->place();
    }
}

void frmBrowser::mnuCirculares_Click()
{
    frmActualiza updates(m_services, m_collection, this);
    updates.exec();
    // New circulars and an updated index show at once.
    if (updates.installed()) {
        notice->hide(); // what it announced may have come now; tomorrow's check tells again
        if (updates.openIndexRequested()) {
            WebBrowser1->Navigate2(programPath(UpdateContract::indexPage));
        } else {
            WebBrowser1->Refresh();
        }
        reindexCollection();
    }
}

void frmBrowser::mnuConfig_Click()
{
    frmProxyTest dialog(m_services.proxyStore, m_services.messages, this, &m_services.restart);
    dialog.exec();
}

void frmBrowser::mnuClose_Click()
{
    close();
}

void frmBrowser::closeEvent(QCloseEvent *event)
{
    // The place is kept only for a window the reader has seen.
    if (m_started && isVisible()) {
        m_services.placement.save(saveGeometry());
    }
    QMainWindow::closeEvent(event);
}

bool frmBrowser::restorePlacement()
{
    const QByteArray placement = m_services.placement.load();
    // restoreGeometry brings a window saved on a screen that is gone back onto this one.
    return !placement.isEmpty() && restoreGeometry(placement);
}

QString frmBrowser::statusText() const
{
    return m_statusPanel->text();
}
