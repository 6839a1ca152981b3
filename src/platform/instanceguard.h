#pragma once

// Tells whether another copy of the program already runs from the same folder.
class InstanceGuard {
public:
    virtual ~InstanceGuard() = default;

    // True when another running instance holds the program folder. The first
    // call that answers false makes this process the holder until it ends.
    virtual bool previousInstance() = 0;

    // Gives up the hold, so that a new instance (the program restarting
    // itself) can take it while this one ends.
    virtual void release() = 0;
};
