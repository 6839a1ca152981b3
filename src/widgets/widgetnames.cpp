#include "widgetnames.h"

#include <QLineEdit>
#include <QToolButton>

void enableNamedClearButton(QLineEdit *field)
{
    field->setClearButtonEnabled(true);
    // The button is the field's own tool button, made with the clear action.
    for (QToolButton *button : field->findChildren<QToolButton *>()) {
        if (button->accessibleName().isEmpty()) {
            button->setAccessibleName(QStringLiteral("Borrar el texto"));
        }
    }
}
