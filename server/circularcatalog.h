#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

// The circulars of one folder: every regular, non-hidden file whose name ends in ".pdf"
// (in any letter case). A circular's identifier is its file name without those four
// characters.
//
// The listing is kept between calls and read again only when the folder's modification
// time says that files were added, removed or renamed, so that a folder of tens of
// thousands of circulars is not listed again for every request.
class CircularCatalog {
public:
    explicit CircularCatalog(const QString &folder);

    QString folder() const { return m_folder; }

    // Brings the listing up to date. False when the folder is missing or cannot be read;
    // the listing is then empty.
    bool refresh();

    // Every identifier, in natural order (see naturalLess).
    const QStringList &identifiers() const { return m_identifiers; }
    bool contains(const QString &identifier) const { return m_files.contains(identifier); }
    // The path of the circular's file, or an empty text for an unknown identifier.
    QString filePath(const QString &identifier) const;
    // Every circular's file name within the folder, by identifier.
    QHash<QString, QString> fileNames() const { return m_files; }
    // Counts the listings made: a new number means the folder's contents may have changed.
    quint64 generation() const { return m_generation; }

    // True for a text that can name a circular: not empty, not hidden (no leading "."),
    // no "..", no path separator ("/" or "\"), no control character (NUL among them) and no
    // "," (the separator of the lists). Files whose names break this rule are not offered,
    // and requests naming such an identifier are refused.
    static bool isValidIdentifier(const QString &identifier);

    // Natural order: runs of digits compare by their numeric value ("9" before "10"),
    // everything else by character code; texts that are equal in this order (such as "7"
    // and "07") fall back to plain character order.
    static bool naturalLess(const QString &a, const QString &b);

private:
    void scan();

    QString m_folder;
    QStringList m_identifiers;
    QHash<QString, QString> m_files; // identifier -> file name
    bool m_valid = false;
    qint64 m_folderModified = 0; // ms since the epoch, as seen by the last scan
    qint64 m_scannedAt = 0;      // ms since the epoch
    quint64 m_generation = 0;
};
