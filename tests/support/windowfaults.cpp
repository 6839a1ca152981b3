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

#include <algorithm>
#include <map>

namespace WindowFaults {

namespace {

QString pathOf(const QWidget *control, const QWidget *window)
{
    QStringList parts;
    for (const QWidget *w = control; w && w != window; w = w->parentWidget()) {
        parts.prepend(w->objectName().isEmpty() ? QLatin1String(w->metaObject()->className())
                                                : w->objectName());
    }
    return parts.join(u'/');
}

QString sizeText(const QSize &size)
{
    return QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
}

// The room a button's style leaves for its caption; none for tool buttons,
// which show their icons.
QRect captionRoom(const QAbstractButton *button)
{
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    QStyle::SubElement element = QStyle::SE_PushButtonContents;
    if (const auto *push = qobject_cast<const QPushButton *>(button)) {
        option.features.setFlag(QStyleOptionButton::AutoDefaultButton, push->autoDefault());
        option.features.setFlag(QStyleOptionButton::DefaultButton, push->isDefault());
        option.features.setFlag(QStyleOptionButton::Flat, push->isFlat());
    } else if (qobject_cast<const QCheckBox *>(button)) {
        element = QStyle::SE_CheckBoxContents;
    } else if (qobject_cast<const QRadioButton *>(button)) {
        element = QStyle::SE_RadioButtonContents;
    } else {
        return {};
    }
    return button->style()->subElementRect(element, &option, button);
}

// The room a control gives its text and what the text takes, both in the
// control's coordinates; a null room where there is no text to look at.
struct TextPlace {
    QRect room;
    QRect text;
};

TextPlace textPlace(const QWidget *control)
{
    const QFontMetrics metrics = control->fontMetrics();
    if (const auto *label = qobject_cast<const QLabel *>(control)) {
        if (label->text().isEmpty() || Qt::mightBeRichText(label->text())) {
            return {};
        }
        const int m = label->margin();
        const QRect room = label->contentsRect().adjusted(m, m, -m, -m);
        const int flags = int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0) |
                          (label->buddy() ? Qt::TextShowMnemonic : 0);
        return {room, metrics.boundingRect(room, flags, label->text())};
    }
    if (const auto *button = qobject_cast<const QAbstractButton *>(control)) {
        const QRect room = captionRoom(button);
        if (button->text().isEmpty() || room.isNull()) {
            return {};
        }
        // A caption that wraps needs its lines, and its longest word on one.
        const int flags = Qt::AlignCenter | Qt::TextShowMnemonic |
                          (button->inherits("WrappingButton") ? Qt::TextWordWrap : 0);
        return {room, metrics.boundingRect(room, flags, button->text())};
    }
    if (const auto *box = qobject_cast<const QLineEdit *>(control)) {
        const int frame =
            box->hasFrame() ? box->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, box)
                            : 0;
        const QRect room = box->rect().adjusted(frame, frame, -frame, -frame);
        const int line = metrics.height();
        return {room, QRect(room.left(), room.top() + (room.height() - line) / 2, 1, line)};
    }
    if (const auto *frame = qobject_cast<const QGroupBox *>(control)) {
        return {frame->rect(), QRect(0, 0, frame->minimumSizeHint().width(), 1)};
    }
    return {};
}

// Where a control shows anything: a label only where its text stands.
QRect shownArea(const QWidget *control)
{
    if (!qobject_cast<const QLabel *>(control) || textPlace(control).room.isNull()) {
        return control->geometry();
    }
    return textPlace(control).text.intersected(control->rect()).translated(control->pos());
}

// Clipped texts, overlaps and children that leave their parent, from parent down.
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
        const QWidget *control = shown[i];
        if (!parent->rect().contains(control->geometry())) {
            faults.append(
                QStringLiteral("%1 lies partly outside its parent").arg(pathOf(control, window)));
        }
        for (qsizetype j = i + 1; j < shown.size(); ++j) {
            if (shownArea(control).intersects(shownArea(shown[j]))) {
                faults.append(QStringLiteral("%1 and %2 overlap")
                                  .arg(pathOf(control, window), pathOf(shown[j], window)));
            }
        }
        const TextPlace text = textPlace(control);
        if (!text.room.isNull() && !text.room.contains(text.text)) {
            faults.append(QStringLiteral("%1: its text needs %2 px, has %3")
                              .arg(pathOf(control, window), sizeText(text.text.size()),
                                   sizeText(text.room.size())));
        }
        checkPlaces(control, window, faults);
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

bool takesTab(const QWidget *widget)
{
    return (widget->focusPolicy() & Qt::TabFocus) && !widget->focusProxy();
}

