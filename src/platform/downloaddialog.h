#pragma once

#include <QDialog>
#include <QUrl>

class DownloadFolderStore;
class QLabel;
class QProgressBar;
class QPushButton;
class QWebEngineDownloadRequest;
class QWebEnginePage;
class QWebEngineProfile;

// The dialog of one interactive download: names the file, saves it into the
// default download folder through the browser's profile or cancels, shows the
// progress and closes itself when the download has ended.
class DownloadDialog : public QDialog {
    Q_OBJECT
public:
    DownloadDialog(const QUrl &url, QWebEngineProfile *profile, DownloadFolderStore &folders);

    // The file name a download of url is saved under.
    static QString fileNameFor(const QUrl &url);

private:
    void save();
    void cancel();
    void onDownloadRequested(QWebEngineDownloadRequest *download);
    void onProgress();
    void onFinished();
    QString targetFolder() const;

    QUrl m_url;
    QWebEngineProfile *m_profile;
    DownloadFolderStore &m_folders;
    QWebEnginePage *m_page = nullptr;
    QWebEngineDownloadRequest *m_download = nullptr;
    bool m_waitingForRequest = false;
    QLabel *m_status;
    QProgressBar *m_progress;
    QPushButton *m_save;
    QPushButton *m_cancel;
};
