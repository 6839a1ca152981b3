// legisdisco-update-server --circulars DIR [options]
//
// Serves the PDF circulars of DIR the way the regulator's update server does, under
// http://ADDR:N/Normativa/ (by default http://127.0.0.1:8731/Normativa/, where the demo
// settings point). Runs until it is stopped; logs one line per request on standard output.
//
// legisdisco-update-server --circulars DIR --write-index FILE writes the circular index page
// of DIR, as the packages carry it, and ends.

#include "publishedcatalog.h"
#include "updateserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHostAddress>
#include <QSaveFile>
#include <QSocketNotifier>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <unistd.h>

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

// Every connection takes a file descriptor: use all the system allows this process.
void raiseFileLimit()
{
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
}

// A log field without spaces or control characters, so that a line stays one line.
QString field(const std::string &text)
{
    QString result =
        QString::fromLatin1(text.data(), qsizetype(std::min<std::size_t>(text.size(), 300)));
    for (QChar &c : result) {
        if (c.unicode() <= 0x20 || c.unicode() >= 0x7f)
            c = u'?';
    }
    if (text.size() > 300)
        result += QStringLiteral("...");
    return result.isEmpty() ? QStringLiteral("-") : result;
}

int stopPipe[2] = {-1, -1};

void onStopSignal(int)
{
    const char byte = 0;
    [[maybe_unused]] const ssize_t written = ::write(stopPipe[1], &byte, 1);
}

// Seconds the answers in progress get to finish after SIGTERM or SIGINT.
constexpr double defaultDrainSeconds = 10;
// --memory-cache is still accepted, with its old default, and has no effect.
constexpr int legacyMemoryCacheMb = 64;

// Whether another stop signal has come; takes it.
bool stopSignalled(int timeoutMs)
{
    pollfd poller{stopPipe[0], POLLIN, 0};
    if (::poll(&poller, 1, timeoutMs) <= 0)
        return false;
    char byte = 0;
    [[maybe_unused]] const ssize_t read = ::read(stopPipe[0], &byte, 1);
    return true;
}

// The end of a graceful stop: waits for the answers in progress to be sent, for at most
// drainSeconds, or until another stop signal comes.
void drain(UpdateServer &server, double drainSeconds)
{
    server.stopAccepting();
    const int open = server.openConnections();
    if (open == 0)
        return;
    complain(QStringLiteral("stopping: no new connections; finishing the answers of %1 "
                            "connections, for at most %2 s (a second signal stops at once)")
                 .arg(QString::number(open), QString::number(drainSeconds)));
    QElapsedTimer timer;
    timer.start();
    const qint64 limitMs = qint64(drainSeconds * 1000);
    while (server.openConnections() > 0 && timer.elapsed() < limitMs) {
        if (stopSignalled(int(qMin<qint64>(50, limitMs - timer.elapsed()))))
            break;
    }
    const int left = server.openConnections();
    if (left > 0)
        complain(QStringLiteral("stopping with %1 connections cut short").arg(left));
}

bool positiveNumber(const QString &text, double *value)
{
    bool ok = false;
    *value = text.toDouble(&ok);
    return ok && *value > 0;
}

// --help, laid out like a manual page for an 80-column terminal: headings at the margin,
// text indented by four, the text of each option, file or example by eight.
constexpr int helpWidth = 79;

