#include "windowfaults.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QToolButton>

#include <map>

namespace WindowFaults {

namespace {

QString describe(const QSize &size)
{
    return QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
}

// The room a button's style leaves for its caption.
QRect captionRoom(const QAbstractButton *button)
{
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    QStyle::SubElement element = QStyle::SE_PushButtonContents;
    if (const auto *push = qobject_cast<const QPushButton *>(button)) {
        if (push->autoDefault()) {
            option.features |= QStyleOptionButton::AutoDefaultButton;
        }
        if (push->isDefault()) {
            option.features |= QStyleOptionButton::DefaultButton;
        }
        if (push->isFlat()) {
            option.features |= QStyleOptionButton::Flat;
        }
    } else if (qobject_cast<const QCheckBox *>(button)) {
        element = QStyle::SE_CheckBoxContents;
    } else if (qobject_cast<const QRadioButton *>(button)) {
        element = QStyle::SE_RadioButtonContents;
    } else {
        return {}; // tool buttons show their icons
    }
    return button->style()->subElementRect(element, &option, button);
}

// What a control's text needs and what it has, when the text is clipped.
void checkText(const QWidget *control, const QWidget *window, QStringList &faults)
{
    const QFontMetrics metrics = control->fontMetrics();
    QSize needs;
    QSize has;
    if (const auto *label = qobject_cast<const QLabel *>(control)) {
        if (label->text().isEmpty() || Qt::mightBeRichText(label->text())) {
            return;
        }
        const int margin = label->margin();
        const QRect room = label->contentsRect().adjusted(margin, margin, -margin, -margin);
        const int flags = label->buddy() ? Qt::TextShowMnemonic : 0;
        needs = label->wordWrap() ? metrics
                                        .boundingRect(QRect(0, 0, room.width(), 1 << 20),
                                                      flags | Qt::TextWordWrap, label->text())
                                        .size()
                                  : metrics.size(flags, label->text());
        has = room.size();
    } else if (const auto *button = qobject_cast<const QAbstractButton *>(control)) {
        const QRect room = captionRoom(button);
        if (button->text().isEmpty() || room.isNull()) {
            return;
        }
        // A caption that wraps needs its lines, and its longest word on one.
        needs =
            button->inherits("WrappingButton")
                ? metrics
                      .boundingRect(room, Qt::AlignCenter | Qt::TextWordWrap | Qt::TextShowMnemonic,
                                    button->text())
                      .size()
                : metrics.size(Qt::TextShowMnemonic, button->text());
        has = room.size();
    } else if (const auto *box = qobject_cast<const QLineEdit *>(control)) {
        const int frame =
            box->hasFrame() ? box->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, box)
                            : 0;
        needs = QSize(0, metrics.height());
        has = QSize(box->width(), box->height() - 2 * frame);
    } else if (const auto *frame = qobject_cast<const QGroupBox *>(control)) {
        needs = QSize(frame->minimumSizeHint().width(), 0);
        has = frame->size();
    } else {
        return;
    }
    if (needs.width() > has.width() || needs.height() > has.height()) {
        faults.append(QStringLiteral("%1: its text needs %2 px, has %3")
                          .arg(pathOf(control, window), describe(needs), describe(has)));
    }
}

// Where a control shows anything: a label only where its text stands.
QRect shownArea(const QWidget *control)
{
    const auto *label = qobject_cast<const QLabel *>(control);
    if (!label || label->text().isEmpty() || Qt::mightBeRichText(label->text())) {
        return control->geometry();
    }
    const int margin = label->margin();
    const QRect room = label->contentsRect().adjusted(margin, margin, -margin, -margin);
    int flags = int(label->alignment()) | (label->buddy() ? Qt::TextShowMnemonic : 0);
    if (label->wordWrap()) {
        flags |= Qt::TextWordWrap;
    }
    return label->fontMetrics()
        .boundingRect(room, flags, label->text())
        .intersected(label->rect())
        .translated(label->pos());
}

// Overlaps among the visible children of parent, and children that leave it.
void checkPlaces(const QWidget *parent, const QWidget *window, QStringList &faults)
{
    QList<const QWidget *> shown;
    for (const QObject *child : parent->children()) {
        const auto *widget = qobject_cast<const QWidget *>(child);
        if (widget && !widget->isWindow() && widget->isVisibleTo(window) &&
            !widget->geometry().isEmpty()) {
            shown.append(widget);
        }
    }
    for (qsizetype i = 0; i < shown.size(); ++i) {
        const QRect place = shown[i]->geometry();
        if (!parent->rect().contains(place)) {
            faults.append(QStringLiteral("%1 lies partly outside its parent (%2 at %3,%4 in %5)")
                              .arg(pathOf(shown[i], window), describe(place.size()))
                              .arg(place.x())
                              .arg(place.y())
                              .arg(describe(parent->size())));
        }
        for (qsizetype j = i + 1; j < shown.size(); ++j) {
            if (shownArea(shown[i]).intersects(shownArea(shown[j]))) {
                faults.append(QStringLiteral("%1 and %2 overlap")
                                  .arg(pathOf(shown[i], window), pathOf(shown[j], window)));
            }
        }
        checkText(shown[i], window, faults);
        checkPlaces(shown[i], window, faults);
    }
}

// The part of Qt inside a control (a scroll area's viewport, a box's clear
// button) is the control's, not the window's.
bool isQtPart(const QWidget *widget)
{
    for (const QWidget *w = widget; w; w = w->parentWidget()) {
        if (w->objectName().startsWith(QLatin1String("qt_")) ||
            qobject_cast<const QLineEdit *>(w->parentWidget())) {
            return true;
        }
    }
    return false;
}

} // namespace

