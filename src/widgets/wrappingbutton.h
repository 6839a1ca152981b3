#pragma once

#include <QPushButton>

// A push button whose caption wraps onto several lines when it is wider than
// the button, as captions of buttons laid out in twips are expected to.
class WrappingButton : public QPushButton {
    Q_OBJECT
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent *event) override;
};
