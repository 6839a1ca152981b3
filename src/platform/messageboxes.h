#pragma once

#include <QString>

class QWidget;

enum class MessageIcon { Critical, Information, Exclamation };

// Modal message boxes with one OK button.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;

    virtual void show(QWidget *owner, const QString &text, MessageIcon icon,
                      const QString &title) = 0;
};
