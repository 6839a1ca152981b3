#include "downloaddialog.h"

#include "downloadfolderstore.h"
#include "filedownload.h"
#include "windowservice.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <QWebEngineDownloadRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>

DownloadDialog::DownloadDialog(const QUrl &url, QWebEngineProfile *profile,
                               DownloadFolderStore &folders)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint)
    , m_url(url)
    , m_profile(profile)
    , m_folders(folders)
    , m_status(new QLabel(this))
    , m_progress(new QProgressBar(this))
    , m_save(new QPushButton(QStringLiteral("&Guardar"), this))
    , m_cancel(new QPushButton(QStringLiteral("Cancelar"), this))
{
    setObjectName(QStringLiteral("downloadDialog"));
    setProperty(windowClassProperty(), DownloadDialogWindow::windowClass());
    setWindowTitle(DownloadDialogWindow::title());
    setAttribute(Qt::WA_DeleteOnClose);
    // No other window acts while the download is decided and runs.
    setWindowModality(Qt::ApplicationModal);

    auto *question =
        new QLabel(QStringLiteral("¿Desea guardar este archivo?\n\nNombre: %1\nDe: %2\nEn: %3")
                       .arg(fileNameFor(url), url.host(), QDir::toNativeSeparators(targetFolder())),
                   this);
    question->setObjectName(QStringLiteral("question"));
    m_status->setObjectName(QStringLiteral("status"));
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setRange(0, 0);
    m_progress->setVisible(false);
    m_save->setObjectName(QStringLiteral("saveButton"));
    m_cancel->setObjectName(QStringLiteral("cancelButton"));
    m_save->setDefault(true);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_save);
    buttons->addWidget(m_cancel);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(question);
    layout->addWidget(m_progress);
    layout->addWidget(m_status);
    layout->addLayout(buttons);
    setMinimumWidth(420);

    connect(m_save, &QPushButton::clicked, this, &DownloadDialog::save);
    connect(m_cancel, &QPushButton::clicked, this, &DownloadDialog::cancel);
    connect(this, &QDialog::rejected, this, [this] {
        if (m_download && !m_download->isFinished()) {
            m_download->cancel();
        }
    });
    connect(m_profile, &QWebEngineProfile::downloadRequested, this,
            &DownloadDialog::onDownloadRequested);
}

QString DownloadDialog::fileNameFor(const QUrl &url)
{
    const QString name = url.fileName();
    return name.isEmpty() ? QStringLiteral("descarga") : name;
}

QString DownloadDialog::targetFolder() const
{
    const std::optional<QString> folder = m_folders.folder();
    if (folder && !folder->isEmpty() && QFileInfo(*folder).isDir()) {
        return *folder;
    }
    return QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
}

void DownloadDialog::save()
{
    m_save->setEnabled(false);
    m_progress->setVisible(true);
    m_status->setText(QStringLiteral("Conectando..."));
    m_waitingForRequest = true;
    m_page = new QWebEnginePage(m_profile, this);
    m_page->download(m_url, fileNameFor(m_url));
}

void DownloadDialog::cancel()
{
    reject();
}

void DownloadDialog::onDownloadRequested(QWebEngineDownloadRequest *download)
{
    if (!m_waitingForRequest || m_download) {
        return;
    }
    m_waitingForRequest = false;
    m_download = download;
    download->setDownloadDirectory(targetFolder());
    download->setDownloadFileName(fileNameFor(m_url));
    connect(download, &QWebEngineDownloadRequest::receivedBytesChanged, this,
            &DownloadDialog::onProgress);
    connect(download, &QWebEngineDownloadRequest::isFinishedChanged, this,
            &DownloadDialog::onFinished);
    download->accept();
}

void DownloadDialog::onProgress()
{
    const qint64 total = m_download->totalBytes();
    const qint64 received = m_download->receivedBytes();
    if (total > 0) {
        m_progress->setRange(0, 1000);
        m_progress->setValue(static_cast<int>(received * 1000 / total));
    }
    m_status->setText(QStringLiteral("%1 KB recibidos").arg(received / 1024));
}

void DownloadDialog::onFinished()
{
    if (m_download->state() == QWebEngineDownloadRequest::DownloadCompleted) {
        accept();
    } else {
        reject();
    }
}
