#include "dialogkeys.h"

#include <QAbstractButton>
#include <QDialog>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextEdit>

namespace {

bool isEnter(const QKeyEvent *key)
{
    return (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
           (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

bool isEscape(const QKeyEvent *key)
{
    return key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier;
}

QPushButton *defaultButton(const QDialog *dialog)
{
    const auto buttons = dialog->findChildren<QPushButton *>();
    for (QPushButton *button : buttons) {
        if (button->isDefault() && button->isVisible())
            return button;
    }
    return nullptr;
}

void press(QAbstractButton *button)
{
    if (button && button->isEnabled() && button->isVisible())
        button->click();
}

} // namespace

DialogKeys::DialogKeys(QDialog *dialog, QAbstractButton *cancelButton)
    : QObject(dialog)
    , m_dialog(dialog)
    , m_cancel(cancelButton)
{
}

void DialogKeys::install(QDialog *dialog, QAbstractButton *cancelButton)
{
    auto *keys = new DialogKeys(dialog, cancelButton);
    dialog->installEventFilter(keys);
    // Multi-line boxes take Enter for themselves before the dialog sees it.
    for (QPlainTextEdit *box : dialog->findChildren<QPlainTextEdit *>())
        box->installEventFilter(keys);
    for (QTextEdit *box : dialog->findChildren<QTextEdit *>())
        box->installEventFilter(keys);
}

bool DialogKeys::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    const auto *key = static_cast<QKeyEvent *>(event);
    if (watched != m_dialog) {
        // A multi-line text box.
        if (!isEnter(key))
            return false;
        if (QPushButton *button = defaultButton(m_dialog)) {
            press(button);
            return true;
        }
        return false;
    }
    // What reaches the dialog is what the focused control left alone.
    if (isEscape(key)) {
        press(m_cancel);
        return true;
    }
    if (isEnter(key)) {
        if (auto *button = qobject_cast<QAbstractButton *>(m_dialog->focusWidget());
            button && qobject_cast<QPushButton *>(button)) {
            press(button);
            return true;
        }
    }
    return false;
}
