#pragma once

#include "filedownload.h"

class DownloadFolderStore;
class QWebEngineProfile;

// Downloads through the browser's own profile, asking with a DownloadDialog.
class QtFileDownload final : public FileDownload {
public:
    QtFileDownload(QWebEngineProfile *profile, DownloadFolderStore &folders);

    void start(const QString &url) override;

private:
    QWebEngineProfile *m_profile;
    DownloadFolderStore &m_folders;
};
