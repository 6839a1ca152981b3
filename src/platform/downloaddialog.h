#pragma once

#include "filedownload.h"

#include <QDialog>
#include <QTimer>
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
// progress and closes itself when the download has ended, saying in ended()
// what became of it. Cancel works at every moment.
class DownloadDialog : public QDialog {
    Q_OBJECT
public:
    // A download that receives nothing for stallTimeoutMs is taken for a
    // dropped connection and ends; one that brings more than announcedBytes
    // (or, without it, PackageSize::unannouncedLimit) ends as failed.
    DownloadDialog(const QString &link, std::optional<qint64> announcedBytes,
                   QWebEngineProfile *profile, DownloadFolderStore &folders, int stallTimeoutMs);

signals:
    void ended(const DownloadResult &result);

protected:
    void done(int result) override;

private:
    void save();
    void onDownloadRequested(QWebEngineDownloadRequest *download);
    void onProgress();
    void onStateChanged();
    void fail(const QString &error);
    QString targetFolder() const;
    // Whether bytes more fit on the disk of the target folder; fails the download when not.
    bool roomFor(qint64 bytes);
    void failTooLarge();
    // The most the download has brought so far, by the engine's word or by the disk's.
    qint64 broughtSoFar() const;

    QUrl m_url;
    QString m_name;
    std::optional<qint64> m_announced;
    qint64 m_limit;
    QWebEngineProfile *m_profile;
    DownloadFolderStore &m_folders;
    QWebEnginePage *m_page = nullptr;
    QWebEngineDownloadRequest *m_download = nullptr;
    QString m_path;
    DownloadResult m_result;
    QTimer m_noAnswer;
    QTimer m_stalled;
    // Watches the size of the file on the disk between the engine's reports.
    QTimer m_growth;
    QLabel *m_status;
    QProgressBar *m_progress;
    QPushButton *m_save;
    QPushButton *m_cancel;
};
