#pragma once

#include <QString>

class ConnectivityProbe;
class ProfileFile;

// The routines every window shares. They keep no state: each read opens the
// settings file afresh, so it sees the last write of any window.

// The value of section/key in the settings file, or defaultValue when the
// file, section or key is missing; a value longer than 254 characters comes
// back cut to its first 254.
QString ReadIniValue(const ProfileFile &profile, const QString &file, const QString &section,
                     const QString &key, const QString &defaultValue);

// Stores value under section/key; answers false when it could not be stored,
// which the caller tells the user.
[[nodiscard]] bool WriteIniValue(ProfileFile &profile, const QString &file, const QString &section,
                                 const QString &key, const QString &value);

// True when the system reports that an Internet connection can be attempted.
bool IsConnected(ConnectivityProbe &probe);

// The settings file of the collection in programFolder.
QString SettingsPath(const QString &programFolder);
