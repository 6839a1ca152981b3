#include "serverpages.h"

#include <QLocale>

namespace {

QString page(const QString &title, const QString &body)
{
    return QStringLiteral("<!DOCTYPE html>\n"
                          "<html lang=\"es\">\n"
                          "<head>\n"
                          "<meta charset=\"utf-8\">\n"
                          "<title>%1</title>\n"
                          // Compact, so that the strip of the update window that shows
                          // the answer has room for the package's link under the title.
                          "<style>body{font-family:sans-serif;font-size:10pt;margin:4px 8px}"
                          "h1{font-size:11pt;margin:0 0 4px}p{margin:0 0 6px}</style>\n"
                          "</head>\n"
                          "<body>\n"
                          "<h1>%1</h1>\n"
                          "%2"
                          "</body>\n"
                          "</html>\n")
        .arg(title.toHtmlEscaped(), body);
}

QString sizeText(qint64 bytes)
{
    const QLocale spanish(QLocale::Spanish, QLocale::Spain);
    if (bytes < 1024)
        return QStringLiteral("%1 bytes").arg(bytes);
    if (bytes < 1024 * 1024)
        return QStringLiteral("%1 KB").arg(spanish.toString(double(bytes) / 1024, 'f', 1));
    return QStringLiteral("%1 MB").arg(spanish.toString(double(bytes) / (1024 * 1024), 'f', 1));
}

} // namespace

namespace ServerPages {

QByteArray listPage(const QStringList &identifiers)
{
    // Built by appending: the list may hold tens of thousands of identifiers, and arg()
    // would scan the whole text once more for every placeholder.
    QString body;
    qsizetype length = 512;
    for (const QString &identifier : identifiers)
        length += identifier.size() + 6;
    body.reserve(length);
    body += QLatin1String("<p>Circulares disponibles: <label id=\"circulares\">");
    for (qsizetype i = 0; i < identifiers.size(); ++i) {
        if (i > 0)
            body += u',';
        body += identifiers.at(i).toHtmlEscaped();
    }
    body +=
        QLatin1String("</label></p>\n"
                      "<script>document.getElementById(\"circulares\").normalize();</script>\n");
    body += QStringLiteral("<p>%1. Para actualizar su colección, el programa compara esta "
                           "lista con los archivos de su carpeta «circulares» y solicita las "
                           "que faltan.</p>\n")
                .arg(identifiers.size() == 1
                         ? QStringLiteral("Hay 1 circular")
                         : QStringLiteral("Hay %1 circulares").arg(identifiers.size()));
    return page(QStringLiteral("Actualización de circulares"), body).toUtf8();
}

QByteArray answerPage(const QString &packageUrl, const QString &fileName,
                      const QStringList &identifiers, qint64 packageSize)
{
    const QString count = identifiers.size() == 1
                              ? QStringLiteral("1 circular")
                              : QStringLiteral("%1 circulares").arg(identifiers.size());
    const QString body =
        QStringLiteral(
            "<p><a href=\"%1\">%2</a></p>\n"
            "<p>El paquete de actualización contiene %3 (%4). Descárguelo y ábralo en la "
            "carpeta de instalación del sistema: las circulares quedan en su carpeta "
            "«circulares».</p>\n"
            "<p>Circulares incluidas: %5</p>\n")
            .arg(packageUrl.toHtmlEscaped(), fileName.toHtmlEscaped(), count, sizeText(packageSize),
                 shortList(identifiers, 100).toHtmlEscaped());
    return page(QStringLiteral("Paquete de actualización"), body).toUtf8();
}

QByteArray redirectPage(const QString &target)
{
    const QString body =
        QStringLiteral("<p>El paquete está listo: <a href=\"%1\">continuar</a>.</p>\n")
            .arg(target.toHtmlEscaped());
    return page(QStringLiteral("Paquete de actualización"), body).toUtf8();
}

QByteArray errorPage(int status, const QString &title, const QString &message)
{
    const QString body = QStringLiteral("<p>%1</p>\n<p>Código de respuesta: %2.</p>\n")
                             .arg(message.toHtmlEscaped(), QString::number(status));
    return page(title, body).toUtf8();
}

QString shortList(const QStringList &identifiers, int limit)
{
    if (identifiers.size() <= limit)
        return identifiers.join(QLatin1String(", "));
    return QStringLiteral("%1 y %2 más")
        .arg(identifiers.mid(0, limit).join(QLatin1String(", ")),
             QString::number(identifiers.size() - limit));
}

} // namespace ServerPages
