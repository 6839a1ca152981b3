#pragma once

#include "filedownload.h"

#include <QPointer>

class DownloadDialog;
class DownloadFolderStore;
class QWebEngineProfile;

// Downloads through the browser's own profile, asking with a DownloadDialog.
class QtFileDownload final : public FileDownload {
public:
    QtFileDownload(QWebEngineProfile *profile, DownloadFolderStore &folders);

    void start(const QString &url) override;
    DownloadResult result() const override { return m_result; }

private:
    QWebEngineProfile *m_profile;
    DownloadFolderStore &m_folders;
    DownloadResult m_result;
    int m_generation = 0;
};
