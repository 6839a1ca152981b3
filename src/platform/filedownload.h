#pragma once

#include <QString>

// Starts the browser's interactive download of an address: a top-level dialog
// of the window class below, titled "File Download", appears at once and lets
// the user save the file into the default download folder or cancel; it shows
// the progress and closes itself when the download has ended.
class FileDownload {
public:
    virtual ~FileDownload() = default;

    virtual void start(const QString &url) = 0;
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
