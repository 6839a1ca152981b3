// legisdisco-screens --program-folder DIR --out DIR [--update-url URL]
//
// Shows the viewer's windows one after the other, the way a person meets them, and saves
// a PNG of each into the output folder:
//
//   main-page.png          the main window with the home page
//   main-pdf.png           the main window with a PDF manual
//   main-design-size.png   the main window at its design size
//   frmdatos.png           the user-data form
//   firstdialog.png        the first-run subscription offer
//   frmactualiza-open.png  the update window once the server's list has loaded
//   frmactualiza.png       the update window with the missing circulars listed and the
//                          server's answer shown
//   frmproxytest.png       the proxy dialog as it opens
//   frmproxytest-on.png    the proxy dialog with "Utilizar un proxy server" ticked
//   frmproxytest-off.png   the proxy dialog with that box unticked again
//
// The windows get the real platform services, wired as in the program's main(), on
// DIR, which must be a scratch copy of a program folder: its settings file is
// rewritten (user data, no first-run offer, the update server at URL). Message boxes
// that open on the way are saved as message-N.png, reported and closed. Every image is
// what the screen shows where the window lies, so run it on a display of its own (Xvfb).
// Exits 1 when a step did not reach the state it waits for.

#include "classicfont.h"
#include "coolbar.h"
#include "deferredservices.h"
#include "featuremodule.h"
#include "filedownloadfolderstore.h"
#include "fileproxystore.h"
#include "filewindowplacementstore.h"
#include "firstdialog.h"
#include "frmactualiza.h"
#include "frmbrowser.h"
#include "frmdatos.h"
#include "frmproxytest.h"
#include "iniprofilefile.h"
#include "localsocketinstancechannel.h"
#include "lockfileinstanceguard.h"
#include "networkprobe.h"
#include "qtdocumentdialogs.h"
#include "qtfiledownload.h"
#include "qtmessageboxes.h"
#include "qtprogramrestart.h"
#include "qtupdatefeed.h"
#include "qtwebbrowser.h"
#include "qtwindowservice.h"
#include "twips.h"
#include "utility.h"
#include "xdgshell.h"

#include <QApplication>
#include <QCheckBox>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMessageBox>
#include <QPixmap>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QTranslator>
#include <QWebEngineProfile>
#include <QWebEngineSettings>

#include <cstdio>
#include <functional>

namespace {

void say(const QString &line)
{
    std::fprintf(stderr, "legisdisco-screens: %s\n", qPrintable(line));
}

// Lets the program run until done answers true or timeoutMs have passed.
bool waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) {
            return false;
        }
        QEventLoop loop;
        QTimer::singleShot(50, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

void settle(int ms)
{
    waitUntil([] { return false; }, ms);
}

void reportFit(QWidget *window);

class Camera {
public:
    explicit Camera(const QString &folder)
        : m_folder(folder)
    {
    }

    // Saves what the screen shows where window lies.
    bool shoot(QWidget *window, const QString &name)
    {
        window->raise();
        window->activateWindow();
        settle(400);
        reportFit(window);
        QPixmap image;
        if (QScreen *screen = window->screen()) {
            const QRect area = window->frameGeometry();
            image = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
        }
        if (image.isNull()) {
            image = window->grab();
        }
        const QString path = QDir(m_folder).filePath(name);
        if (image.isNull() || !image.save(path)) {
            say(QStringLiteral("could not save %1").arg(path));
            m_failed = true;
            return false;
        }
        say(QStringLiteral("saved %1 (%2 x %3)").arg(path).arg(image.width()).arg(image.height()));
        return true;
    }

    void fail(const QString &what)
    {
        say(what);
        m_failed = true;
    }

    bool failed() const { return m_failed; }
    QString folder() const { return m_folder; }

private:
    QString m_folder;
    bool m_failed = false;
};

// Saves and closes any message box that opens, so that no step waits on one.
class MessageWatch : public QObject {
public:
    explicit MessageWatch(Camera &camera)
        : m_camera(camera)
    {
        auto *timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, &MessageWatch::check);
        timer->start(200);
    }

private:
    void check()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || box->property("seen").toBool()) {
            return;
        }
        box->setProperty("seen", true);
        ++m_count;
        m_camera.fail(QStringLiteral("a message box opened: \"%1\"").arg(box->text()));
        m_camera.shoot(box, QStringLiteral("message-%1.png").arg(m_count));
        box->accept();
    }

    Camera &m_camera;
    int m_count = 0;
};