QString pathOf(const QWidget *control, const QWidget *window)
{
    QStringList parts;
    for (const QWidget *w = control; w && w != window; w = w->parentWidget()) {
        parts.prepend(w->objectName().isEmpty() ? QLatin1String(w->metaObject()->className())
                                                : w->objectName());
    }
    return parts.join(u'/');
}

QStringList layout(const QWidget *window)
{
    QStringList faults;
    checkPlaces(window, window, faults);
    return faults;
}

QStringList unnamed(const QWidget *window)
{
    QStringList faults;
    const QList<QWidget *> widgets = window->findChildren<QWidget *>();
    for (QWidget *widget : widgets) {
        if (widget->isWindow() || isQtPart(widget)) {
            continue;
        }
        if ((widget->focusPolicy() & Qt::TabFocus) && !widget->focusProxy()) {
            QAccessibleInterface *control = QAccessible::queryAccessibleInterface(widget);
            if (!control || control->text(QAccessible::Name).trimmed().isEmpty()) {
                faults.append(pathOf(widget, window) +
                              QStringLiteral(" takes the focus but has no name"));
            }
        }
        const auto *button = qobject_cast<const QAbstractButton *>(widget);
        const auto *tool = qobject_cast<const QToolButton *>(widget);
        const bool showsCaption =
            button && !button->text().isEmpty() &&
            !(tool && tool->toolButtonStyle() == Qt::ToolButtonIconOnly && !tool->icon().isNull());
        if (button && button->isVisibleTo(window) && !showsCaption && button->toolTip().isEmpty()) {
            faults.append(pathOf(widget, window) +
                          QStringLiteral(" shows no caption and has no tooltip"));
        }
    }
    return faults;
}

QList<AccessKey> accessKeys(const QWidget *window)
{
    QList<AccessKey> keys;
    const QList<QWidget *> widgets = window->findChildren<QWidget *>();
    for (QWidget *widget : widgets) {
        if (widget->isWindow() || !widget->isVisibleTo(window)) {
            continue;
        }
        if (const auto *label = qobject_cast<const QLabel *>(widget); label && label->buddy()) {
            const QKeySequence key = QKeySequence::mnemonic(label->text());
            if (!key.isEmpty()) {
                keys.append({key, label->buddy(), false, nullptr, pathOf(label, window)});
            }
        } else if (const auto *button = qobject_cast<const QAbstractButton *>(widget)) {
            const QKeySequence key = QKeySequence::mnemonic(button->text());
            if (!key.isEmpty()) {
                keys.append({key, widget, true, nullptr, pathOf(widget, window)});
            }
        }
    }
    if (const auto *main = qobject_cast<const QMainWindow *>(window)) {
        if (const auto *bar = qobject_cast<const QMenuBar *>(main->menuWidget())) {
            const QList<QAction *> entries = bar->actions();
            for (QAction *entry : entries) {
                const QKeySequence key = QKeySequence::mnemonic(entry->text());
                if (!key.isEmpty() && entry->isVisible()) {
                    keys.append({key, nullptr, false, entry,
                                 QStringLiteral("menu ") + QString(entry->text()).remove(u'&')});
                }
            }
        }
    }
    return keys;
}

QStringList sharedAccessKeys(const QWidget *window)
{
    QStringList faults;
    const auto report = [&faults](const QString &where, const std::map<QString, QStringList> &by) {
        for (const auto &[key, names] : by) {
            if (names.size() > 1) {
                faults.append(QStringLiteral("%1%2 for %3").arg(where, key, names.join(u", ")));
            }
        }
    };
    std::map<QString, QStringList> byKey;
    for (const AccessKey &key : accessKeys(window)) {
        byKey[key.key.toString()].append(key.name);
    }
    report(QString(), byKey);
    const QList<QMenu *> menus = window->findChildren<QMenu *>();
    for (const QMenu *menu : menus) {
        std::map<QString, QStringList> byLetter;
        const QList<QAction *> entries = menu->actions();
        for (const QAction *entry : entries) {
            const QKeySequence key = QKeySequence::mnemonic(entry->text());
            if (!entry->isSeparator() && entry->isVisible() && !key.isEmpty()) {
                byLetter[key.toString()].append(QString(entry->text()).remove(u'&'));
            }
        }
        report(QStringLiteral("menu %1: ").arg(QString(menu->title()).remove(u'&')), byLetter);
    }
    return faults;
}

QList<QWidget *> tabStops(const QWidget *window)
{
    QList<QWidget *> stops;
    const QList<QWidget *> widgets = window->findChildren<QWidget *>();
    for (QWidget *widget : widgets) {
        if (!widget->isWindow() && widget->isVisibleTo(window) && widget->isEnabled() &&
            (widget->focusPolicy() & Qt::TabFocus) && !widget->focusProxy()) {
            stops.append(widget);
        }
    }
    return stops;
}

QList<QWidget *> tabCycle(QWidget *window, bool backwards)
{
    QWidget *const start = QApplication::focusWidget();
    if (!start || start->window() != window) {
        return {};
    }
    QList<QWidget *> visited{start};
    const qsizetype limit = 2 * window->findChildren<QWidget *>().size();
    for (qsizetype step = 0; step < limit; ++step) {
        QWidget *focus = QApplication::focusWidget();
        if (!focus) {
            break;
        }
        QTest::keyClick(focus, Qt::Key_Tab, backwards ? Qt::ShiftModifier : Qt::NoModifier);
        if (QApplication::focusWidget() == start) {
            return visited;
        }
        visited.append(QApplication::focusWidget());
    }
    visited.append(nullptr); // the focus never came back
    return visited;
}

} // namespace WindowFaults
