#include "qtfiledownload.h"

#include "downloaddialog.h"

QtFileDownload::QtFileDownload(QWebEngineProfile *profile, DownloadFolderStore &folders,
                               int stallTimeoutMs)
    : m_profile(profile)
    , m_folders(folders)
    , m_stallTimeoutMs(stallTimeoutMs)
{
}

void QtFileDownload::start(const QString &url, std::optional<qint64> announcedBytes)
{
    m_result = DownloadResult();
    const int generation = ++m_generation;
    auto *dialog = new DownloadDialog(url, announcedBytes, m_profile, m_folders, m_stallTimeoutMs);
    QObject::connect(dialog, &DownloadDialog::ended, dialog,
                     [this, generation](const DownloadResult &result) {
                         if (generation == m_generation) {
                             m_result = result;
                         }
                     });
    dialog->show();
}
