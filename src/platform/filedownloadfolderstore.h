#pragma once

#include "downloadfolderstore.h"

// Keeps the folder in a one-line UTF-8 file, replaced atomically.
class FileDownloadFolderStore final : public DownloadFolderStore {
public:
    // The store lives in file; the default is a file in the user's configuration folder.
    explicit FileDownloadFolderStore(const QString &file = defaultFile());

    std::optional<QString> folder() const override;
    bool setFolder(const QString &folder) override;

    static QString defaultFile();

private:
    QString m_file;
};
