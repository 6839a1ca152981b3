#include "spanishlanguage.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>

#include <cstring>

namespace {
// The texts of the engine's actions and context menu, in Chromium's Spanish.
struct EngineText {
    const char *english;
    const char *spanish;
};
constexpr EngineText engineTexts[] = {
    {"Back", "Atrás"},
    {"Forward", "Adelante"},
    {"Stop", "Detener"},
    {"Reload", "Volver a cargar"},
    {"Reload and Bypass Cache", "Volver a cargar sin usar la caché"},
    {"Cut", "Cortar"},
    {"Copy", "Copiar"},
    {"Paste", "Pegar"},
    {"Paste and match style", "Pegar y mantener el estilo"},
    {"Undo", "Deshacer"},
    {"Redo", "Rehacer"},
    {"Select all", "Seleccionar todo"},
    {"Unselect", "Deseleccionar"},
    {"Open link in this window", "Abrir enlace en esta ventana"},
    {"Open link in new window", "Abrir enlace en una ventana nueva"},
    {"Open link in new tab", "Abrir enlace en una pestaña nueva"},
    {"Open link in new background tab", "Abrir enlace en una pestaña nueva en segundo plano"},
    {"Copy link address", "Copiar dirección del enlace"},
    {"Save link", "Guardar enlace como..."},
    {"Copy image", "Copiar imagen"},
    {"Copy image address", "Copiar dirección de la imagen"},
    {"Save image", "Guardar imagen como..."},
    {"Copy media address", "Copiar dirección del archivo multimedia"},
    {"Show controls", "Mostrar controles"},
    {"Loop", "Repetir"},
    {"Toggle Play/Pause", "Reproducir o pausar"},
    {"Toggle Mute", "Silenciar o activar sonido"},
    {"Save media", "Guardar archivo multimedia como..."},
    {"Inspect", "Inspeccionar"},
    {"Exit full screen", "Salir de pantalla completa"},
    {"Close Page", "Cerrar página"},
    {"Save page", "Guardar página como..."},
    {"View page source", "Ver código fuente de la página"},
};
} // namespace

QString SpanishLanguage::EngineTexts::translate(const char *context, const char *sourceText,
                                                const char *, int) const
{
    if (!context || !sourceText ||
        (std::strcmp(context, "QWebEnginePage") != 0 &&
         std::strcmp(context, "RenderViewContextMenuQt") != 0)) {
        return {};
    }
    for (const EngineText &text : engineTexts) {
        if (std::strcmp(sourceText, text.english) == 0) {
            return QString::fromUtf8(text.spanish);
        }
    }
    return {};
}

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
    QCoreApplication::installTranslator(&m_engineTexts);
}

SpanishLanguage::~SpanishLanguage()
{
    QCoreApplication::removeTranslator(&m_engineTexts);
    QCoreApplication::removeTranslator(&m_webEngine);
    QCoreApplication::removeTranslator(&m_qtBase);
}
