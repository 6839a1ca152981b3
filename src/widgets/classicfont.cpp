#include "classicfont.h"

#include <QApplication>
#include <QFont>

void useClassicDialogFont()
{
    const QString family = QStringLiteral("MS Sans Serif");
    QFont::insertSubstitutions(family, {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                                        QStringLiteral("Arial"), QStringLiteral("DejaVu Sans")});
    QFont font(family, 8);
    font.setStyleHint(QFont::SansSerif);
    QApplication::setFont(font);
}
