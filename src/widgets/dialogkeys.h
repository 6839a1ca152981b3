#pragma once

#include <QObject>
#include <QPointer>

class QAbstractButton;
class QDialog;

// Escape and Enter in a dialog as on Windows:
// - Escape presses the dialog's cancel button, when it has one, and does
//   nothing else; a dialog without one stays open with what was typed.
// - Enter on a button that has the focus presses that button.
// - Enter in a multi-line text box presses the dialog's default button, when
//   it has one, instead of adding a line break.
// - Enter anywhere else is the toolkit's: it presses the default button, if
//   any, so a text box never presses a button that is not the default.
class DialogKeys final : public QObject {
    Q_OBJECT
public:
    // Watches dialog's keys from now on; the filter lives as long as the
    // dialog. Multi-line text boxes must exist already.
    static void install(QDialog *dialog, QAbstractButton *cancelButton = nullptr);

    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    DialogKeys(QDialog *dialog, QAbstractButton *cancelButton);

    QDialog *m_dialog;
    QPointer<QAbstractButton> m_cancel;
};
