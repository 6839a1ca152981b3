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

// What an access key of the window reaches: a button it presses, the control
// a label hands the focus to, or a menu of the menu bar it opens.
struct AccessKey {
    QKeySequence key;
    QWidget *control = nullptr; // the button, or the label's buddy
    bool presses = false;       // true for a button
    QAction *menu = nullptr;    // the menu bar's entry
    QString name;               // as in the fault lists
};
QList<AccessKey> accessKeys(const QWidget *window);

// The controls Tab (Shift+Tab when backwards) visits, starting from the one
// with the focus, until the focus is back there; the walk gives up after
// twice as many steps as the window has controls.
QList<QWidget *> tabCycle(QWidget *window, bool backwards = false);

// Every control of the window that Tab should reach: visible, enabled and
// taking the focus from the keyboard.
QList<QWidget *> tabStops(const QWidget *window);

// The name a control goes by in the fault lists.
QString pathOf(const QWidget *control, const QWidget *window);

} // namespace WindowFaults
