#pragma once

#include <QByteArray>
#include <QStringList>

#include <vector>

// Qt WebEngine reads Chromium switches once, when the first browser object is
// made: from the variable QTWEBENGINE_CHROMIUM_FLAGS when it is set (and then
// from nowhere else), otherwise from the program's arguments after
// "--webEngineArgs".

// What to append to the program's arguments so that the engine sees switches.
QStringList engineArgumentsToAppend(const QStringList &arguments, const QStringList &switches);

// The value of QTWEBENGINE_CHROMIUM_FLAGS with switches added. The engine
// splits the value at spaces outside double quotes and drops every double
// quote, so a switch with a space is quoted and one with a double quote loses
// it.
QString engineFlagsWithSwitches(const QString &flags, const QStringList &switches);

// The program's arguments with Chromium switches for the browser engine, made
// before the application object: the switches go into the arguments, or into
// QTWEBENGINE_CHROMIUM_FLAGS when that variable is set. Hand argc() and argv()
// to the application object and keep this object alive as long as it.
class BrowserEngineArguments {
public:
    BrowserEngineArguments(int argc, char **argv, const QStringList &switches);
    BrowserEngineArguments(const BrowserEngineArguments &) = delete;
    BrowserEngineArguments &operator=(const BrowserEngineArguments &) = delete;

    int &argc() { return m_argc; }
    char **argv() { return m_argv.data(); }

private:
    std::vector<QByteArray> m_arguments;
    std::vector<char *> m_argv;
    int m_argc = 0;
};
