#include "commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

namespace {

const QString webEngineArguments = QStringLiteral("--webEngineArgs");

struct Options {
    QCommandLineOption help{
        QStringList{QStringLiteral("h"), QStringLiteral("help"), QStringLiteral("?")},
        QStringLiteral("Muestra esta ayuda y termina.")};
    QCommandLineOption version{QStringList{QStringLiteral("v"), QStringLiteral("version")},
                               QStringLiteral("Muestra la versión y termina.")};
    QCommandLineOption collection{
        QStringList{QStringLiteral("collection")},
        QStringLiteral("Muestra la colección de CARPETA en lugar de la de la carpeta del "
                       "programa."),
        QStringLiteral("CARPETA")};
    QCommandLineOption installPackage{
        QStringList{QStringLiteral("install-package")},
        QStringLiteral("Instala el paquete de actualización ARCHIVO en la colección, sin "
                       "ventana, y termina."),
        QStringLiteral("ARCHIVO")};
    QCommandLineOption search{
        QStringList{QStringLiteral("search")},
        QStringLiteral("Busca TEXTO en la colección, sin ventana: una línea por resultado, los "
                       "mejores primero (ruta[#page=N], título y fragmento, separados por "
                       "tabuladores), y termina."),
        QStringLiteral("TEXTO")};
    QCommandLineOption verify{
        QStringList{QStringLiteral("verify")},
        QStringLiteral("Comprueba, sin ventana, las circulares y páginas de la colección con "
                       "el catálogo firmado por el publicador: una línea por archivo "
                       "modificado, ausente o que no figura en él; termina con 0 si todo "
                       "coincide.")};
};

QStringList ownArguments(const QStringList &arguments)
{
    const qsizetype engine = arguments.indexOf(webEngineArguments);
    return engine < 0 ? arguments : arguments.first(engine);
}

void describe(QCommandLineParser &parser, const Options &options)
{
    // "-platform offscreen" is the toolkit's one option, not seven letters.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        QStringLiteral("Visor de la colección de normativa: páginas, manuales y circulares."));
    parser.addOptions({options.help, options.version, options.collection, options.installPackage,
                       options.search, options.verify});
}

// The options the window toolkit takes for itself (QApplication removes them).
const QStringList toolkitOptions = {
    QStringLiteral("platform"),
    QStringLiteral("platformpluginpath"),
    QStringLiteral("platformtheme"),
    QStringLiteral("plugin"),
    QStringLiteral("qwindowgeometry"),
    QStringLiteral("qwindowicon"),
    QStringLiteral("qwindowtitle"),
    QStringLiteral("reverse"),
    QStringLiteral("session"),
    QStringLiteral("display"),
    QStringLiteral("name"),
    QStringLiteral("geometry"),
    QStringLiteral("style"),
    QStringLiteral("stylesheet"),
    QStringLiteral("widgetcount"),
    QStringLiteral("nograb"),
    QStringLiteral("dograb"),
    QStringLiteral("sync"),
    QStringLiteral("qmljsdebugger"),
};

} // namespace

QString earlyProblem(const QStringList &arguments)
{
    QCommandLineParser parser;
    const Options options;
    describe(parser, options);
    parser.parse(ownArguments(arguments));
    for (const QString &name : parser.unknownOptionNames()) {
        if (!toolkitOptions.contains(name)) {
            return QStringLiteral("Opción desconocida: %1").arg(name);
        }
    }
    const QString collection = parser.value(options.collection);
    if (parser.isSet(options.collection) && !QFileInfo(collection).isDir()) {
        return QStringLiteral("La carpeta de la colección no existe: %1").arg(collection);
    }
    return {};
}

bool wantsCommandOnly(const QStringList &arguments)
{
    QCommandLineParser parser;
    const Options options;
    describe(parser, options);
    parser.parse(ownArguments(arguments));
    // Read the way parseCommandLine reads them, whatever else is wrong.
    return parser.isSet(options.help) || parser.isSet(options.version) ||
           parser.isSet(options.installPackage) || parser.isSet(options.search) ||
           parser.isSet(options.verify);
}

CommandLine parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    const Options options;
    describe(parser, options);

    CommandLine line;
    const bool parsed = parser.parse(ownArguments(arguments));
    // Read even when something else is wrong: before the toolkit has taken its
    // own options (-platform ...), the collection is still needed.
    line.collection = parser.value(options.collection);
    if (!parsed) {
        line.mode = CommandLine::Mode::Error;
        line.error = parser.errorText();
        return line;
    }
    if (!parser.positionalArguments().isEmpty()) {
        line.mode = CommandLine::Mode::Error;
        line.error =
            QStringLiteral("Argumento inesperado: %1").arg(parser.positionalArguments().first());
        return line;
    }
    line.packageFile = parser.value(options.installPackage);
    line.searchText = parser.value(options.search);
    if (parser.isSet(options.help)) {
        line.mode = CommandLine::Mode::Help;
        line.helpText = parser.helpText();
    } else if (parser.isSet(options.version)) {
        line.mode = CommandLine::Mode::Version;
    } else if (parser.isSet(options.installPackage)) {
        line.mode = CommandLine::Mode::InstallPackage;
    } else if (parser.isSet(options.search)) {
        line.mode = CommandLine::Mode::Search;
    } else if (parser.isSet(options.verify)) {
        line.mode = CommandLine::Mode::Verify;
    }
    return line;
}
