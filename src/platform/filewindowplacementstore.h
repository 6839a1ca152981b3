#pragma once

#include "windowplacementstore.h"

#include <QString>

// The placement in a small file of the user's data folder, written atomically. A file
// that is not one (too large, not a regular file) reads as no placement.
class FileWindowPlacementStore final : public WindowPlacementStore {
public:
    explicit FileWindowPlacementStore(const QString &path);

    // The file in the user's data folder.
    static QString defaultPath();

    QByteArray load() const override;
    bool save(const QByteArray &placement) override;

private:
    QString m_path;
};
