#pragma once

// Tells whether another copy of the program already runs from the same folder.
class InstanceGuard {
public:
    virtual ~InstanceGuard() = default;

    // True when another running instance holds the program folder. The first
    // call that answers false makes this process the holder until it ends.
    virtual bool previousInstance() = 0;
};
