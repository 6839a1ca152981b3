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

    // A box with an OK button and a second one captioned action; true when the reader
    // chose action.
    virtual bool offer(QWidget *owner, const QString &text, MessageIcon icon, const QString &title,
                       const QString &action) = 0;

    // A question with the buttons Yes and No; true for Yes.
    virtual bool ask(QWidget *owner, const QString &text, const QString &title) = 0;
};
