#include "installjournal.h"

#include <QList>

namespace InstallJournal {

namespace {

const QByteArray header = QByteArrayLiteral("diario-instalacion 1");
const QByteArray end = QByteArrayLiteral("fin");

// A relative name that stays below the collection folder and outside the
// staging folders.
bool safeName(const QString &name)
{
    if (name.isEmpty() || name.startsWith(u'/') || name.contains(u'\\') ||
        name.contains(QChar(u'\0'))) {
        return false;
    }
    const QStringList parts = name.split(u'/');
    for (const QString &part : parts) {
        if (part.isEmpty() || part.startsWith(u'.')) {
            return false;
        }
    }
    return true;
}

} // namespace

QByteArray format(const Journal &journal)
{
    QByteArray text = header + '\n';
    for (const QString &folder : journal.folders) {
        text += "carpeta\t" + folder.toUtf8() + '\n';
    }
    for (const PlacedFile &file : journal.files) {
        text += (file.replaces ? "reemplaza\t" : "nuevo\t") + file.name.toUtf8() + '\n';
    }
    // The last line says the journal was written whole.
    return text + end + '\n';
}

std::optional<Journal> parse(const QByteArray &text)
{
    if (!text.endsWith('\n')) {
        return std::nullopt;
    }
    const QList<QByteArray> lines = text.chopped(1).split('\n');
    if (lines.size() < 2 || lines.first() != header || lines.last() != end) {
        return std::nullopt;
    }
    Journal journal;
    for (qsizetype i = 1; i + 1 < lines.size(); ++i) {
        const QByteArray &line = lines[i];
        const qsizetype tab = line.indexOf('\t');
        if (tab < 0) {
            return std::nullopt;
        }
        const QByteArray kind = line.left(tab);
        const QString name = QString::fromUtf8(line.mid(tab + 1));
        if (!safeName(name)) {
            return std::nullopt;
        }
        if (kind == "carpeta") {
            journal.folders.append(name);
        } else if (kind == "nuevo" || kind == "reemplaza") {
            journal.files.push_back(PlacedFile{name, kind == "reemplaza"});
        } else {
            return std::nullopt;
        }
    }
    return journal;
}

Recovery recoveryFor(const std::optional<QByteArray> &journalText, bool committed)
{
    if (committed) {
        return Recovery::Finish;
    }
    // Without a whole journal no file was moved: the journal is in place before the first.
    if (!journalText || !parse(*journalText)) {
        return Recovery::Discard;
    }
    return Recovery::RollBack;
}

Undo undoFor(const PlacedFile &file, bool stagedPresent, bool backupPresent, bool targetPresent)
{
    // A backup is kept only of a file about to be replaced, and leaves only to go back.
    if (file.replaces && backupPresent) {
        return Undo::RestoreBackup;
    }
    // A new file that left the staging folder is the one in the collection now.
    if (!file.replaces && !stagedPresent && targetPresent) {
        return Undo::RemoveNew;
    }
    return Undo::Nothing;
}

} // namespace InstallJournal
