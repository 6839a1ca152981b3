#pragma once

#include "webbrowser.h"

class ConnectivityProbe;
class DownloadFolderStore;
class FeatureModule;
class FileDownload;
class InstanceChannel;
class InstanceGuard;
class MessageBoxes;
class PackageInstaller;
class PdfDocuments;
class ProgramRestart;
class ProfileFile;
class ProxyStore;
class Shell;
class UpdateFeed;
class WindowPlacementStore;
class WindowService;

// The services of the host that the windows use, handed to each window by its
// constructor. main() wires the real ones; tests wire fakes.
struct PlatformServices {
    ProfileFile &profile;
    ConnectivityProbe &probe;
    Shell &shell;
    MessageBoxes &messages;
    InstanceGuard &instance;
    WebBrowserFactory newBrowser;
    DownloadFolderStore &downloadFolders;
    FileDownload &fileDownload;
    WindowService &windows;
    ProxyStore &proxyStore;
    PackageInstaller &packageInstaller;
    ProgramRestart &restart;
    InstanceChannel &instanceChannel;
    UpdateFeed &updateFeed;
    WindowPlacementStore &placement;
    PdfDocuments &pdf;
    // The code loaded on first use (the index of the collection).
    FeatureModule &features;
};
