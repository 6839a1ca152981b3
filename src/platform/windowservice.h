#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

// A top-level window as the window service sees it: null once it is gone.
using WindowHandle = QPointer<QWidget>;

// Looks up, retitles and waits for top-level windows.
class WindowService {
public:
    virtual ~WindowService() = default;

    // The top-level window of windowClass whose title is exactly title, if any.
    virtual WindowHandle findWindow(const QString &windowClass, const QString &title) = 0;
    virtual void setWindowText(const WindowHandle &window, const QString &title) = 0;
    // True while window is still open.
    virtual bool isWindow(const WindowHandle &window) = 0;
    // Waits for ms milliseconds; with processEvents the user's input and the
    // windows are served meanwhile.
    virtual void sleep(int ms, bool processEvents) = 0;
};

// The window class of a top-level widget is kept in this dynamic property.
inline const char *windowClassProperty()
{
    return "windowClass";
}
