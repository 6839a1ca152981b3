#pragma once

#include "shell.h"

#include <QProcessEnvironment>
#include <QStringList>

// Opens documents and addresses with the desktop's handler (xdg-open). The
// show value has no counterpart there and is left to the handler.
class XdgShell final : public Shell {
public:
    // Programs are started with environment: the one the viewer itself was started with,
    // not the one it set up for its own libraries.
    explicit XdgShell(QProcessEnvironment environment = QProcessEnvironment::systemEnvironment());

    bool execute(QWidget *owner, const QString &verb, const QString &document,
                 const QString &parameters, const QString &directory, int show) override;

    // The command line that opens document: program first, then its arguments.
    static QStringList commandFor(const QString &document);

private:
    // Whether the desktop names a program for mail addresses: without one, xdg-open
    // would fail after the caller was told the message had been handed over.
    bool hasMailProgram() const;
    // The program's path as the start environment finds it.
    QString programPath(const QString &program) const;

    QProcessEnvironment m_environment;
};
