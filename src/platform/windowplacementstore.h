#pragma once

#include <QByteArray>

// Where the main window's size and place on the screen are kept for the user between
// runs.
class WindowPlacementStore {
public:
    virtual ~WindowPlacementStore() = default;

    // The placement last saved (QWidget::saveGeometry); empty when there is none.
    virtual QByteArray load() const = 0;
    // Keeps placement for the next run; false when it could not be kept.
    virtual bool save(const QByteArray &placement) = 0;
};
