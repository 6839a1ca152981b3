// The main window's quiet check for new circulars and its notice.
#include "frmbrowser.h"

#include "startupcheck.h"
#include "updatenotice.h"

#include <QStatusBar>
#include <QTimer>

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
    // Once the event loop runs, so that the window is on the screen first; the check
    // itself waits for nothing.
    QTimer::singleShot(0, m_check, &StartupCheck::start);
}

void frmBrowser::startupCheck_NewCirculars(const QStringList &numbers)
{
    notice->announce(int(numbers.size()));
}
