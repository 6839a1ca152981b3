#include "placement.h"

#include <QScreen>
#include <QWidget>

namespace Placement {

void centerOnScreen(QWidget *window)
{
    if (const QScreen *screen = window->screen()) {
        QRect frame = window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
}

void centerOnOwner(QWidget *window)
{
    const QWidget *owner = window->parentWidget() ? window->parentWidget()->window() : nullptr;
    if (!owner || !owner->isVisible()) {
        centerOnScreen(window);
        return;
    }
    QRect frame = window->frameGeometry();
    frame.moveCenter(owner->frameGeometry().center());
    window->move(frame.topLeft());
}

} // namespace Placement
