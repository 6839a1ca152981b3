#include "xdgshell.h"

#include <QProcess>

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
    const QString program = command.takeFirst();
    return QProcess::startDetached(program, command, directory);
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

bool XdgShell::hasMailProgram()
{
    QProcess query;
    query.start(QStringLiteral("xdg-mime"), {QStringLiteral("query"), QStringLiteral("default"),
                                             QStringLiteral("x-scheme-handler/mailto")});
    if (!query.waitForFinished(5000)) {
        query.kill();
        query.waitForFinished(1000);
        return false;
    }
    return query.exitStatus() == QProcess::NormalExit && query.exitCode() == 0 &&
           !query.readAllStandardOutput().trimmed().isEmpty();
}
