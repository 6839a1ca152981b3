#pragma once

#include "profilefile.h"

#include <functional>

// The settings file on disk. Every call reads the file afresh, so a read always
// sees the last write. Only a regular file is read (a named pipe in its place
// would keep the read waiting for ever); anything else reads like a missing
// file, is never written, and readProblem says why. A write changes only the line it stores
// (profileformat.h has the text rules) and replaces the file atomically: the new text goes to a
// temporary file beside it, "<name>.tmp-XXXXXX", which is synced and renamed
// over the old one, so a failed or killed write leaves the old file whole. The
// writer holds a lock (flock) on its temporary file while it lives; a
// temporary file that nobody holds is what a killed write left behind, and the
// next write removes it. Writes into one folder take turns (a lock on the
// folder), so two writers of one file never undo each other's values.
//
// With a per-user overlay folder, a settings file that cannot be written where
// it lies (a program folder installed read-only, such as /opt/legisdisco) gets
// a per-user file instead that holds only what the user sets: the section
// `user`, the key `init`/`show` and the section `actualizacion` (the check for new
// circulars at start-up; isUserSetting). Reads of those take the
// per-user value where there is one and the installed file's otherwise; every
// other key always comes from the installed file, so what an administrator
// changes there reaches every user. Each file gets a per-user file of its own,
// named after its full path, so two program folders never share one. Files
// that can be written in place never get one.
class IniProfileFile final : public ProfileFile {
public:
    // Answers whether file can be replaced where it lies: its folder takes new
    // files and the file, when it exists, is writable.
    using InPlaceTest = std::function<bool(const QString &file)>;

    // Settings written in place only; a write that cannot be made fails.
    IniProfileFile() = default;
    // Settings that fall back to per-user copies in overlayFolder, which is
    // made when the first copy is written. canWriteInPlace defaults to
    // writableInPlace.
    explicit IniProfileFile(const QString &overlayFolder, InPlaceTest canWriteInPlace = {});

    QString readProblem(const QString &file) const override;
    QString getString(const QString &section, const QString &key, const QString &defaultValue,
                      int bufferSize, const QString &file) const override;
    bool writeString(const QString &section, const QString &key, const QString &value,
                     const QString &file) override;

    // The path of file's per-user copy (whether or not it exists yet); empty
    // without an overlay folder.
    QString overlayPath(const QString &file) const;

    // The file-system answer behind the default InPlaceTest.
    static bool writableInPlace(const QString &file);

    // Whether section/key is one the user sets and a per-user file holds.
    static bool isUserSetting(const QString &section, const QString &key);

private:
    QString m_overlayFolder;
    InPlaceTest m_canWriteInPlace;
};
