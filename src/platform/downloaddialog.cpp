#include "downloaddialog.h"

#include "downloadfolderstore.h"
#include "downloadnames.h"
#include "packagesize.h"
#include "windowservice.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QVBoxLayout>
#include <QWebEngineDownloadRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>

#include <algorithm>

namespace {
// How long the server may take to start sending the file.
constexpr int answerTimeoutMs = 60000;

QString interruptionText(QWebEngineDownloadRequest::DownloadInterruptReason reason)
{
    using R = QWebEngineDownloadRequest;
    switch (reason) {
    case R::FileNoSpace:
        return QStringLiteral("no hay espacio libre suficiente en el disco");
    case R::FileAccessDenied:
    case R::FileFailed:
    case R::FileNameTooLong:
    case R::FileTooLarge:
    case R::FileTransientError:
    case R::FileBlocked:
        return QStringLiteral("no se pudo guardar el archivo en la carpeta de la colección");
    case R::NetworkFailed:
    case R::NetworkTimeout:
    case R::NetworkDisconnected:
    case R::NetworkServerDown:
    case R::FileTooShort:
        return QStringLiteral("se cortó la conexión con el servidor durante la descarga");
    case R::ServerFailed:
    case R::ServerBadContent:
    case R::ServerUnauthorized:
    case R::ServerForbidden:
    case R::ServerUnreachable:
    case R::NetworkInvalidRequest:
        return QStringLiteral("el servidor no entregó el paquete (respondió con un error)");
    default:
        return QStringLiteral("la descarga no se completó");
    }
}
} // namespace

DownloadDialog::DownloadDialog(const QString &link, std::optional<qint64> announcedBytes,
                               QWebEngineProfile *profile, DownloadFolderStore &folders,
                               int stallTimeoutMs)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint)
    , m_url(link)
    , m_name(DownloadNames::safeName(link))
    , m_announced(announcedBytes)
    , m_limit(PackageSize::limit(announcedBytes))
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
                       .arg(m_name, m_url.host(), QDir::toNativeSeparators(targetFolder())),
                   this);
    question->setObjectName(QStringLiteral("question"));
    question->setTextFormat(Qt::PlainText);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setTextFormat(Qt::PlainText);
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

    m_noAnswer.setSingleShot(true);
    m_noAnswer.setInterval(answerTimeoutMs);
    connect(&m_noAnswer, &QTimer::timeout, this,
            [this] { fail(QStringLiteral("el servidor no respondió")); });
    // The engine retries a dropped connection on its own, for as long as it
    // likes; a download that has received nothing for a while has failed.
    m_stalled.setSingleShot(true);
    m_stalled.setInterval(stallTimeoutMs);
    connect(&m_stalled, &QTimer::timeout, this, [this] {
        fail(QStringLiteral("se cortó la conexión con el servidor durante la descarga"));
    });
    // The engine reports progress about once a second; from a near server that is hundreds
    // of megabytes, so the file it writes is measured in between as well.
    m_growth.setInterval(50);
    connect(&m_growth, &QTimer::timeout, this, [this] {
        if (broughtSoFar() > m_limit) {
            failTooLarge();
        }
    });
    connect(m_save, &QPushButton::clicked, this, &DownloadDialog::save);
    connect(m_cancel, &QPushButton::clicked, this, &DownloadDialog::reject);
    connect(m_profile, &QWebEngineProfile::downloadRequested, this,
            &DownloadDialog::onDownloadRequested);
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
    const QString folder = targetFolder();
    const QFileInfo info(folder);
    if (!info.isDir() || !info.isWritable()) {
        fail(QStringLiteral("no se puede guardar en la carpeta %1")
                 .arg(QDir::toNativeSeparators(folder)));
        return;
    }
    if (m_announced && !roomFor(*m_announced)) {
        return;
    }
    m_path = DownloadNames::freshPath(folder, m_name);
    if (m_path.isEmpty()) {
        fail(QStringLiteral("no se encontró un nombre libre para el archivo"));
        return;
    }
    m_save->setEnabled(false);
    m_progress->setVisible(true);
    m_status->setText(QStringLiteral("Conectando..."));
    m_page = new QWebEnginePage(m_profile, this);
    m_noAnswer.start();
    m_page->download(m_url, QFileInfo(m_path).fileName());
}

