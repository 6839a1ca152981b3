#include "circularcatalog.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include <algorithm>

namespace {

// A listing made within this time of the folder's last change may have missed a change
// that left the modification time as it was (coarse file-system clocks): such a listing
// is not trusted for later requests.
constexpr qint64 settleMs = 2000;

const QLatin1String pdfSuffix(".pdf");

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

int naturalCompare(const QString &a, const QString &b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a.at(i)) && isDigit(b.at(j))) {
            // Compare the digit runs by value: without leading zeros, the longer run is
            // the larger number; runs of equal length compare digit by digit.
            while (i < a.size() && a.at(i) == u'0')
                ++i;
            while (j < b.size() && b.at(j) == u'0')
                ++j;
            qsizetype endA = i;
            while (endA < a.size() && isDigit(a.at(endA)))
                ++endA;
            qsizetype endB = j;
            while (endB < b.size() && isDigit(b.at(endB)))
                ++endB;
            if (endA - i != endB - j)
                return endA - i < endB - j ? -1 : 1;
            for (; i < endA; ++i, ++j) {
                if (a.at(i) != b.at(j))
                    return a.at(i) < b.at(j) ? -1 : 1;
            }
            continue;
        }
        if (a.at(i) != b.at(j))
            return a.at(i) < b.at(j) ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    return 0;
}

} // namespace

CircularCatalog::CircularCatalog(const QString &folder)
    : m_folder(folder)
{
}

bool CircularCatalog::refresh()
{
    const QFileInfo info(m_folder);
    if (!info.isDir() || !info.isReadable()) {
        m_valid = false;
        m_identifiers.clear();
        m_files.clear();
        return false;
    }
    const qint64 modified = info.lastModified().toMSecsSinceEpoch();
    if (m_valid && modified == m_folderModified && m_scannedAt - modified > settleMs)
        return true;

    m_folderModified = modified;
    m_scannedAt = QDateTime::currentMSecsSinceEpoch();
    scan();
    m_valid = true;
    return true;
}

QString CircularCatalog::filePath(const QString &identifier) const
{
    const auto it = m_files.constFind(identifier);
    if (it == m_files.constEnd())
        return {};
    return QDir(m_folder).filePath(*it);
}

bool CircularCatalog::isValidIdentifier(const QString &identifier)
{
    if (identifier.isEmpty() || identifier.startsWith(u'.') ||
        identifier.contains(QLatin1String("..")))
        return false;
    return std::none_of(identifier.cbegin(), identifier.cend(), [](QChar c) {
        return c == u'/' || c == u'\\' || c == u',' || c.unicode() < 0x20 || c.unicode() == 0x7f;
    });
}

bool CircularCatalog::naturalLess(const QString &a, const QString &b)
{
    const int order = naturalCompare(a, b);
    if (order != 0)
        return order < 0;
    return a < b;
}

void CircularCatalog::scan()
{
    m_identifiers.clear();
    m_files.clear();
    ++m_generation;

    // QDir::Files without QDir::Hidden: regular files (and links to them), hidden ones left
    // out, as the viewer leaves them out of its own listing. The extension is matched here,
    // in any letter case. (QDir::Readable is left out on purpose: it costs a permission
    // check per file, several times the cost of the listing itself; a file that cannot be
    // read is reported when a package needs it.)
    QDirIterator it(m_folder, QDir::Files | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        const QString name = it.fileName();
        if (!name.endsWith(pdfSuffix, Qt::CaseInsensitive))
            continue;
        const QString identifier = name.chopped(pdfSuffix.size());
        if (!isValidIdentifier(identifier))
            continue;
        const auto existing = m_files.find(identifier);
        if (existing == m_files.end()) {
            m_files.insert(identifier, name);
        } else if (name.endsWith(pdfSuffix)) {
            // "x.pdf" and "x.PDF" side by side: the lower-case spelling wins, whatever
            // order the directory lists them in.
            *existing = name;
        } else if (!existing->endsWith(pdfSuffix) && name < *existing) {
            *existing = name;
        }
    }
    m_identifiers = m_files.keys();
    std::sort(m_identifiers.begin(), m_identifiers.end(), naturalLess);
}
