#pragma once

#include "webbrowser.h"

class ConnectivityProbe;
class InstanceGuard;
class MessageBoxes;
class ProfileFile;
class Shell;

// The services of the host that the windows use, handed to each window by its
// constructor. main() wires the real ones; tests wire fakes.
struct PlatformServices {
    ProfileFile &profile;
    ConnectivityProbe &probe;
    Shell &shell;
    MessageBoxes &messages;
    InstanceGuard &instance;
    WebBrowserFactory newBrowser;
};
