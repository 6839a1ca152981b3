#pragma once

#include "profilefile.h"

// The settings file on disk. Every call reads the file afresh, so a read always
// sees the last write. Files are written as UTF-8 (keeping a byte-order mark
// when the file had one) and replaced atomically, so a failed write leaves the
// old file whole.
class IniProfileFile final : public ProfileFile {
public:
    QString getString(const QString &section, const QString &key, const QString &defaultValue,
                      int bufferSize, const QString &file) const override;
    bool writeString(const QString &section, const QString &key, const QString &value,
                     const QString &file) override;
};
