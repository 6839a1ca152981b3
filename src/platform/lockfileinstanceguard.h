#pragma once

#include "collectionid.h"
#include "instanceguard.h"

#include <QString>

// One lock file per collection in the user's runtime folder, locked with
// flock while the program runs. The kernel drops the lock when the process
// ends, however it ends, so no stale lock can keep the program from starting;
// what the file holds (the process id, for people who look) plays no part.
class LockFileInstanceGuard final : public InstanceGuard {
public:
    explicit LockFileInstanceGuard(const CollectionId &collection);
    ~LockFileInstanceGuard() override;
    LockFileInstanceGuard(const LockFileInstanceGuard &) = delete;
    LockFileInstanceGuard &operator=(const LockFileInstanceGuard &) = delete;

    bool previousInstance() override;
    void release() override;

    // Where the lock of collection lives.
    static QString lockPathFor(const CollectionId &collection);

private:
    CollectionId m_collection;
    int m_descriptor = -1;
};
