#pragma once

// Starts the program afresh: a new instance, and this one ends.
class ProgramRestart {
public:
    virtual ~ProgramRestart() = default;

    // Starts the new instance and asks this one to end; false when the new
    // one could not be started, and this one then goes on as before.
    virtual bool restart() = 0;
};
