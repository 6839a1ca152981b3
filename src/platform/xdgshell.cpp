#include "xdgshell.h"

#include <QProcess>
#include <QStandardPaths>

#include <utility>

XdgShell::XdgShell(QProcessEnvironment environment)
    : m_environment(std::move(environment))
{
}

bool XdgShell::execute(QWidget *, const QString &verb, const QString &document, const QString &,
                       const QString &directory, int)
{
    if (verb.compare(QLatin1String("Open"), Qt::CaseInsensitive) != 0 || document.isEmpty()) {
        return false;
    }
    if (document.startsWith(QLatin1String("mailto:"), Qt::CaseInsensitive) && !hasMailProgram()) {
        return false;
    }
    QStringList command = commandFor(document);
    QProcess process;
    process.setProgram(programPath(command.takeFirst()));
    process.setArguments(command);
    process.setWorkingDirectory(directory);
    process.setProcessEnvironment(m_environment);
    return process.startDetached();
}

QString XdgShell::programPath(const QString &program) const
{
    // Found where the start environment's PATH says, as a shell of the reader's would.
    const QString found = QStandardPaths::findExecutable(
        program,
        m_environment.value(QStringLiteral("PATH")).split(QLatin1Char(':'), Qt::SkipEmptyParts));
    return found.isEmpty() ? program : found;
}

QStringList XdgShell::commandFor(const QString &document)
{
    // "--" is not understood by xdg-open; a document that starts with "-" is
    // made a relative path instead so it is never read as an option.
    QString target = document;
    if (target.startsWith(QLatin1Char('-'))) {
        target.prepend(QLatin1String("./"));
    }
    return {QStringLiteral("xdg-open"), target};
}

bool XdgShell::hasMailProgram() const
{
    QProcess query;
    query.setProcessEnvironment(m_environment);
    query.start(programPath(QStringLiteral("xdg-mime")),
                {QStringLiteral("query"), QStringLiteral("default"),
                 QStringLiteral("x-scheme-handler/mailto")});
    if (!query.waitForFinished(5000)) {
        query.kill();
        query.waitForFinished(1000);
        return false;
    }
    return query.exitStatus() == QProcess::NormalExit && query.exitCode() == 0 &&
           !query.readAllStandardOutput().trimmed().isEmpty();
}
