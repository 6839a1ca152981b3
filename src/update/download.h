#pragma once

#include "filedownload.h"

#include <QString>

#include <optional>

class DownloadFolderStore;
class FileDownload;
class WindowService;

// One download: the caption for the download dialog, the folder to preset as
// the default download folder, and the address of the file.
struct DownloadRequest {
    QString title;
    QString folder;
    QString url;
    // The size the page offering the file announced, if any: the most the download may bring.
    std::optional<qint64> announcedBytes = std::nullopt;
};

// text up to its first NUL character, or all of it.
QString TrimAtNull(const QString &text);

// The current default download folder; empty when it cannot be read.
QString GetDownloadDirectory(const DownloadFolderStore &store);
// Stores folder as the default download folder; true when stored.
bool SetDownloadDirectory(DownloadFolderStore &store, const QString &folder);

// Where the package of link is saved when the name is free: programFolder,
// then the text after the link's last "/" (all of it when it has none), query
// included, made safe by the download naming rule (DownloadNames::safeName).
QString packagePath(const QString &programFolder, const QString &link);

// The services a download goes through.
struct DownloadServices {
    DownloadFolderStore &folders;
    FileDownload &download;
    WindowService &windows;
};

// Presets the download folder (only when it differs, ignoring case), starts the
// interactive download, gives its dialog the request's title and waits, serving
// the windows, until the dialog has gone. Only http and https addresses are
// downloaded. Answers what became of the download: the file saved (always a
// new file, never one that was there), the user's cancel, or why it failed.
DownloadResult DownloadFile(DownloadServices services, const DownloadRequest &request);
