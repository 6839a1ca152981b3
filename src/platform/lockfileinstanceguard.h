#pragma once

#include "instanceguard.h"

#include <QString>

// One lock file per program folder in the user's runtime folder, locked with
// flock while the program runs. The kernel drops the lock when the process
// ends, however it ends, so no stale lock can keep the program from starting;
// what the file holds (the process id, for people who look) plays no part.
class LockFileInstanceGuard final : public InstanceGuard {
public:
    explicit LockFileInstanceGuard(const QString &programFolder);
    ~LockFileInstanceGuard() override;
    LockFileInstanceGuard(const LockFileInstanceGuard &) = delete;
    LockFileInstanceGuard &operator=(const LockFileInstanceGuard &) = delete;

    bool previousInstance() override;
    void release() override;

    // Where the lock for programFolder lives.
    static QString lockPathFor(const QString &programFolder);

private:
    QString m_programFolder;
    int m_descriptor = -1;
};
