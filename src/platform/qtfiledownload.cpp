#include "qtfiledownload.h"

#include "downloaddialog.h"

QtFileDownload::QtFileDownload(QWebEngineProfile *profile, DownloadFolderStore &folders)
    : m_profile(profile)
    , m_folders(folders)
{
}

void QtFileDownload::start(const QString &url)
{
    m_result = DownloadResult();
    const int generation = ++m_generation;
    auto *dialog = new DownloadDialog(url, m_profile, m_folders);
    QObject::connect(dialog, &DownloadDialog::ended, dialog,
                     [this, generation](const DownloadResult &result) {
                         if (generation == m_generation) {
                             m_result = result;
                         }
                     });
    dialog->show();
}
