// legisdisco-update-server --circulars DIR [--port N] [--bind ADDR]
//
// Serves the PDF circulars of DIR the way the regulator's update server does, under
// http://ADDR:N/Normativa/ (by default http://127.0.0.1:8731/Normativa/, where the demo
// settings point). Runs until it is stopped; logs one line per request on standard output.

#include "updateserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHostAddress>

#include <cstdio>

namespace {

void complain(const QString &message)
{
    std::fprintf(stderr, "legisdisco-update-server: %s\n", qPrintable(message));
}

void say(const QString &line)
{
    std::fprintf(stdout, "%s\n", qPrintable(line));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("legisdisco-update-server"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Reference update server for Legisdisco: serves the PDF circulars of "
                       "one folder under http://ADDRESS:PORT/Normativa/."));
    parser.addHelpOption();
    const QCommandLineOption circularsOption(
        QStringLiteral("circulars"), QStringLiteral("Folder holding the circulars (*.pdf)."),
        QStringLiteral("DIR"));
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("Port to listen on, 0 for any free port (default %1).")
            .arg(UpdateServer::defaultPort),
        QStringLiteral("N"), QString::number(UpdateServer::defaultPort));
    const QCommandLineOption bindOption(QStringLiteral("bind"),
                                        QStringLiteral("Address to listen on (default 127.0.0.1)."),
                                        QStringLiteral("ADDR"), QStringLiteral("127.0.0.1"));
    parser.addOption(circularsOption);
    parser.addOption(portOption);
    parser.addOption(bindOption);
    parser.process(app);

    if (!parser.positionalArguments().isEmpty()) {
        complain(QStringLiteral("unexpected argument '%1' (see --help)")
                     .arg(parser.positionalArguments().constFirst()));
        return 2;
    }
    if (!parser.isSet(circularsOption) || parser.value(circularsOption).isEmpty()) {
        complain(QStringLiteral("--circulars DIR is required (see --help)"));
        return 2;
    }
    const QString folder = QDir(parser.value(circularsOption)).absolutePath();
    const QFileInfo folderInfo(folder);
    if (!folderInfo.exists()) {
        complain(QStringLiteral("the circulars folder %1 does not exist").arg(folder));
        return 2;
    }
    if (!folderInfo.isDir() || !folderInfo.isReadable()) {
        complain(QStringLiteral("%1 is not a readable folder").arg(folder));
        return 2;
    }

    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    if (!portOk || port > 65535) {
        complain(QStringLiteral("invalid port '%1': give a number from 0 to 65535")
                     .arg(parser.value(portOption)));
        return 2;
    }
    const QString bindText = parser.value(bindOption);
    QHostAddress address;
    if (bindText.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        address = QHostAddress::LocalHost;
    else if (!address.setAddress(bindText)) {
        complain(QStringLiteral("invalid address '%1': give an IP address such as 127.0.0.1")
                     .arg(bindText));
        return 2;
    }

    UpdateServer server(folder);
    if (!server.listen(address, quint16(port))) {
        complain(QStringLiteral("cannot listen on %1 port %2: %3")
                     .arg(address.toString(), QString::number(port), server.errorString()));
        return 1;
    }
    QObject::connect(&server, &UpdateServer::requestAnswered,
                     [](const QString &method, const QString &target, int status) {
                         say(QStringLiteral("%1 %2 %3 %4")
                                 .arg(QDateTime::currentDateTime().toString(Qt::ISODate), method,
                                      target, QString::number(status)));
                     });

    say(QStringLiteral("Serving the circulars of %1 at %2")
            .arg(folder, server.baseUrl().toString()));
    return app.exec();
}
