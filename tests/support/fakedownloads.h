#pragma once

#include "downloadfolderstore.h"
#include "filedownload.h"
#include "packageinstaller.h"

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

// Records the addresses it is asked to download and answers with the result
// set beforehand; opens no dialog.
class FakeFileDownload final : public FileDownload {
public:
    void start(const QString &url) override { started.append(url); }
    DownloadResult result() const override { return answer; }
    QStringList started;
    DownloadResult answer{DownloadResult::Status::Cancelled, {}, {}};
};

// Records the packages it is asked to install and answers with the outcome set
// beforehand; installs nothing.
class FakePackageInstaller final : public PackageInstaller {
public:
    struct Call {
        QString package;
        QString folder;
        PackageTrust trust;
    };
    InstallOutcome install(const QString &packagePath, const QString &collectionFolder,
                           const PackageTrust &trust) override
    {
        calls.append({packagePath, collectionFolder, trust});
        return answer;
    }
    QList<Call> calls;
    InstallOutcome answer{
        true, false, 1, 1, {}, QStringLiteral("Se instaló 1 circular nueva en la colección.")};
};
