// The main window's quiet check for new circulars and its notice.
#include "frmbrowser.h"

#include "startupcheck.h"
#include "updatenotice.h"

#include <QStatusBar>
#include <QTimer>

#include <memory>
#include <utility>

namespace {
// The longest the check waits for the first page.
constexpr int firstPageWaitMilliseconds = 10000;
} // namespace

void frmBrowser::buildNotice()
{
    notice = new UpdateNotice(StatusBar1);
    StatusBar1->addPermanentWidget(notice);
    connect(notice, &UpdateNotice::openUpdates, this, &frmBrowser::mnuCirculares_Click);
    m_check = new StartupCheck(m_services, m_collection, this);
    connect(m_check, &StartupCheck::newCirculars, this, &frmBrowser::startupCheck_NewCirculars);
}

void frmBrowser::startQuietCheck()
{
    if (!m_checkAtStart) {
        return;
    }
    // Once the first page has completed, so that the check's settings reads and its request
    // take nothing from the start; a home page that never completes holds it back for a
    // while at most. The check itself waits for nothing.
    const auto begun = std::make_shared<bool>(false);
    const auto begin = [check = m_check, begun] {
        if (!std::exchange(*begun, true)) {
            check->start();
        }
    };
    connect(WebBrowser1, &WebBrowser::DocumentComplete, m_check, begin, Qt::SingleShotConnection);
    QTimer::singleShot(firstPageWaitMilliseconds, m_check, begin);
}

void frmBrowser::startupCheck_NewCirculars(const QStringList &numbers)
{
    notice->announce(int(numbers.size()));
}
