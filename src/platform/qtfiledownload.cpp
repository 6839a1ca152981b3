#include "qtfiledownload.h"

#include "downloaddialog.h"

QtFileDownload::QtFileDownload(QWebEngineProfile *profile, DownloadFolderStore &folders)
    : m_profile(profile)
    , m_folders(folders)
{
}

void QtFileDownload::start(const QString &url)
{
    auto *dialog = new DownloadDialog(QUrl(url), m_profile, m_folders);
    dialog->show();
}
