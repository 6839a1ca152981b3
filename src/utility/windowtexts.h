#pragma once

#include <QString>

// Texts every window of the program shares.
namespace WindowTexts {
inline QString caption()
{
    return QStringLiteral("ORVE - Vazivid ad adozudud oz azaraduze zad Ozoduzo ra Vovazar");
}
inline QString messageTitle()
{
    return QStringLiteral("Legisdisco");
}
} // namespace WindowTexts
