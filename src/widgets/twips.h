#pragma once

class QWidget;

// Window and control geometry is designed in twips, 1440 to the inch. These
// convert at the logical DPI of the screen the widget is on.
namespace Twips {
constexpr double PerInch = 1440.0;

double logicalDpi(const QWidget *widget);
int toPixels(double twips, double dpi);
double fromPixels(int pixels, double dpi);

// Places widget at a twips rectangle relative to its parent.
void place(QWidget *widget, int left, int top, int width, int height);
// Gives a window a fixed client area of the given twips size.
void setFixedClientSize(QWidget *window, int width, int height);
} // namespace Twips
