#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The HTML pages of the update server, in Spanish, encoded in UTF-8.
namespace ServerPages {

// The list of circulars offered. The first (and only) <label> of the page holds every
// identifier, separated by "," with no spaces; with no circulars the label is empty. A
// script right after the label joins the text nodes that the browser's parser splits long
// texts into, so that the label's first child node carries the whole list.
QByteArray listPage(const QStringList &identifiers);

// The answer to a request: its first link is the package's absolute address.
QByteArray answerPage(const QString &packageUrl, const QString &fileName,
                      const QStringList &identifiers, qint64 packageSize);

// The small page sent with the redirect from the request page to the answer page.
QByteArray redirectPage(const QString &target);

// An error page: a title, and a message saying what went wrong and what to do.
QByteArray errorPage(int status, const QString &title, const QString &message);

// At most `limit` identifiers joined by ", ", then how many were left out.
QString shortList(const QStringList &identifiers, int limit = 20);

} // namespace ServerPages
