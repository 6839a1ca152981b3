#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// The intent journal of one install, kept in its staging folder: written and
// synced before the first file of the package moves into the collection, so
// that an install cut short (a crash, a kill, a power cut) can be finished or
// undone by whoever opens the collection next. Names are relative to the
// collection folder, with "/"; a file's staged copy lies at the same name in
// the staging folder and the file it replaces, if any, under backupFolder.
namespace InstallJournal {

// The journal's file in the staging folder, written whole before any move.
inline QString journalFile()
{
    return QStringLiteral(".diario");
}
// Present once every file is in place and synced: the install has happened.
inline QString committedFile()
{
    return QStringLiteral(".confirmado");
}
// Where the files the package replaces are kept until the install is over.
inline QString backupFolder()
{
    return QStringLiteral(".respaldo");
}
// The prefix of every staging folder in a collection folder.
inline QString stagingPrefix()
{
    return QStringLiteral(".instalando-");
}

struct PlacedFile {
    QString name;
    bool replaces = false; // a file of that name was in the collection before
    bool operator==(const PlacedFile &other) const
    {
        return name == other.name && replaces == other.replaces;
    }
};

struct Journal {
    // Folders the install makes, parents first.
    QStringList folders;
    // Files in the order they are placed.
    std::vector<PlacedFile> files;
    bool operator==(const Journal &other) const
    {
        return folders == other.folders && files == other.files;
    }
};

QByteArray format(const Journal &journal);
// The journal in text; none when the text is not a whole journal or names
// anything that could lie outside the collection.
std::optional<Journal> parse(const QByteArray &text);

// What becomes of a staging folder left behind.
enum class Recovery {
    Discard,  // nothing of the package reached the collection: the folder goes
    RollBack, // cut short while files were moving: put back what was there
    Finish,   // every file is in place: only the leftovers go
};
// journalText: the journal's bytes, none when there is no journal file.
Recovery recoveryFor(const std::optional<QByteArray> &journalText, bool committed);

// What rolling back does for one placed file, from what lies on the disk.
enum class Undo {
    Nothing,       // the file never moved (or was already put back)
    RestoreBackup, // the old file goes back in place of the new one
    RemoveNew,     // the new file goes; there was none before it
};
Undo undoFor(const PlacedFile &file, bool stagedPresent, bool backupPresent, bool targetPresent);

} // namespace InstallJournal
