#pragma once

#include <QString>

class QWidget;

// Show values handed to the desktop together with a document.
namespace ShowCommand {
constexpr int Hide = 0;
constexpr int ShowMaximized = 3;
} // namespace ShowCommand

// Hands a document or an address to the desktop's handler for its type.
class Shell {
public:
    virtual ~Shell() = default;

    // Opens document with verb from the working folder directory. Answers
    // whether the handler could be started; callers may ignore it.
    virtual bool execute(QWidget *owner, const QString &verb, const QString &document,
                         const QString &parameters, const QString &directory, int show) = 0;
};
