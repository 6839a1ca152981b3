// The main window as a browser: toolbar, address bar and the browser's events.
#include "frmbrowser.h"

#include "connectivityprobe.h"
#include "findbar.h"
#include "indexrefresh.h"
#include "messageboxes.h"
#include "readeraddress.h"
#include "searchtools.h"
#include "updatecontract.h"
#include "utility.h"
#include "windowtexts.h"
#include "zoomsteps.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QToolBar>
#include <QUrl>

namespace {
constexpr int keyEnter = 13;
} // namespace

void frmBrowser::connectBrowser()
{
    connect(txtURL, &QLineEdit::returnPressed, this, [this] { txtURL_KeyPress(keyEnter); });
    connect(WebBrowser1, &WebBrowser::BeforeNavigate2, this,
            &frmBrowser::WebBrowser1_BeforeNavigate2);
    connect(WebBrowser1, &WebBrowser::CommandStateChange, this,
            &frmBrowser::WebBrowser1_CommandStateChange);
    connect(WebBrowser1, &WebBrowser::DocumentComplete, this,
            &frmBrowser::WebBrowser1_DocumentComplete);
    connect(WebBrowser1, &WebBrowser::StatusTextChange, this,
            &frmBrowser::WebBrowser1_StatusTextChange);
}

void frmBrowser::buildKeys()
{
    const auto key = [this](const char *name, const QList<QKeySequence> &keys) {
        auto *action = new QAction(this);
        action->setObjectName(QLatin1String(name));
        action->setShortcuts(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
        return action;
    };
    keyAddress = key("keyAddress", {QKeySequence(Qt::CTRL | Qt::Key_L),
                                    QKeySequence(Qt::ALT | Qt::Key_D), QKeySequence(Qt::Key_F6)});
    keyBack = key("keyBack", {QKeySequence(Qt::ALT | Qt::Key_Left)});
    keyForward = key("keyForward", {QKeySequence(Qt::ALT | Qt::Key_Right)});
    keyRefresh = key("keyRefresh", {QKeySequence(Qt::Key_F5), QKeySequence(Qt::CTRL | Qt::Key_R)});
    keyStop = key("keyStop", {QKeySequence(Qt::Key_Escape)});
    keyHome = key("keyHome", {QKeySequence(Qt::ALT | Qt::Key_Home)});
    keyZoomIn = key("keyZoomIn",
                    {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal),
                     QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Plus)});
    keyZoomOut = key("keyZoomOut", {QKeySequence(Qt::CTRL | Qt::Key_Minus)});
    keyZoomReset = key("keyZoomReset", {QKeySequence(Qt::CTRL | Qt::Key_0)});

    connect(keyAddress, &QAction::triggered, this, [this] {
        txtURL->setFocus(Qt::ShortcutFocusReason);
        txtURL->selectAll();
    });
    // The keys act as the toolbar's buttons do.
    const QList<QAction *> buttons = Toolbar1->actions();
    connect(keyBack, &QAction::triggered, this, [this, buttons] {
        if (buttons.at(0)->isEnabled()) {
            Toolbar1_ButtonClick(buttons.at(0));
        }
    });
    connect(keyForward, &QAction::triggered, this, [this, buttons] {
        if (buttons.at(1)->isEnabled()) {
            Toolbar1_ButtonClick(buttons.at(1));
        }
    });
    connect(keyRefresh, &QAction::triggered, this,
            [this, buttons] { Toolbar1_ButtonClick(buttons.at(3)); });
    connect(keyHome, &QAction::triggered, this,
            [this, buttons] { Toolbar1_ButtonClick(buttons.at(4)); });
    connect(keyStop, &QAction::triggered, this, [this, buttons] {
        // Escape in the find bar closes the bar; anywhere else it stops loading.
        QWidget *focus = QApplication::focusWidget();
        if (search && focus && search->findBar->isAncestorOf(focus)) {
            search->findBar->closeBar();
            WebBrowser1->setFocus(Qt::OtherFocusReason);
            return;
        }
        Toolbar1_ButtonClick(buttons.at(2));
    });
    connect(keyZoomIn, &QAction::triggered, this,
            [this] { WebBrowser1->SetZoomFactor(zoomStep(WebBrowser1->ZoomFactor(), 1)); });
    connect(keyZoomOut, &QAction::triggered, this,
            [this] { WebBrowser1->SetZoomFactor(zoomStep(WebBrowser1->ZoomFactor(), -1)); });
    connect(keyZoomReset, &QAction::triggered, this,
            [this] { WebBrowser1->SetZoomFactor(zoomStep(WebBrowser1->ZoomFactor(), 0)); });
}

void frmBrowser::Toolbar1_ButtonClick(QAction *button)
{
    const QString key = button->data().toString();
    if (key == QLatin1String("back")) {
        WebBrowser1->GoBack();
    } else if (key == QLatin1String("fordward")) {
        WebBrowser1->GoForward();
    } else if (key == QLatin1String("stop")) {
        WebBrowser1->Stop();
    } else if (key == QLatin1String("refresh")) {
        WebBrowser1->Refresh();
    } else if (key == QLatin1String("home")) {
        WebBrowser1->Navigate2(programPath(QStringLiteral("pagina/maincd.htm")));
    }
}

void frmBrowser::txtURL_KeyPress(int keyAscii)
{
    if (keyAscii == keyEnter) {
        // "circulares/1001.pdf" and "1001" are the collection's document.
        WebBrowser1->Navigate(typedAddress(m_collection, txtURL->text()));
    }
}

void frmBrowser::WebBrowser1_BeforeNavigate2(const QString &address, bool *cancel)
{
    if (address.left(7) == QLatin1String("http://") && !IsConnected(m_services.probe)) {
        *cancel = true;
        // The engine is inside its navigation callback: the box waits for it to return.
        QMetaObject::invokeMethod(
            this, [this] { showCritical(QStringLiteral("Revise su conexión a Internet")); },
            Qt::QueuedConnection);
    }
    // A PDF document on the disk is saved as itself; one on the web cannot be saved here.
    const bool local = QDir::isAbsolutePath(address) || address.startsWith(QLatin1String("file:"));
    mnuSave->setEnabled(address.right(3) != QLatin1String("pdf") || local);
    // The reader opens the circular index: what it lists now counts as seen, so that the
    // next one marks only what arrives later.
    const QUrl url = QUrl::fromUserInput(address);
    if (!*cancel && url.isLocalFile() &&
        m_collection.relativePathOf(QDir::cleanPath(url.toLocalFile())) ==
            UpdateContract::indexPage) {
        markCircularsSeen(m_collection);
    }
}

void frmBrowser::WebBrowser1_CommandStateChange(int command, bool enable)
{
    const QList<QAction *> buttons = Toolbar1->actions();
    if (command == BrowserCommandState::Forward) {
        buttons.at(1)->setEnabled(enable);
    } else if (command == BrowserCommandState::Back) {
        buttons.at(0)->setEnabled(enable);
    }
}

void frmBrowser::WebBrowser1_DocumentComplete(const QString &address)
{
    txtURL->setText(address);
    m_shownAddress = address;
}

void frmBrowser::WebBrowser1_StatusTextChange(const QString &text)
{
    m_statusPanel->setText(text);
}

void frmBrowser::showCritical(const QString &text)
{
    m_services.messages.show(this, text, MessageIcon::Critical, WindowTexts::messageTitle());
}
