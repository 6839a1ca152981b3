#include "qtwindowservice.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QThread>

WindowHandle QtWindowService::findWindow(const QString &windowClass, const QString &title)
{
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (window->property(windowClassProperty()).toString() == windowClass &&
            window->windowTitle() == title) {
            return window;
        }
    }
    return nullptr;
}

void QtWindowService::setWindowText(const WindowHandle &window, const QString &title)
{
    if (window) {
        window->setWindowTitle(title);
    }
}

bool QtWindowService::isWindow(const WindowHandle &window)
{
    // A closed window counts as gone even before Qt has deleted it.
    return !window.isNull() && window->isVisible();
}

void QtWindowService::sleep(int ms, bool processEvents)
{
    if (!processEvents) {
        QThread::msleep(static_cast<unsigned long>(ms));
        return;
    }
    // Serves the windows for the whole wait instead of freezing them and then
    // catching up.
    const QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(
            QEventLoop::AllEvents, static_cast<int>(qMax<qint64>(1, deadline.remainingTime())));
        if (!deadline.hasExpired()) {
            QThread::msleep(1);
        }
    }
}
