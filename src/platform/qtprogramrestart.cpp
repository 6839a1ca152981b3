#include "qtprogramrestart.h"

#include "instanceguard.h"

#include <QCoreApplication>
#include <QProcess>

QtProgramRestart::QtProgramRestart(InstanceGuard &instance, const QString &program,
                                   const QStringList &arguments,
                                   const QProcessEnvironment &environment)
    : m_instance(instance)
    , m_program(program)
    , m_arguments(arguments)
    , m_environment(environment)
{
}

bool QtProgramRestart::restart()
{
    // The new instance must find the program folder free, or it would end at
    // once taking this one for a running copy.
    m_instance.release();
    QProcess process;
    process.setProgram(m_program);
    process.setArguments(m_arguments);
    process.setProcessEnvironment(m_environment);
    if (!process.startDetached()) {
        m_instance.previousInstance(); // hold the folder again
        return false;
    }
    QCoreApplication::exit(0);
    return true;
}
