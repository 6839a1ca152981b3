#pragma once

#include "instanceguard.h"

#include <QLockFile>
#include <QString>

#include <memory>

// One lock file per program folder in the user's runtime folder. Qt removes a
// lock whose process has died, so a crash never blocks the next start.
class LockFileInstanceGuard final : public InstanceGuard {
public:
    explicit LockFileInstanceGuard(const QString &programFolder);

    bool previousInstance() override;

    // Where the lock for programFolder lives.
    static QString lockPathFor(const QString &programFolder);

private:
    QString m_programFolder;
    std::unique_ptr<QLockFile> m_lock;
};