// Fills lines of at most helpWidth columns with the words of text, each line indented.
QString wrapped(const QString &text, int indent)
{
    const QString margin(indent, u' ');
    QString result;
    QString line;
    for (const QString &word : text.split(u' ', Qt::SkipEmptyParts)) {
        if (!line.isEmpty() && margin.size() + line.size() + 1 + word.size() > helpWidth) {
            result += margin + line + u'\n';
            line.clear();
        }
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    if (!line.isEmpty())
        result += margin + line + u'\n';
    return result;
}

// Lines kept as they are written (the synopsis, commands), each indented.
QString verbatim(const QString &lines, int indent)
{
    QString result;
    for (const QString &line : lines.split(u'\n'))
        result += QString(indent, u' ') + line + u'\n';
    return result;
}

// One entry of a section: what it is about, then its text.
struct HelpEntry {
    QString term;
    QString text;
};

// A heading and its entries: each term on a line of its own, its text wrapped below it.
QString entries(const QString &heading, const QList<HelpEntry> &list)
{
    QString result = heading + u'\n';
    for (const HelpEntry &entry : list)
        result += verbatim(entry.term, 4) + wrapped(entry.text, 8);
    return result;
}

// "-h, --help" or "--port N", as the option is written.
QString optionSyntax(const QCommandLineOption &option)
{
    QStringList names;
    for (const QString &name : option.names())
        names += (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
    QString syntax = names.join(QStringLiteral(", "));
    if (!option.valueName().isEmpty())
        syntax += u' ' + option.valueName();
    return syntax;
}

// --write-catalog DIR: the catalog of DIR on standard output. 0 when written, 2 for a wrong
// value, 1 when the folder or the table cannot be read.
int writeCatalog(const QString &folder, const QString &sequenceText, const QString &validText,
                 const QString &metadata)
{
    CatalogRequest request;
    request.metadataFile = metadata;
    const QDateTime now = QDateTime::currentDateTime();
    bool ok = true;
    request.sequence = sequenceText.isEmpty()
                           ? now.toString(QStringLiteral("yyyyMMddhhmm")).toULongLong()
                           : sequenceText.toULongLong(&ok);
    if (!ok) {
        complain(QStringLiteral("invalid --sequence '%1': give a whole number").arg(sequenceText));
        return 2;
    }
    request.validUntil =
        validText.isEmpty() ? now.date().addYears(1) : QDate::fromString(validText, Qt::ISODate);
    if (!request.validUntil.isValid()) {
        complain(
            QStringLiteral("invalid --valid-until '%1': give a date as YYYY-MM-DD").arg(validText));
        return 2;
    }
    QString error;
    const std::optional<Catalog> catalog = catalogOfFolder(folder, request, &error);
    if (!catalog) {
        complain(error);
        return 1;
    }
    const QByteArray text = catalog->text();
    return std::fwrite(text.constData(), 1, size_t(text.size()), stdout) == size_t(text.size()) &&
                   std::fflush(stdout) == 0
               ? 0
               : 1;
}

QString helpPage(const QList<QCommandLineOption> &options)
{
    const QString program = QStringLiteral("legisdisco-update-server");
    QList<HelpEntry> optionEntries;
    for (const QCommandLineOption &option : options) {
        if (!(option.flags() & QCommandLineOption::HiddenFromHelp))
            optionEntries.append({optionSyntax(option), option.description()});
    }

    QString examples = QStringLiteral("EXAMPLES\n");
    const QList<HelpEntry> exampleList = {
        {QStringLiteral("Serve a folder on 127.0.0.1:8731, where the demo settings point:"),
         QStringLiteral("%1 --circulars ~/circulares").arg(program)},
        {QStringLiteral("Behind an HTTPS reverse proxy, keeping the packages across restarts:"),
         QStringLiteral("%1 --circulars /srv/legisdisco/circulares \\\n"
                        "    --public-url https://normativa.example.org/ \\\n"
                        "    --cache /var/cache/legisdisco-update-server")
             .arg(program)},
        {QStringLiteral("Write the index page of a folder and exit:"),
         QStringLiteral("%1 --circulars ~/circulares \\\n"
                        "    --write-index circulares.htm")
             .arg(program)},
        {QStringLiteral("Publish a signed catalog: write it, sign it with the publisher's "
                        "minisign key, and serve it with the circulars:"),
         QStringLiteral("%1 --write-catalog ~/circulares \\\n"
                        "    --metadata circulares.tsv > ~/circulares/catalogo.txt\n"
                        "minisign -Sm ~/circulares/catalogo.txt")
             .arg(program)},
        {QStringLiteral("The service of the Debian package, once its options are set:"),
         QStringLiteral("sudoedit /etc/default/legisdisco-update-server\n"
                        "sudo systemctl enable --now legisdisco-update-server\n"
                        "journalctl -u legisdisco-update-server -f")},
    };
    for (qsizetype i = 0; i < exampleList.size(); ++i) {
        examples += (i > 0 ? QStringLiteral("\n") : QString()) +
                    wrapped(exampleList.at(i).term, 4) + verbatim(exampleList.at(i).text, 8);
    }

    const QStringList sections = {
        QStringLiteral("NAME\n") +
            wrapped(program + QStringLiteral(" - reference update server for Legisdisco"), 4),
        QStringLiteral("SYNOPSIS\n") +
            verbatim(QStringLiteral("%1 --circulars DIR [--bind ADDR] [--port N]\n"
                                    "%2 [--public-url URL] [--cache DIR] [OPTION...]\n"
                                    "%1 --circulars DIR --write-index FILE\n"
                                    "%1 --write-catalog DIR [--sequence N]\n"
                                    "%2 [--valid-until YYYY-MM-DD] [--metadata FILE]\n"
                                    "%1 --help")
                         .arg(program, QString(program.size(), u' ')),
                     4),
        QStringLiteral("DESCRIPTION\n") +
            wrapped(QStringLiteral(
                        "Serves the PDF circulars of one folder, each named after its number "
                        "(1001.pdf), the way the regulator's update server does, under "
                        "http://ADDR:PORT/Normativa/: the list page actualizacionesValores.asp, "
                        "the request page archivoValores.asp?Numeros=..., which redirects to "
                        "the answer page archivo.asp, and the zip package the answer page "
                        "links to, which holds the circulars asked for and the index page of "
                        "every circular served. The viewers' legisdis.ini names the server in "
                        "[http] actualizacion."),
                    4) +
            u'\n' +
            wrapped(QStringLiteral(
                        "Where the folder holds a catalog signed by the publisher, catalogo.txt "
                        "and catalogo.txt.minisig (see --write-catalog), both are served under "
                        "the same prefix and every package carries both at its root in place of "
                        "the index page; viewers that hold the publisher's key install only what "
                        "the catalog vouches for. A catalog that does not match the circulars "
                        "keeps the server from starting."),
                    4) +
            u'\n' +
            wrapped(QStringLiteral(
                        "The first line on standard output names the address served (\"Serving "
                        "the circulars of DIR at URL ...\"); then comes one line per request: "
                        "time, client address, method, address asked for, status, bytes of the "
                        "body and milliseconds. Errors go to standard error."),
                    4) +
            u'\n' +
            wrapped(QStringLiteral(
                        "The server runs until it gets SIGTERM or SIGINT. It then stops "
                        "accepting connections at once, closes those on which no request has "
                        "begun, finishes the answers in progress (downloads included) for up "
                        "to --drain-timeout seconds, and exits; a second signal ends them at "
                        "once. A service manager should allow it a little more than that time "
                        "to stop."),
                    4) +
            u'\n' +
            wrapped(QStringLiteral(
                        "Packages are sent straight from the circulars' files, and written to "
                        "the cache folder when asked for again; any package address is built again "
                        "on demand, so several servers over the "
                        "same circulars answer alike behind a load balancer. The server speaks "
                        "plain HTTP: put a reverse proxy in front of it for HTTPS and give it "
                        "the public address with --public-url."),
                    4),
        entries(QStringLiteral("OPTIONS"), optionEntries),
        entries(QStringLiteral("FILES"),
                {{QStringLiteral("/etc/default/legisdisco-update-server"),
                  QStringLiteral("The options of the service that the Debian package installs, "
                                 "read by its systemd unit: CIRCULARS (the circulars folder), "
                                 "BIND, PORT, PUBLIC_URL and OPTIONS (any other options).")},
                 {QStringLiteral("/srv/legisdisco/circulares"),
                  QStringLiteral("The circulars folder of the service unless CIRCULARS names "
                                 "another; the service only reads it.")},
                 {QStringLiteral("/var/cache/legisdisco-update-server"),
                  QStringLiteral("The cache folder (--cache) of the service, kept across "
                                 "restarts.")}}),
        entries(QStringLiteral("EXIT STATUS"),
                {{QStringLiteral("0"),
                  QStringLiteral("Stopped by SIGTERM or SIGINT (whether or not the answers in "
                                 "progress finished within the drain time), or --write-index "
                                 "or --write-catalog wrote what it was asked for.")},
                 {QStringLiteral("1"),
                  QStringLiteral(
                      "The server cannot listen on the address and port, the index "
                      "page or the catalog cannot be written, or an option is unknown or lacks its "
                      "value.")},
                 {QStringLiteral("2"),
                  QStringLiteral("Any other mistake on the command line: a wrong value, no "
                                 "--circulars, a circulars folder that is missing or "
                                 "unreadable, or a catalog that does not match its "
                                 "circulars.")}}),
        examples,
    };
    return sections.join(u'\n');
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("legisdisco-update-server"));

    QCommandLineParser parser;
    const QCommandLineOption circularsOption(
        QStringLiteral("circulars"),
        QStringLiteral("Folder holding the circulars (*.pdf). Required: there is no default."),
        QStringLiteral("DIR"));
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("Port to listen on, 0 for any free port (default %1).")
            .arg(UpdateServer::defaultPort),
        QStringLiteral("N"), QString::number(UpdateServer::defaultPort));
    const QCommandLineOption bindOption(
        QStringLiteral("bind"),
        QStringLiteral("Address to listen on, such as 127.0.0.1, :: or 0.0.0.0 (default "
                       "127.0.0.1)."),
        QStringLiteral("ADDR"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption publicOption(
        QStringLiteral("public-url"),
        QStringLiteral("Address the clients reach the server at, such as "
                       "https://normativa.example.org/ (where Normativa/ is found); the "
                       "redirects and package links are made from it (default: none, and they "
                       "are relative)."),
        QStringLiteral("URL"));
    const QCommandLineOption cacheOption(
        QStringLiteral("cache"),
        QStringLiteral("Folder for the built packages, kept across restarts and shareable by "
                       "several servers (default: a temporary folder removed at exit)."),
        QStringLiteral("DIR"));
    const QCommandLineOption cacheSizeOption(
        QStringLiteral("cache-size"),
        QStringLiteral("Megabytes of packages kept before the least recently asked for are "
                       "removed (default %1).")
            .arg(PackageCache::defaultMaxBytes / (1024 * 1024)),
        QStringLiteral("MB"), QString::number(PackageCache::defaultMaxBytes / (1024 * 1024)));
    const QCommandLineOption cacheKeepOption(
        QStringLiteral("cache-keep"),
        QStringLiteral("Seconds a package is kept after it was last asked for, whatever the "
                       "size of the cache (default %1).")
            .arg(PackageCache::defaultKeepSeconds),
        QStringLiteral("S"), QString::number(PackageCache::defaultKeepSeconds));
    const QCommandLineOption memoryOption(
        QStringLiteral("memory-cache"),
        QStringLiteral("Accepted for older configurations and no longer used: packages are "
                       "sent from the circulars' files, and a package asked for again goes "
                       "to the cache folder (default %1).")
            .arg(legacyMemoryCacheMb),
        QStringLiteral("MB"), QString::number(legacyMemoryCacheMb));
    const HttpLimits defaults;
    const QCommandLineOption connectionsOption(
        QStringLiteral("max-connections"),
        QStringLiteral("Connections open at once (default %1, lowered to fit the file limit).")
            .arg(defaults.maxConnections),
        QStringLiteral("N"), QString::number(defaults.maxConnections));
    const QCommandLineOption requestTimeoutOption(
        QStringLiteral("request-timeout"),
        QStringLiteral("Seconds a request may take to arrive whole (default %1).")
            .arg(double(defaults.requestTimeout.count()) / 1000),
        QStringLiteral("S"), QString::number(double(defaults.requestTimeout.count()) / 1000));
    const QCommandLineOption idleTimeoutOption(
        QStringLiteral("idle-timeout"),
        QStringLiteral("Seconds a kept-alive connection may wait for its next request "
                       "(default %1).")
            .arg(double(defaults.idleTimeout.count()) / 1000),
        QStringLiteral("S"), QString::number(double(defaults.idleTimeout.count()) / 1000));
    const QCommandLineOption workersOption(
        QStringLiteral("workers"),
        QStringLiteral("Threads that prepare answers (default: two per processor, at least "
                       "four)."),
        QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption drainOption(
        QStringLiteral("drain-timeout"),
        QStringLiteral("Seconds the answers in progress get to finish after SIGTERM or SIGINT, "
                       "while new connections are refused; 0 cuts them at once (default %1).")
            .arg(defaultDrainSeconds),
        QStringLiteral("S"), QString::number(defaultDrainSeconds));
    const QCommandLineOption quietOption(
        QStringLiteral("quiet"),
        QStringLiteral("Do not log the requests (default: one line per request)."));
    const QCommandLineOption indexOption(
        QStringLiteral("write-index"),
        QStringLiteral("Write the circular index page of the --circulars folder to FILE, as "
                       "the packages carry it, and exit without serving."),
        QStringLiteral("FILE"));
    const QCommandLineOption catalogOption(
        QStringLiteral("write-catalog"),
        QStringLiteral("Print the catalog of the circulars in DIR to standard output, for the "
                       "publisher to sign with minisign, and exit without serving."),
        QStringLiteral("DIR"));
    const QCommandLineOption sequenceOption(
        QStringLiteral("sequence"),
        QStringLiteral("With --write-catalog: the catalog's sequence number, which must grow "
                       "from one signed catalog to the next (default: the date and time now, "
                       "YYYYMMDDhhmm)."),
        QStringLiteral("N"));
    const QCommandLineOption validUntilOption(
        QStringLiteral("valid-until"),
        QStringLiteral("With --write-catalog: the catalog's last valid day, after which "
                       "viewers refuse it (default: a year from today)."),
        QStringLiteral("YYYY-MM-DD"));
    const QCommandLineOption metadataOption(
        QStringLiteral("metadata"),
        QStringLiteral("With --write-catalog: a UTF-8 table separated by tabs, with the header "
                       "\"numero fecha titulo deroga modifica\", giving each circular's date, "
                       "title and the circulars it repeals or amends (comma-separated "
                       "numbers). A circular not in it takes its title from the PDF and its "
                       "date from the file (default: none)."),
        QStringLiteral("FILE"));
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Show this help and exit."));
    // Qt's own help has --help-all too; it shows the same page.
    QCommandLineOption helpAllOption(QStringLiteral("help-all"));
    helpAllOption.setFlags(QCommandLineOption::HiddenFromHelp);
    const QList<QCommandLineOption> commandLine = {
        circularsOption,   bindOption,           portOption,        publicOption,
        cacheOption,       cacheSizeOption,      cacheKeepOption,   memoryOption,
        connectionsOption, requestTimeoutOption, idleTimeoutOption, workersOption,
        drainOption,       quietOption,          indexOption,       catalogOption,
        sequenceOption,    validUntilOption,     metadataOption,    helpOption,
        helpAllOption};
    parser.addOptions(commandLine);
    parser.process(app);

    if (parser.isSet(helpOption) || parser.isSet(helpAllOption)) {
        std::fputs(qPrintable(helpPage(commandLine)), stdout);
        return 0;
    }

    if (!parser.positionalArguments().isEmpty()) {
        complain(QStringLiteral("unexpected argument '%1' (see --help)")
                     .arg(parser.positionalArguments().constFirst()));
        return 2;
    }
    if (parser.isSet(catalogOption)) {
        return writeCatalog(parser.value(catalogOption), parser.value(sequenceOption),
                            parser.value(validUntilOption), parser.value(metadataOption));
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

    if (const QString mismatch = catalogMismatch(folder); !mismatch.isEmpty()) {
        complain(mismatch);
        return 2;
    }

    if (parser.isSet(indexOption)) {
        QSaveFile out(parser.value(indexOption));
        if (!out.open(QIODevice::WriteOnly) || out.write(UpdateServer::indexPageOf(folder)) < 0 ||
            !out.commit()) {
            complain(QStringLiteral("cannot write %1: %2")
                         .arg(parser.value(indexOption), out.errorString()));
            return 1;
        }
        return 0;
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

    UpdateServerOptions options;
    if (parser.isSet(publicOption)) {
        options.publicUrl = QUrl(parser.value(publicOption), QUrl::StrictMode);
        const QString scheme = options.publicUrl.scheme();
        if (!options.publicUrl.isValid() || options.publicUrl.host().isEmpty() ||
            (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
            complain(QStringLiteral("invalid public address '%1': give an http or https address "
                                    "such as https://normativa.example.org/")
                         .arg(parser.value(publicOption)));
            return 2;
        }
    }
    if (parser.isSet(cacheOption))
        options.cacheFolder = QDir(parser.value(cacheOption)).absolutePath();
    double number = 0;
    if (!positiveNumber(parser.value(cacheSizeOption), &number)) {
        complain(QStringLiteral("invalid --cache-size: give a number of megabytes"));
        return 2;
    }
    options.cacheBytes = qint64(number * 1024 * 1024);
    bool ok = false;
    options.cacheKeepSeconds = parser.value(cacheKeepOption).toLongLong(&ok);
    if (!ok || options.cacheKeepSeconds < 0) {
        complain(QStringLiteral("invalid --cache-keep: give a number of seconds"));
        return 2;
    }
    // Still checked, so that a value that was refused before is refused now.
    const double memory = parser.value(memoryOption).toDouble(&ok);
    if (!ok || memory < 0) {
        complain(QStringLiteral("invalid --memory-cache: give a number of megabytes"));
        return 2;
    }
    options.limits.maxConnections = parser.value(connectionsOption).toInt(&ok);
    if (!ok || options.limits.maxConnections < 1) {
        complain(QStringLiteral("invalid --max-connections: give a positive number"));
        return 2;
    }
    if (!positiveNumber(parser.value(requestTimeoutOption), &number)) {
        complain(QStringLiteral("invalid --request-timeout: give a number of seconds"));
        return 2;
    }
    options.limits.requestTimeout = std::chrono::milliseconds(qint64(number * 1000));
    if (!positiveNumber(parser.value(idleTimeoutOption), &number)) {
        complain(QStringLiteral("invalid --idle-timeout: give a number of seconds"));
        return 2;
    }
    options.limits.idleTimeout = std::chrono::milliseconds(qint64(number * 1000));
    options.limits.workers = parser.value(workersOption).toInt(&ok);
    if (!ok || options.limits.workers < 0) {
        complain(QStringLiteral("invalid --workers: give a number, 0 for one per processor"));
        return 2;
    }
    const double drainSeconds = parser.value(drainOption).toDouble(&ok);
    if (!ok || drainSeconds < 0 || drainSeconds > 24 * 3600) {
        complain(QStringLiteral("invalid --drain-timeout: give a number of seconds"));
        return 2;
    }
    if (!parser.isSet(quietOption)) {
        options.log = [](const HttpLogEntry &entry) {
            say(QStringLiteral("%1 %2 %3 %4 %5 %6 %7")
                    .arg(QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs),
                         field(entry.peer), field(entry.method), field(entry.target),
                         QString::number(entry.status), QString::number(entry.bytes),
                         QString::number(entry.milliseconds, 'f', 1)));
        };
    }

    raiseFileLimit();
    // SIGPIPE from a client gone while it was answered must not end the server.
    std::signal(SIGPIPE, SIG_IGN);

    UpdateServer server(folder, options);
    // The titles and digests of the circulars, read before the first client comes.
    QElapsedTimer warming;
    warming.start();
    const int circulars = server.warmUp();
    std::fprintf(stderr, "legisdisco-update-server: read %d circulars in %lld ms\n", circulars,
                 warming.elapsed());
    if (!server.listen(address, quint16(port))) {
        complain(QStringLiteral("cannot listen on %1 port %2: %3")
                     .arg(address.toString(), QString::number(port), server.errorString()));
        return 1;
    }

    // SIGTERM (systemd, kill) and SIGINT stop the server gracefully (drain), removing a
    // temporary cache.
    if (::pipe2(stopPipe, O_CLOEXEC) == 0) {
        auto *notifier = new QSocketNotifier(stopPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, [notifier] {
            notifier->setEnabled(false);
            stopSignalled(0);
            QCoreApplication::quit();
        });
        std::signal(SIGTERM, onStopSignal);
        std::signal(SIGINT, onStopSignal);
    }

    QUrl served = server.baseUrl();
    if (!options.publicUrl.isEmpty())
        served = QUrl(options.publicUrl.toString(QUrl::RemoveQuery | QUrl::RemoveFragment |
                                                 QUrl::StripTrailingSlash) +
                      UpdateServer::pathPrefix());
    say(QStringLiteral("Serving the circulars of %1 at %2 (listening on %3 port %4, packages in "
                       "%5, at most %6 connections)")
            .arg(folder, served.toString(), server.serverAddress().toString(),
                 QString::number(server.serverPort()), server.cacheFolder(),
                 QString::number(server.connectionLimit())));
    const int status = app.exec();
    drain(server, drainSeconds);
    return status;
}
