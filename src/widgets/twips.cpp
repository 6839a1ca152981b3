#include "twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <cmath>

namespace Twips {

double logicalDpi(const QWidget *widget)
{
    if (widget) {
        return widget->logicalDpiY();
    }
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->logicalDotsPerInchY() : 96.0;
}

int toPixels(double twips, double dpi)
{
    return static_cast<int>(std::lround(twips * dpi / PerInch));
}

double fromPixels(int pixels, double dpi)
{
    return pixels * PerInch / dpi;
}

void place(QWidget *widget, int left, int top, int width, int height)
{
    const double dpi = logicalDpi(widget);
    widget->setGeometry(toPixels(left, dpi), toPixels(top, dpi), toPixels(width, dpi),
                        toPixels(height, dpi));
}

void setFixedClientSize(QWidget *window, int width, int height)
{
    const double dpi = logicalDpi(window);
    window->setFixedSize(toPixels(width, dpi), toPixels(height, dpi));
}

} // namespace Twips
