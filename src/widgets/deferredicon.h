#pragma once

#include <QIcon>
#include <QStyle>

class QWidget;

// A standard icon of widget's style (of the application's once widget is gone), looked up
// the first time it is drawn rather than when it is set. Looking an icon up in the
// desktop's icon theme takes milliseconds the first time; a window built before it is
// shown, or a bar that shows later or never, need not pay for it while it is built.
// Until it is drawn the icon counts as present (not null), as a standard icon is.
QIcon deferredStandardIcon(const QWidget *widget, QStyle::StandardPixmap which);