// The controls Tab (Shift+Tab) visits from the focus until it is back there;
// a null entry last when it never comes back.
QList<QWidget *> tabCycle(QWidget *window, bool backwards)
{
    QWidget *const start = QApplication::focusWidget();
    QList<QWidget *> visited{start};
    for (qsizetype step = 0; start && step < 2 * window->findChildren<QWidget *>().size(); ++step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab,
                        backwards ? Qt::ShiftModifier : Qt::NoModifier);
        if (QApplication::focusWidget() == start) {
            return visited;
        }
        visited.append(QApplication::focusWidget());
        if (!visited.last()) {
            break;
        }
    }
    visited.append(nullptr);
    return visited;
}

// Whether a reads before b: on a row above it, or on its row and to its left.
bool readsBefore(const QWidget *a, const QWidget *b, const QWidget *window)
{
    const QRect first(a->mapTo(window, QPoint()), a->size());
    const QRect second(b->mapTo(window, QPoint()), b->size());
    const auto within = [](const QRect &r, int y) { return r.top() <= y && y <= r.bottom(); };
    const bool sameRow = within(first, second.center().y()) || within(second, first.center().y());
    return sameRow ? first.left() < second.left() : first.top() < second.top();
}

} // namespace

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
        const QAccessibleInterface *spoken = QAccessible::queryAccessibleInterface(widget);
        if (takesTab(widget) && (!spoken || spoken->text(QAccessible::Name).trimmed().isEmpty())) {
            faults.append(pathOf(widget, window) +
                          QStringLiteral(" takes the focus but has no name"));
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
        const auto *label = qobject_cast<const QLabel *>(widget);
        const auto *button = qobject_cast<const QAbstractButton *>(widget);
        const QKeySequence key = QKeySequence::mnemonic(label && label->buddy() ? label->text()
                                                        : button                ? button->text()
                                                                                : QString());
        if (!key.isEmpty() && !widget->isWindow() && widget->isVisibleTo(window)) {
            keys.append({key, button ? widget : label->buddy(), button != nullptr, nullptr,
                         pathOf(widget, window)});
        }
    }
    const auto *main = qobject_cast<const QMainWindow *>(window);
    if (const auto *bar = main ? qobject_cast<const QMenuBar *>(main->menuWidget()) : nullptr) {
        const QList<QAction *> entries = bar->actions();
        for (QAction *entry : entries) {
            const QKeySequence key = QKeySequence::mnemonic(entry->text());
            if (!key.isEmpty() && entry->isVisible()) {
                keys.append({key, nullptr, false, entry,
                             QStringLiteral("menu ") + QString(entry->text()).remove(u'&')});
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

QStringList tab(QWidget *window, bool readingOrder)
{
    const QList<QWidget *> forward = tabCycle(window, false);
    QStringList visited;
    for (const QWidget *widget : forward) {
        visited.append(widget ? pathOf(widget, window) : QStringLiteral("(lost)"));
    }
    const QString walk = QStringLiteral("Tab: ") + visited.join(QStringLiteral(" > "));
    if (forward.contains(nullptr)) {
        return {walk + QStringLiteral(" never comes back")};
    }
    QStringList faults;
    const QList<QWidget *> widgets = window->findChildren<QWidget *>();
    for (const QWidget *widget : widgets) {
        const bool stop = !widget->isWindow() && widget->isVisibleTo(window) &&
                          widget->isEnabled() && takesTab(widget);
        if (forward.count(widget) != (stop ? 1 : 0)) {
            faults.append(walk + QStringLiteral(" visits %1 %2 times")
                                     .arg(pathOf(widget, window))
                                     .arg(forward.count(widget)));
        }
    }
    // From the control read first, each is read before the next.
    const qsizetype count = forward.size();
    const auto first = std::min_element(
        forward.cbegin(), forward.cend(),
        [window](const QWidget *a, const QWidget *b) { return readsBefore(a, b, window); });
    for (qsizetype step = 0; readingOrder && step + 1 < count; ++step) {
        const qsizetype at = (first - forward.cbegin() + step) % count;
        if (!readsBefore(forward[at], forward[(at + 1) % count], window)) {
            faults.append(walk + QStringLiteral(" goes from %1 back to %2")
                                     .arg(visited[at], visited[(at + 1) % count]));
            break;
        }
    }
    QList<QWidget *> backward = tabCycle(window, true);
    std::reverse(backward.begin() + 1, backward.end());
    if (backward != forward) {
        faults.append(walk + QStringLiteral(", but Shift+Tab does not walk it back"));
    }
    return faults;
}

} // namespace WindowFaults
