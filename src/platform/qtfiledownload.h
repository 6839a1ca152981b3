#pragma once

#include "filedownload.h"

class DownloadFolderStore;
class QWebEngineProfile;

// Downloads through the browser's own profile, asking with a DownloadDialog.
class QtFileDownload final : public FileDownload {
public:
    // A download that receives nothing for stallTimeoutMs has failed.
    QtFileDownload(QWebEngineProfile *profile, DownloadFolderStore &folders,
                   int stallTimeoutMs = 30000);

    void start(const QString &url, std::optional<qint64> announcedBytes) override;
    DownloadResult result() const override { return m_result; }

private:
    QWebEngineProfile *m_profile;
    DownloadFolderStore &m_folders;
    int m_stallTimeoutMs;
    DownloadResult m_result;
    int m_generation = 0;
};
