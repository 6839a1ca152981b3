#include "download.h"

#include "downloadfolderstore.h"
#include "downloadnames.h"
#include "filedownload.h"
#include "windowservice.h"

#include <QDir>
#include <QUrl>

namespace {
// The dialog appears as the download starts; the search gives up after about a second.
constexpr int dialogSearchAttempts = 100;
constexpr int dialogSearchPauseMs = 10;
constexpr int dialogWaitMs = 50;

bool isWebAddress(const QString &url)
{
    const QString scheme = QUrl(url).scheme();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}
} // namespace

QString TrimAtNull(const QString &text)
{
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    return nul < 0 ? text : text.left(nul);
}

QString GetDownloadDirectory(const DownloadFolderStore &store)
{
    return TrimAtNull(store.folder().value_or(QString()));
}

bool SetDownloadDirectory(DownloadFolderStore &store, const QString &folder)
{
    return store.setFolder(folder);
}

QString packagePath(const QString &programFolder, const QString &link)
{
    return QDir(programFolder).path() + QLatin1Char('/') + DownloadNames::safeName(link);
}

DownloadResult DownloadFile(DownloadServices services, const DownloadRequest &request)
{
    const QString current = GetDownloadDirectory(services.folders);
    if (request.folder.toLower() != current.toLower()) {
        SetDownloadDirectory(services.folders, request.folder);
    }
    // Anything but a web address (a script, a local file) is not fetched, and
    // no dialog is looked for: one open meanwhile belongs to another download.
    if (!isWebAddress(request.url)) {
        return DownloadResult{DownloadResult::Status::Failed, QString(),
                              request.url.isEmpty()
                                  ? QStringLiteral("la respuesta del servidor no trae el enlace "
                                                   "del paquete")
                                  : QStringLiteral("el enlace del paquete no es una dirección "
                                                   "web (http o https)")};
    }
    services.download.start(request.url, request.announcedBytes);
    WindowHandle dialog;
    if (!request.title.isEmpty()) {
        for (int attempt = 0; attempt < dialogSearchAttempts && !dialog; ++attempt) {
            dialog = services.windows.findWindow(DownloadDialogWindow::windowClass(),
                                                 DownloadDialogWindow::title());
            if (!dialog) {
                services.windows.sleep(dialogSearchPauseMs, false);
            }
        }
        if (dialog) {
            services.windows.setWindowText(dialog, request.title);
        }
    }
    do {
        services.windows.sleep(dialogWaitMs, true);
    } while (services.windows.isWindow(dialog));
    return services.download.result();
}
