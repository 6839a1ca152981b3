#pragma once

#include <QString>

class QWidget;

enum class MessageIcon { Critical, Information, Exclamation };

// Modal message boxes.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;

    // A box with one OK button.
    virtual void show(QWidget *owner, const QString &text, MessageIcon icon,
                      const QString &title) = 0;

    // A question with the buttons Yes and No; true for Yes.
    virtual bool ask(QWidget *owner, const QString &text, const QString &title) = 0;
};