// Reports, once per window, the controls whose contents need more room than they
// have: a caption wider than its control, a text taller than its label, a box lower
// than a line of its font.
void reportFit(QWidget *window)
{
    static QSet<QString> reported;
    if (reported.contains(window->objectName())) {
        return;
    }
    reported.insert(window->objectName());
    const auto report = [window](QWidget *control, const QSize &needs) {
        say(QStringLiteral("%1/%2 needs %3 x %4 px, has %5 x %6")
                .arg(window->objectName(), control->objectName())
                .arg(needs.width())
                .arg(needs.height())
                .arg(control->width())
                .arg(control->height()));
    };
    const QList<QWidget *> controls = window->findChildren<QWidget *>();
    for (QWidget *control : controls) {
        if (!control->isVisibleTo(window) || control->objectName().isEmpty()) {
            continue;
        }
        const int lineHeight = control->fontMetrics().height();
        if (auto *label = qobject_cast<QLabel *>(control)) {
            if (label->text().isEmpty()) {
                continue;
            }
            const QSize needs = label->wordWrap()
                                    ? QSize(label->width(), label->heightForWidth(label->width()))
                                    : label->sizeHint();
            if (needs.width() > label->width() || needs.height() > label->height()) {
                report(label, needs);
            }
        } else if (auto *button = qobject_cast<QAbstractButton *>(control)) {
            if (button->inherits("WrappingButton") || button->inherits("QToolButton")) {
                continue;
            }
            const QSize needs(button->sizeHint().width(), lineHeight);
            if (needs.width() > button->width() || needs.height() > button->height()) {
                report(button, needs);
            }
        } else if (auto *box = qobject_cast<QLineEdit *>(control)) {
            // A frame of two pixels above and below the text.
            if (lineHeight + 4 > box->height()) {
                report(box, QSize(box->width(), lineHeight + 4));
            }
        } else if (auto *frame = qobject_cast<QGroupBox *>(control)) {
            if (frame->minimumSizeHint().width() > frame->width()) {
                report(frame, QSize(frame->minimumSizeHint().width(), frame->height()));
            }
        }
    }
}

