// The main window as a browser: toolbar, address bar and the browser's events.
#include "frmbrowser.h"

#include "connectivityprobe.h"
#include "indexrefresh.h"
#include "messageboxes.h"
#include "updatecontract.h"
#include "utility.h"
#include "windowtexts.h"

#include <QAction>
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
        WebBrowser1->Navigate(txtURL->text());
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
    mnuSave->setEnabled(address.right(3) != QLatin1String("pdf"));
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
}

void frmBrowser::WebBrowser1_StatusTextChange(const QString &text)
{
    m_statusPanel->setText(text);
}

void frmBrowser::showCritical(const QString &text)
{
    m_services.messages.show(this, text, MessageIcon::Critical, WindowTexts::messageTitle());
}