void DownloadDialog::onDownloadRequested(QWebEngineDownloadRequest *download)
{
    // Only the download this dialog asked for: other pages' downloads are not ours.
    if (!m_page || m_download || download->page() != m_page) {
        return;
    }
    m_noAnswer.stop();
    m_download = download;
    const QFileInfo target(m_path);
    download->setDownloadDirectory(target.absolutePath());
    download->setDownloadFileName(target.fileName());
    connect(download, &QWebEngineDownloadRequest::receivedBytesChanged, this,
            &DownloadDialog::onProgress);
    connect(download, &QWebEngineDownloadRequest::stateChanged, this,
            &DownloadDialog::onStateChanged);
    // A size the server declares for the file is judged before anything is written.
    if (const qint64 total = download->totalBytes(); total > 0) {
        if (total > m_limit) {
            download->cancel();
            failTooLarge();
            return;
        }
        if (!roomFor(total)) {
            download->cancel();
            return;
        }
    }
    download->accept();
    m_stalled.start();
    m_growth.start();
}

qint64 DownloadDialog::broughtSoFar() const
{
    qint64 most = m_download ? m_download->receivedBytes() : 0;
    // The engine writes under a name of its own until the download is complete.
    for (const QString &path :
         {m_path, m_path + QStringLiteral(".download"), m_path + QStringLiteral(".crdownload")}) {
        most = std::max(most, QFileInfo(path).size());
    }
    return most;
}

bool DownloadDialog::roomFor(qint64 bytes)
{
    const QStorageInfo disk(m_path.isEmpty() ? targetFolder() : QFileInfo(m_path).absolutePath());
    if (disk.isValid() && disk.bytesAvailable() >= bytes) {
        return true;
    }
    fail(QStringLiteral("no hay espacio libre suficiente en el disco para el paquete (se "
                        "necesitan %1 MB)")
             .arg((bytes + (1024 * 1024 - 1)) / (1024 * 1024)));
    return false;
}

void DownloadDialog::failTooLarge()
{
    fail(m_announced ? QStringLiteral("el paquete es más grande de lo que anunció el servidor")
                     : QStringLiteral("el paquete supera los %1 GB que admite una descarga")
                           .arg(PackageSize::unannouncedLimit >> 30));
}

void DownloadDialog::onProgress()
{
    m_stalled.start();
    const qint64 total = m_download->totalBytes();
    const qint64 received = m_download->receivedBytes();
    // A server that sends more than it announced (or without end) is stopped there.
    if (received > m_limit) {
        failTooLarge();
        return;
    }
    if (total > 0) {
        m_progress->setRange(0, 1000);
        m_progress->setValue(static_cast<int>(received * 1000 / total));
    }
    m_status->setText(QStringLiteral("%1 KB recibidos").arg(received / 1024));
}

void DownloadDialog::onStateChanged()
{
    switch (m_download->state()) {
    case QWebEngineDownloadRequest::DownloadCompleted:
        m_result.status = DownloadResult::Status::Saved;
        m_result.path =
            QDir(m_download->downloadDirectory()).filePath(m_download->downloadFileName());
        accept();
        break;
    case QWebEngineDownloadRequest::DownloadInterrupted:
        fail(interruptionText(m_download->interruptReason()));
        break;
    case QWebEngineDownloadRequest::DownloadCancelled:
        reject();
        break;
    default:
        break;
    }
}

void DownloadDialog::fail(const QString &error)
{
    m_result.status = DownloadResult::Status::Failed;
    m_result.error = error;
    reject();
}

void DownloadDialog::done(int result)
{
    m_noAnswer.stop();
    m_stalled.stop();
    m_growth.stop();
    if (m_download) {
        // What the engine still reports of the download is not this dialog's any more.
        disconnect(m_download, nullptr, this, nullptr);
        if (!m_download->isFinished()) {
            m_download->cancel();
        }
    }
    if (m_result.status == DownloadResult::Status::Pending) {
        m_result.status = DownloadResult::Status::Cancelled;
    }
    // A download that did not end well leaves no part of its file behind.
    if (m_result.status != DownloadResult::Status::Saved && !m_path.isEmpty()) {
        QFile::remove(m_path);
    }
    emit ended(m_result);
    QDialog::done(result);
}
