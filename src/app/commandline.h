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
    int searchLimit = 20; // hits --search prints at most; 0 for all of them
    // The document to open, as given (a circular number or a path within the
    // collection); empty for the home page. In the window's mode alone.
    QString document;
    // The window asks the update server for new circulars at start-up unless this is set.
    bool noUpdateCheck = false;
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

// What stops the window from starting, said before any window is made: a
// command line that cannot be read (an option that neither this program nor
// the window toolkit knows, more than one document), or a collection folder
// that does not exist. Empty when nothing does.
QString earlyProblem(const QStringList &arguments);
