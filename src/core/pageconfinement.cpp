#include "pageconfinement.h"

#include <QDir>
#include <QFileInfo>

namespace {

bool inside(const QString &folder, const QString &canonicalPath)
{
    if (folder.isEmpty()) {
        return false;
    }
    const QString base = QFileInfo(folder).canonicalFilePath();
    return !base.isEmpty() && canonicalPath.startsWith(base + u'/');
}

// Where path leads once every link on its way is followed; empty when it
// cannot be told, or when it names something that is not a regular file.
QString canonicalFileTarget(const QString &path)
{
    const QFileInfo info(path);
    if (info.exists()) {
        return info.isFile() ? info.canonicalFilePath() : QString();
    }
    // Not there (yet): the nearest folder that is, followed by the rest, which
    // holds no links since it does not exist. A dangling link is refused: what
    // it names could appear before the engine opens it.
    QString rest;
    QString current = path;
    while (!QFileInfo::exists(current)) {
        const QFileInfo missing(current);
        if (missing.isSymLink() || missing.fileName().isEmpty()) {
            return {};
        }
        rest.prepend(u'/' + missing.fileName());
        current = missing.path();
    }
    const QString folder = QFileInfo(current).canonicalFilePath();
    if (folder.isEmpty() || !QFileInfo(current).isDir()) {
        return {};
    }
    return folder + rest;
}

} // namespace

bool collectionMayServe(const Collection &collection, const QUrl &url)
{
    if (!url.isLocalFile() || !url.host().isEmpty() ||
        url.path().contains(QLatin1String("%2F"), Qt::CaseInsensitive)) {
        return false;
    }
    const QString path = url.toLocalFile();
    if (!QDir::isAbsolutePath(path) || path.contains(QChar(u'\0')) ||
        QDir::cleanPath(path) != path) {
        return false;
    }
    const QString target = canonicalFileTarget(path);
    return !target.isEmpty() &&
           (inside(collection.programFolder(), target) || inside(collection.userFolder(), target));
}

bool isCollectionPage(const QUrl &url)
{
    if (url.isEmpty() || url.isLocalFile()) {
        return true;
    }
    const QString scheme = url.scheme();
    // about:blank and about:srcdoc, data: and blob: documents hold what the
    // page put there, with the page's rights; the engine's PDF viewer shows a
    // document of the collection.
    return scheme == QLatin1String("about") || scheme == QLatin1String("data") ||
           scheme == QLatin1String("blob") || scheme == QLatin1String("chrome-extension");
}

bool isEnginePage(const QUrl &url)
{
    const QString scheme = url.scheme();
    if (scheme == QLatin1String("about")) {
        return url.path() != QLatin1String("blank") && url.path() != QLatin1String("srcdoc");
    }
    return scheme == QLatin1String("view-source") || scheme == QLatin1String("chrome") ||
           scheme == QLatin1String("chrome-untrusted") || scheme == QLatin1String("devtools") ||
           scheme == QLatin1String("qrc");
}

bool navigationAllowed(const NavigationFacts &facts)
{
    if (isEnginePage(facts.to)) {
        return false;
    }
    if (!isCollectionPage(facts.from)) {
        // The web reaches the collection only through the program and history,
        // as the engine has it for its own navigations.
        return !facts.to.isLocalFile() || facts.cause == NavigationCause::Program ||
               facts.cause == NavigationCause::History;
    }
    if (isCollectionPage(facts.to)) {
        return true;
    }
    if (!facts.mainFrame) {
        return false;
    }
    switch (facts.cause) {
    case NavigationCause::Program:
    case NavigationCause::History:
        return true;
    case NavigationCause::Link:
    case NavigationCause::NewWindow:
        return facts.chosenByReader;
    case NavigationCause::Redirect:
        return facts.readerNavigationPending;
    case NavigationCause::Form:
    case NavigationCause::Other:
        return false;
    }
    return false;
}
