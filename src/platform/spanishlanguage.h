#pragma once

#include <QTranslator>

class QWebEngineProfile;

// The program speaks Spanish, and so do the toolkit's own dialogs and buttons
// and the browser engine's own pages (error pages, the PDF viewer's toolbar,
// the context menu): the default locale is Spanish, which the engine takes
// for its own language when it starts, and the Qt and Qt WebEngine
// translations are installed. Make one after the application object and
// before the first browser profile or page, and keep it while the program runs.
class SpanishLanguage {
public:
    SpanishLanguage();
    ~SpanishLanguage();
    SpanishLanguage(const SpanishLanguage &) = delete;
    SpanishLanguage &operator=(const SpanishLanguage &) = delete;

    // Web servers are asked for Spanish pages too (Accept-Language: es).
    static void applyTo(QWebEngineProfile *profile);

    // The engine's menu and action texts, which the installed Qt WebEngine
    // translations leave in English. Asked for a text of another context, or
    // one it does not know, it answers nothing, so that the other translators
    // are asked.
    class EngineTexts final : public QTranslator {
    public:
        QString translate(const char *context, const char *sourceText,
                          const char *disambiguation = nullptr, int n = -1) const override;
        bool isEmpty() const override { return false; }
    };

private:
    QTranslator m_qtBase;
    QTranslator m_webEngine;
    EngineTexts m_engineTexts;
};
