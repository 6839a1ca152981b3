#pragma once

#include <QString>

// Reads and writes single values of an INI-style settings file the way the
// Windows profile functions do: names matched without regard to case, the
// default returned for a missing file, section or key, values replaced in place.
class ProfileFile {
public:
    virtual ~ProfileFile() = default;

    // The value stored under section/key in file, or defaultValue when there is
    // none; at most bufferSize - 1 characters come back, like a C buffer of that
    // size with room for its terminating zero.
    virtual QString getString(const QString &section, const QString &key,
                              const QString &defaultValue, int bufferSize,
                              const QString &file) const = 0;

    // What keeps the settings in file (or the user's own copy of them) from
    // being read, in Spanish, for the user: a folder, a named pipe or a device
    // in the file's place, or a file that cannot be read. Empty when nothing
    // does; a missing file is none of these, it holds no settings yet.
    virtual QString readProblem(const QString &file) const = 0;

    // Stores value under section/key in file, creating what is missing. Answers
    // false when the file could not be written.
    [[nodiscard]] virtual bool writeString(const QString &section, const QString &key,
                                           const QString &value, const QString &file) = 0;
};
