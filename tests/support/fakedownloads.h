#pragma once

#include "downloadfolderstore.h"
#include "filedownload.h"
#include "packageinstaller.h"

#include <QStringList>

#include <functional>
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
    void start(const QString &url, std::optional<qint64> announcedBytes) override
    {
        started.append(url);
        announced.append(announcedBytes);
    }
    DownloadResult result() const override { return answer; }
    QStringList started;
    QList<std::optional<qint64>> announced;
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
    using PackageInstaller::install;
    InstallOutcome install(const QString &packagePath, const QString &collectionFolder,
                           const PackageTrust &trust, const InstallWait &wait) override
    {
        calls.append({packagePath, collectionFolder, trust});
        // Another install holds the collection for busyPauses pauses of the wait.
        for (int pause = 0; pause < busyPauses; ++pause) {
            const bool goOn = wait && wait();
            if (whileWaiting) {
                whileWaiting();
            }
            if (!goOn) {
                return InstallOutcome{
                    false, false, 0, 0, QStringLiteral("ocupada"), QStringLiteral("ocupada")};
            }
        }
        return answer;
    }
    int busyPauses = 0;
    std::function<void()> whileWaiting; // called at each pause of the wait

    QList<Call> calls;
    InstallOutcome answer{
        true, false, 1, 1, {}, QStringLiteral("Se instaló 1 circular nueva en la colección.")};
};
