#include "spanishlanguage.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QWebEngineProfile>

SpanishLanguage::SpanishLanguage()
{
    const QLocale spanish(QLocale::Spanish, QLocale::Spain);
    QLocale::setDefault(spanish);
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (m_qtBase.load(spanish, QStringLiteral("qtbase"), QStringLiteral("_"), folder)) {
        QCoreApplication::installTranslator(&m_qtBase);
    }
    if (m_webEngine.load(spanish, QStringLiteral("qtwebengine"), QStringLiteral("_"), folder)) {
        QCoreApplication::installTranslator(&m_webEngine);
    }
}

SpanishLanguage::~SpanishLanguage()
{
    QCoreApplication::removeTranslator(&m_webEngine);
    QCoreApplication::removeTranslator(&m_qtBase);
}

void SpanishLanguage::applyTo(QWebEngineProfile *profile)
{
    profile->setHttpAcceptLanguage(QStringLiteral("es"));
}
