// Apart from the rest of SpanishLanguage, so that the commands of the command line, which
// use the rest, do not load the browser engine.

#include "spanishlanguage.h"

#include <QWebEngineProfile>

void SpanishLanguage::applyTo(QWebEngineProfile *profile)
{
    profile->setHttpAcceptLanguage(QStringLiteral("es"));
}
