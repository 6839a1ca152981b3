#pragma once

#include "connectivityprobe.h"

// Answers from the system's network reachability where a backend for it loads;
// otherwise from whether an interface other than loopback is up and running
// with an address that is not link-local.
class NetworkProbe final : public ConnectivityProbe {
public:
    int attemptConnect() override;

    // The fallback rule on its own: some non-loopback interface is up, running
    // and has an address beyond its link.
    static bool interfaceIsUp();
};
