#include "utility.h"

#include "connectivityprobe.h"
#include "profilefile.h"

#include <QDir>

namespace {
// The size of the buffer handed to the profile reader, one character of which
// goes to the terminating zero.
constexpr int ReadBufferSize = 255;
} // namespace

QString ReadIniValue(const ProfileFile &profile, const QString &file, const QString &section,
                     const QString &key, const QString &defaultValue)
{
    return profile.getString(section, key, defaultValue, ReadBufferSize, file);
}

bool WriteIniValue(ProfileFile &profile, const QString &file, const QString &section,
                   const QString &key, const QString &value)
{
    return profile.writeString(section, key, value, file);
}

bool IsConnected(ConnectivityProbe &probe)
{
    return probe.attemptConnect() == 0;
}

QString SettingsPath(const QString &programFolder)
{
    return QDir(programFolder).filePath(QStringLiteral("legisdis.ini"));
}
