#pragma once

#include "programrestart.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

class InstanceGuard;

// Restarts by starting program with the arguments and environment this
// instance started with (taken before anything was added for the browser
// engine, so that the new instance makes its own engine switches), after
// giving up this instance's hold on the program folder; then it leaves every
// event loop, so that main() returns.
class QtProgramRestart final : public ProgramRestart {
public:
    QtProgramRestart(InstanceGuard &instance, const QString &program, const QStringList &arguments,
                     const QProcessEnvironment &environment);

    bool restart() override;

private:
    InstanceGuard &m_instance;
    QString m_program;
    QStringList m_arguments;
    QProcessEnvironment m_environment;
};
