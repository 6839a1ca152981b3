#pragma once

#include <QLatin1String>
#include <QString>

class QLineEdit;

// Gives widget the object name the code and the tests know it by, and hands it back.
template <typename W> W *named(W *widget, const char *name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

// A caption as assistive technologies read it: without the access-key marker.
inline QString spokenCaption(QString caption)
{
    return caption.remove(QLatin1Char('&'));
}

// Turns on field's button that clears its text, under a name a screen reader can say
// (the toolkit leaves it without one). The button shows only while the field holds text,
// and its icon comes from the icon theme, slow to look up the first time: it is made when
// the field first holds text, not while the window is built.
void enableNamedClearButton(QLineEdit *field);
