#pragma once

#include <QString>

#include <optional>

// What became of the last download: the file saved, the user's cancel, or a
// failure with its reason in Spanish.
struct DownloadResult {
    enum class Status { Pending, Saved, Cancelled, Failed };
    Status status = Status::Pending;
    QString path;  // the file saved, when Saved
    QString error; // why not, when Failed
};

// Starts the browser's interactive download of an address: a top-level dialog
// of the window class below, titled "File Download", appears at once and lets
// the user save the file into the default download folder or cancel; it shows
// the progress and closes itself when the download has ended. The file is
// always saved as a new file (DownloadNames), never over an existing one. A
// download never brings more than the size its page announced
// (PackageSize::limit), nor starts without room for that size on the disk;
// either failure leaves no part of the file.
class FileDownload {
public:
    virtual ~FileDownload() = default;

    // announcedBytes: the size the page offering the file announced, if any.
    virtual void start(const QString &url, std::optional<qint64> announcedBytes) = 0;
    // The outcome of the download last started; Pending while its dialog is open.
    virtual DownloadResult result() const = 0;
};

namespace DownloadDialogWindow {
inline QString windowClass()
{
    return QStringLiteral("#32770");
}
inline QString title()
{
    return QStringLiteral("File Download");
}
} // namespace DownloadDialogWindow
