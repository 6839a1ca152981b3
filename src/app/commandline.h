#pragma once

#include <QString>
#include <QStringList>

// What the command line asks for.
struct CommandLine {
    enum class Mode {
        Browse,         // the window, on the collection
        Help,           // print the options and end
        Version,        // print the version and end
        InstallPackage, // install a package file and end
        Search,         // search the collection, print the hits and end
        Verify,         // check the collection against its signed catalog and end
        Error,          // the command line could not be read; error says why
    };
    Mode mode = Mode::Browse;
    QString collection; // the folder given with --collection; empty: the program's own
    QString packageFile;
    QString searchText;
    QString error;
    QString helpText;
};

// Whether arguments ask for something that ends without a window (help,
// version, a command), so the program can answer with no display and no
// browser engine.
bool wantsCommandOnly(const QStringList &arguments);

// Reads the arguments (the program's name first). Arguments from
// "--webEngineArgs" on belong to the browser engine and are not read.
CommandLine parseCommandLine(const QStringList &arguments);

// What stops the window from starting, said before any window is made: an
// option that neither this program nor the window toolkit knows, or a
// collection folder that does not exist. Empty when nothing does.
QString earlyProblem(const QStringList &arguments);