// Waits for browser to report that address has loaded.
bool waitForDocument(WebBrowser *browser, const std::function<void()> &start, int timeoutMs)
{
    bool complete = false;
    const QMetaObject::Connection connection = QObject::connect(
        browser, &WebBrowser::DocumentComplete, browser, [&complete] { complete = true; });
    start();
    const bool done = waitUntil([&complete] { return complete; }, timeoutMs);
    QObject::disconnect(connection);
    return done;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("legisdisco-screens"));
    QCoreApplication::setOrganizationName(QStringLiteral("Legisdisco"));
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Saves a picture of every window of Legisdisco."));
    parser.addHelpOption();
    const QCommandLineOption folderOption(
        QStringLiteral("program-folder"),
        QStringLiteral("Scratch copy of a program folder; its settings are rewritten."),
        QStringLiteral("DIR"));
    const QCommandLineOption outOption(
        QStringLiteral("out"), QStringLiteral("Folder for the PNG files."), QStringLiteral("DIR"));
    const QCommandLineOption updateOption(
        QStringLiteral("update-url"),
        QStringLiteral("Address of the update server, ending in /Normativa/."),
        QStringLiteral("URL"), QStringLiteral("http://127.0.0.1:8731/Normativa/"));
    parser.addOption(folderOption);
    parser.addOption(outOption);
    parser.addOption(updateOption);
    parser.process(app);
    if (!parser.isSet(folderOption) || !parser.isSet(outOption)) {
        say(QStringLiteral("--program-folder and --out are required (see --help)"));
        return 2;
    }
    const QString programFolder = QDir(parser.value(folderOption)).absolutePath();
    const QString outFolder = QDir(parser.value(outOption)).absolutePath();
    QDir().mkpath(outFolder);

    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale(QLocale::Spanish), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(&qtTranslator);
    }
    useClassicDialogFont();

    // The real services, as main() wires them, kept to the scratch folder: the proxy
    // record and the download folder live beside it, the browser keeps nothing on disk.
    const QString scratch = QFileInfo(programFolder).absolutePath();
    IniProfileFile profile;
    NetworkProbe probe;
    XdgShell shell;
    QtMessageBoxes messages;
    LockFileInstanceGuard instance(CollectionId::of(programFolder));
    QtDocumentDialogs dialogs;
    QWebEngineProfile engineProfile;
    engineProfile.settings()->setAttribute(QWebEngineSettings::PluginsEnabled, true);
    // The services and printing modules of the program built with this tool.
    SharedObjectModule features(QStringLiteral(SERVICES_MODULE));
    SharedObjectModule printing(QStringLiteral(PRINT_MODULE));
    DeferredPdfDocuments pdf(printing);
    const WebBrowserFactory newBrowser = [&engineProfile, &dialogs,
                                          &pdf](QWidget *parent) -> WebBrowser * {
        return new QtWebBrowser(&engineProfile, dialogs, pdf, parent);
    };
    FileDownloadFolderStore downloadFolders(QDir(scratch).filePath(QStringLiteral("download")));
    QtFileDownload fileDownload(&engineProfile, downloadFolders);
    QtWindowService windows;
    FileProxyStore proxyStore(QDir(scratch).filePath(QStringLiteral("proxy.json")),
                              QProcessEnvironment());
    // The screenshots never restart anything.
    QtProgramRestart restart(instance, QString(), {}, QProcessEnvironment());
    DeferredPackageInstaller packageInstaller(features);
    LocalSocketInstanceChannel instanceChannel(CollectionId::of(programFolder));
    FileWindowPlacementStore placement(QDir(scratch).filePath(QStringLiteral("ventana.dat")));
    QtUpdateFeed updateFeed(proxyStore.storedRecord());
    const PlatformServices services{
        profile,         probe,        shell,     messages,   instance,         newBrowser,
        downloadFolders, fileDownload, windows,   proxyStore, packageInstaller, restart,
        instanceChannel, updateFeed,   placement, pdf,        features};

    const QString settings = SettingsPath(programFolder);
    bool stored = true;
    const auto store = [&](const char *section, const char *key, const QString &value) {
        stored =
            WriteIniValue(profile, settings, QLatin1String(section), QLatin1String(key), value) &&
            stored;
    };
    store("user", "name", QStringLiteral("Ana María"));
    store("user", "lastname", QStringLiteral("Pérez Núñez"));
    store("user", "email", QStringLiteral("ana.perez@example.org"));
    store("user", "job", QStringLiteral("Oficina de Valores de Ejemplo"));
    store("init", "show", QStringLiteral("0"));
    store("http", "actualizacion", parser.value(updateOption));
    if (!stored) {
        qCritical("cannot write the settings of %s", qPrintable(settings));
        return 1;
    }

    Camera camera(outFolder);
    MessageWatch watch(camera);

    // --- The main window ---------------------------------------------------------------
    frmBrowser window(services, programFolder);
    window.setStartupCheck(false);
    if (!window.Form_Load()) {
        say(QStringLiteral("another instance runs on %1").arg(programFolder));
        return 1;
    }
    const QSize designSize = window.size();
    if (const QScreen *screen = window.screen()) {
        window.move(0, 0);
        window.resize(window.size().expandedTo(screen->availableGeometry().size() * 3 / 4));
    }
    bool homeLoaded = false;
    QObject::connect(window.WebBrowser1, &WebBrowser::DocumentComplete, &window,
                     [&homeLoaded] { homeLoaded = true; });
    window.show();
    if (!waitUntil([&homeLoaded] { return homeLoaded; }, 30000)) {
        camera.fail(QStringLiteral("the home page did not load"));
    }
    settle(1500);
    camera.shoot(&window, QStringLiteral("main-page.png"));

    const QString manual = QDir(programFolder).filePath(QStringLiteral("sistemas/manuales.pdf"));
    if (!waitForDocument(
            window.WebBrowser1, [&] { window.WebBrowser1->Navigate2(manual); }, 30000)) {
        camera.fail(QStringLiteral("the manual did not load"));
    }
    settle(3000);
    camera.shoot(&window, QStringLiteral("main-pdf.png"));

    const QSize roomy = window.size();
    window.resize(designSize);
    settle(1000);
    camera.shoot(&window, QStringLiteral("main-design-size.png"));
    for (QWidget *part :
         std::initializer_list<QWidget *>{window.CoolBar1, window.Toolbar1, window.txtURL,
                                          window.WebBrowser1, window.StatusBar1}) {
        const QRect area(part->mapTo(&window, QPoint(0, 0)), part->size());
        say(QStringLiteral("frmBrowser/%1 at %2, %3, %4 x %5 px")
                .arg(part->objectName())
                .arg(area.x())
                .arg(area.y())
                .arg(area.width())
                .arg(area.height()));
    }
    window.resize(roomy);
    settle(500);

    // --- The user-data form -----------------------------------------------------------
    {
        frmDatos form(profile, messages, programFolder, &window);
        form.show();
        camera.shoot(&form, QStringLiteral("frmdatos.png"));
        form.close();
    }

    // --- The first-run offer ----------------------------------------------------------
    {
        firstDialog prompt(profile, shell, messages, programFolder, &window);
        prompt.chkmostrar->setChecked(false);
        prompt.show();
        camera.shoot(&prompt, QStringLiteral("firstdialog.png"));
        prompt.hide();
    }

    // --- The update window ------------------------------------------------------------
    {
        frmActualiza updates(services, programFolder, &window);
        bool answerShown = false;
        QObject::connect(updates.wbrEjecutable, &WebBrowser::DocumentComplete, &updates,
                         [&answerShown] { answerShown = true; });
        updates.show();
        if (!waitUntil([&] { return updates.btnOK->isEnabled(); }, 30000)) {
            camera.fail(QStringLiteral("the update server's list did not load"));
        }
        camera.shoot(&updates, QStringLiteral("frmactualiza-open.png"));
        updates.btnOK->click();
        if (!waitUntil(
                [&] {
                    return answerShown && updates.btnActualiza->isEnabled() &&
                           updates.listVersion->count() > 0;
                },
                30000)) {
            camera.fail(QStringLiteral("the update window got no answer"));
        }
        settle(1500);
        camera.shoot(&updates, QStringLiteral("frmactualiza.png"));
        updates.hide();
    }

    // --- The proxy dialog -------------------------------------------------------------
    {
        frmProxyTest proxy(proxyStore, messages, &window);
        proxy.show();
        camera.shoot(&proxy, QStringLiteral("frmproxytest.png"));
        if (!proxy.chkUseProxy->isChecked()) {
            proxy.chkUseProxy->click();
        }
        camera.shoot(&proxy, QStringLiteral("frmproxytest-on.png"));
        // Unticked by the user, the rule greys out what depends on the box.
        proxy.chkUseProxy->click();
        camera.shoot(&proxy, QStringLiteral("frmproxytest-off.png"));
        proxy.hide();
    }

    window.hide();
    return camera.failed() ? 1 : 0;
}
