#pragma once

#include <QKeySequence>
#include <QList>
#include <QStringList>

class QAction;
class QWidget;

// What a user would find wrong in a shown window, one line per fault, each
// control named by its path from the window ("Frame2/txtHttp").
namespace WindowFaults {

// A caption or text that needs more room than its control gives it, two
// visible sibling controls that overlap, a control that lies partly outside
// its parent.
QStringList layout(const QWidget *window);

// A control that takes the keyboard focus but that assistive technologies
// cannot name (no name of its own, no caption, no label whose buddy it is),
// and a button that shows no caption and has no tooltip.
QStringList unnamed(const QWidget *window);

// One access key (Alt+letter) that two controls of the window answer to, or
// one letter that two entries of one menu answer to.
QStringList sharedAccessKeys(const QWidget *window);

// Tab, from the control with the focus, that misses a visible and enabled
// control, visits one twice, never comes back, or (with readingOrder) leaves
// the order controls read in, row by row from the top and left to right;
// Shift+Tab that does not walk the same way back.
QStringList tab(QWidget *window, bool readingOrder);

// What an access key of the window reaches: a button it presses, the control
// a label hands the focus to, or an entry of the menu bar.
struct AccessKey {
    QKeySequence key;
    QWidget *control = nullptr; // the button, or the label's buddy
    bool presses = false;       // true for a button
    QAction *menu = nullptr;    // the menu bar's entry
    QString name;               // as in the fault lists
};
QList<AccessKey> accessKeys(const QWidget *window);

} // namespace WindowFaults
