#pragma once

#include "downloadfolderstore.h"
#include "filedownload.h"

#include <QStringList>

#include <optional>

class FakeDownloadFolderStore final : public DownloadFolderStore {
public:
    std::optional<QString> folder() const override { return stored; }
    bool setFolder(const QString &folder) override
    {
        writes.append(folder);
        if (refuse) {
            return false;
        }
        stored = folder;
        return true;
    }
    std::optional<QString> stored;
    QStringList writes;
    bool refuse = false;
};

// Records the addresses it is asked to download; opens no dialog.
class FakeFileDownload final : public FileDownload {
public:
    void start(const QString &url) override { started.append(url); }
    QStringList started;
};
