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
                       "mejores primero (ruta[#page=N], título, fragmento y el estado de la "
                       "circular según el catálogo firmado, separados por tabuladores), y "
                       "termina."),
        QStringLiteral("TEXTO")};
    QCommandLineOption limit{
        QStringList{QStringLiteral("limit")},
        QStringLiteral("Con --search, muestra a lo sumo los N mejores resultados (20 si no se "
                       "indica; 0: todos). Si hay más, lo dice en la salida de errores, no en "
                       "la de resultados."),
        QStringLiteral("N")};
    QCommandLineOption verify{
        QStringList{QStringLiteral("verify")},
        QStringLiteral("Comprueba, sin ventana, las circulares y páginas de la colección con "
                       "el catálogo firmado por el publicador: una línea por archivo "
                       "modificado, ausente o que no figura en él; termina con 0 si todo "
                       "coincide.")};
    QCommandLineOption noUpdateCheck{
        QStringList{QStringLiteral("no-update-check")},
        QStringLiteral("No consulta al servidor de actualizaciones al iniciar si hay "
                       "circulares nuevas (solo en esta ejecución).")};
};

// The options the window toolkit takes for itself (QApplication removes them),
// known here too, so that the arguments read before the toolkit has taken them
// are read right: "-platform offscreen" is an option and its value, not a
// document named "offscreen".
struct ToolkitOption {
    const char *name;
    bool takesValue;
};
constexpr ToolkitOption toolkitOptions[] = {
    {"platform", true},
    {"platformpluginpath", true},
    {"platformtheme", true},
    {"plugin", true},
    {"qwindowgeometry", true},
    {"qwindowicon", true},
    {"qwindowtitle", true},
    {"reverse", false},
    {"session", true},
    {"display", true},
    {"name", true},
    {"geometry", true},
    {"style", true},
    {"stylesheet", true},
    {"widgetcount", false},
    {"nograb", false},
    {"dograb", false},
    {"sync", false},
    {"qmljsdebugger", true},
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
                       options.search, options.limit, options.verify, options.noUpdateCheck});
    parser.addPositionalArgument(
        QStringLiteral("DOCUMENTO"),
        QStringLiteral("Abre la circular de ese número (1003) o el documento de la colección de "
                       "esa ruta (circulares/1003.pdf). Si el programa ya está abierto para la "
                       "colección, lo abre en su ventana y la trae al frente."),
        QStringLiteral("[DOCUMENTO]"));
    for (const ToolkitOption &toolkit : toolkitOptions) {
        QCommandLineOption option(QLatin1String(toolkit.name));
        if (toolkit.takesValue) {
            option.setValueName(QStringLiteral("VALOR"));
        }
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

} // namespace

QString earlyProblem(const QStringList &arguments)
{
    const CommandLine line = parseCommandLine(arguments);
    if (line.mode == CommandLine::Mode::Error) {
        return line.error;
    }
    if (!line.collection.isEmpty() && !QFileInfo(line.collection).isDir()) {
        return QStringLiteral("La carpeta de la colección no existe: %1").arg(line.collection);
    }
    return {};
}

namespace {
// Whether the options ask for something that ends without a window.
bool asksForCommand(const QCommandLineParser &parser, const Options &options)
{
    return parser.isSet(options.help) || parser.isSet(options.version) ||
           parser.isSet(options.installPackage) || parser.isSet(options.search) ||
           parser.isSet(options.verify);
}
} // namespace

bool wantsCommandOnly(const QStringList &arguments)
{
    QCommandLineParser parser;
    const Options options;
    describe(parser, options);
    parser.parse(ownArguments(arguments));
    // Read the way parseCommandLine reads them, whatever else is wrong.
    return asksForCommand(parser, options);
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
        const QStringList unknown = parser.unknownOptionNames();
        line.error = unknown.isEmpty()
                         ? parser.errorText()
                         : QStringLiteral("Opción desconocida: %1").arg(unknown.first());
        return line;
    }
    // One document, and only for the window.
    const QStringList positional = parser.positionalArguments();
    const bool command = asksForCommand(parser, options);
    if (positional.size() > (command ? 0 : 1)) {
        line.mode = CommandLine::Mode::Error;
        line.error = QStringLiteral("Argumento inesperado: %1").arg(positional.at(command ? 0 : 1));
        return line;
    }
    line.document = positional.value(0);
    line.packageFile = parser.value(options.installPackage);
    line.searchText = parser.value(options.search);
    line.noUpdateCheck = parser.isSet(options.noUpdateCheck);
    if (parser.isSet(options.limit)) {
        bool number = false;
        const QString value = parser.value(options.limit);
        line.searchLimit = value.toInt(&number);
        if (!number || line.searchLimit < 0 || !parser.isSet(options.search)) {
            line.mode = CommandLine::Mode::Error;
            line.error = parser.isSet(options.search)
                             ? QStringLiteral("Número de resultados no válido para --limit "
                                              "(0: todos): %1")
                                   .arg(value)
                             : QStringLiteral("La opción --limit solo sirve con --search");
            return line;
        }
    }
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
