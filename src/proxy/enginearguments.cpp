#include "enginearguments.h"

#include <QtGlobal>

namespace {
const char flagsVariable[] = "QTWEBENGINE_CHROMIUM_FLAGS";
const QLatin1String argumentsMarker("--webEngineArgs");
} // namespace

QStringList engineArgumentsToAppend(const QStringList &arguments, const QStringList &switches)
{
    if (switches.isEmpty()) {
        return {};
    }
    QStringList added;
    if (!arguments.mid(1).contains(argumentsMarker)) {
        added.append(argumentsMarker);
    }
    return added + switches;
}

QString engineFlagsWithSwitches(const QString &flags, const QStringList &switches)
{
    QString value = flags;
    for (QString item : switches) {
        item.remove(u'"');
        if (item.contains(u' ')) {
            item = u'"' + item + u'"';
        }
        if (!value.isEmpty()) {
            value += u' ';
        }
        value += item;
    }
    return value;
}

BrowserEngineArguments::BrowserEngineArguments(int argc, char **argv, const QStringList &switches)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        m_arguments.emplace_back(argv[i]);
        arguments.append(QString::fromLocal8Bit(argv[i]));
    }
    if (!switches.isEmpty()) {
        if (qEnvironmentVariableIsSet(flagsVariable)) {
            qputenv(flagsVariable,
                    engineFlagsWithSwitches(qEnvironmentVariable(flagsVariable), switches)
                        .toLocal8Bit());
        } else {
            for (const QString &argument : engineArgumentsToAppend(arguments, switches)) {
                m_arguments.push_back(argument.toLocal8Bit());
            }
        }
    }
    for (QByteArray &argument : m_arguments) {
        m_argv.push_back(argument.data());
    }
    m_argv.push_back(nullptr);
    m_argc = static_cast<int>(m_arguments.size());
}
