#include "widgetnames.h"

#include <QLineEdit>
#include <QToolButton>

namespace {
void makeNamedClearButton(QLineEdit *field)
{
    field->setClearButtonEnabled(true);
    // The button is the field's own tool button, made with the clear action.
    for (QToolButton *button : field->findChildren<QToolButton *>()) {
        if (button->accessibleName().isEmpty()) {
            button->setAccessibleName(QStringLiteral("Borrar el texto"));
        }
    }
}
} // namespace

void enableNamedClearButton(QLineEdit *field)
{
    if (!field->text().isEmpty()) {
        makeNamedClearButton(field);
        return;
    }
    QObject::connect(
        field, &QLineEdit::textChanged, field, [field] { makeNamedClearButton(field); },
        Qt::SingleShotConnection);
}
