#pragma once

#include <QString>

#include <optional>

// The user's default folder for the browser's downloads, kept per user.
class DownloadFolderStore {
public:
    virtual ~DownloadFolderStore() = default;

    // The stored folder; nothing when no folder is stored or the store cannot be read.
    virtual std::optional<QString> folder() const = 0;
    // Stores folder; false when it could not be stored.
    virtual bool setFolder(const QString &folder) = 0;
};
