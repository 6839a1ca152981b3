#pragma once

#include "profilefile.h"

#include <functional>

// The settings file on disk. Every call reads the file afresh, so a read always
// sees the last write. Files are written as UTF-8 (keeping a byte-order mark
// when the file had one) and replaced atomically, so a failed write leaves the
// old file whole.
//
// With a per-user overlay folder, a settings file that cannot be written where
// it lies (a program folder installed read-only, such as /opt/legisdisco) is
// written to a per-user copy instead: the first write starts the copy from the
// installed file, and from then on reads and writes use the copy. Each file
// gets a copy of its own, named after its full path, so two program folders
// never share one. Files that can be written in place never get a copy.
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

    QString getString(const QString &section, const QString &key, const QString &defaultValue,
                      int bufferSize, const QString &file) const override;
    bool writeString(const QString &section, const QString &key, const QString &value,
                     const QString &file) override;

    // The path of file's per-user copy (whether or not it exists yet); empty
    // without an overlay folder.
    QString overlayPath(const QString &file) const;

    // The file-system answer behind the default InPlaceTest.
    static bool writableInPlace(const QString &file);

private:
    // The file that reads of file go to: its per-user copy once that exists.
    QString readPath(const QString &file) const;

    QString m_overlayFolder;
    InPlaceTest m_canWriteInPlace;
};
