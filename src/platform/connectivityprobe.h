#pragma once

// Asks the system whether an Internet connection can be attempted.
class ConnectivityProbe {
public:
    virtual ~ConnectivityProbe() = default;

    // 0 when a connection can be attempted, any other value when not.
    virtual int attemptConnect() = 0;
};
