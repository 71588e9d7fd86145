// glintor-service: shows the pointer-locating animation on its hotkey (Ctrl+Alt+M by default), on a
// mouse shake, on a tap of Ctrl alone where that is switched on, or on a Ctrl press that reaches the
// service.

#include "displaycheck.h"
#include "glintor.h"
#include "glintorsettings.h"
#include "globalkeyhandler.h"
#include "hotkey.h"
#include "hotkeylistener.h"
#include "locatebus.h"
#include "locateinterface.h"
#include "translationloader.h"
#include "waylandsupport.h"
#include "x11support.h"

#include <QApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusError>
#include <QDebug>
#include <QFile>
#include <QSettings>
#include <QSocketNotifier>
#include <QTranslator>

#include <X11/Xlib.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

bool g_debugMode = false;
Glintor *g_glintor = nullptr;
GlobalKeyHandler *g_keyHandler = nullptr;

namespace {

// The detached hotkey thread outlives main's objects; it hands a press over only while the
// overlay exists, and main closes this gate before it tears the overlay down.
std::mutex g_hotkeyGateMutex;
bool g_hotkeyGateOpen = false;

// Written by the signal handler, read by a QSocketNotifier on the main thread.
int g_signalSocket[2] = { -1, -1 };

sigset_t handledSignals()
{
    sigset_t handled;
    sigemptyset(&handled);
    sigaddset(&handled, SIGINT);
    sigaddset(&handled, SIGTERM);
    sigaddset(&handled, SIGUSR1);
    return handled;
}

void printUsage()
{
    // QSettings names the file without an application object; XDG_CONFIG_HOME moves it.
    const QByteArray settingsFile
        = QFile::encodeName(QSettings(GlintorSettings::Organization, GlintorSettings::Application).fileName());
    std::printf("Usage: glintor-service [--debug] [--help]\n"
                "Shows where the mouse pointer is on its hotkey (Ctrl+Alt+M unless the settings choose another)\n"
                "or a quick side-to-side shake of the mouse.\n"
                "  --debug  also log the start-up, the signals and every hotkey press\n"
                "  --help   show this help and exit\n"
                "Settings: %s (edited with glintor-gui)\n"
                "Signals:  SIGUSR1 re-reads colorMode and animationEffect; SIGINT and SIGTERM stop the service\n"
                "Log:      standard error; under systemd: journalctl --user -u glintor.service\n",
                settingsFile.constData());
}

void closeHotkeyGate()
{
    std::lock_guard<std::mutex> lock(g_hotkeyGateMutex);
    g_hotkeyGateOpen = false;
}

// Runs on the hotkey thread for a hotkey press or a Ctrl tap: what names it in the debug log. The
// pointer is read on the main thread, which owns the screens that QCursor::pos() reads.
void handOverTrigger(Glintor *overlay, const QString &what)
{
    std::lock_guard<std::mutex> lock(g_hotkeyGateMutex);
    if (!g_hotkeyGateOpen)
        return;
    QMetaObject::invokeMethod(
        overlay,
        [overlay, what] {
            const QPoint position = QCursor::pos();
            if (g_debugMode)
                qDebug().noquote() << what << "at position:" << position;
            overlay->startAnimation(position);
        },
        Qt::QueuedConnection);
}

// Runs on the hotkey thread for each pointer motion; wakes a sleeping shake poll.
void wakeShakePoll()
{
    std::lock_guard<std::mutex> lock(g_hotkeyGateMutex);
    if (!g_hotkeyGateOpen || !g_keyHandler || !g_keyHandler->wakeOnMotion())
        return;
    GlobalKeyHandler *keyHandler = g_keyHandler;
    QMetaObject::invokeMethod(keyHandler, [keyHandler] { keyHandler->resumePolling(); }, Qt::QueuedConnection);
}

// Runs on the hotkey thread once pointer motion will reach wakeShakePoll.
void allowShakePollToSleep()
{
    std::lock_guard<std::mutex> lock(g_hotkeyGateMutex);
    if (!g_hotkeyGateOpen || !g_keyHandler)
        return;
    GlobalKeyHandler *keyHandler = g_keyHandler;
    QMetaObject::invokeMethod(keyHandler, [keyHandler] { keyHandler->enableRestSleep(); }, Qt::QueuedConnection);
}

void stopService()
{
    if (g_keyHandler)
        g_keyHandler->shutdown();
    QCoreApplication::quit();
}

// Runs on the hotkey thread once a newer service has taken the display's selection and this one's
// hotkey connection is closed: this one goes as on SIGTERM.
void handOverToNewerService()
{
    qInfo("Another glintor-service took over this display. Exiting.");
    std::lock_guard<std::mutex> lock(g_hotkeyGateMutex);
    if (g_hotkeyGateOpen)
        QMetaObject::invokeMethod(QCoreApplication::instance(), [] { stopService(); }, Qt::QueuedConnection);
}

// The triggers the hotkey thread serves, read from the settings at start-up. A hotkey the service
// cannot use falls back to the default; an empty one means the user wants none.
HotkeyListener::Settings readTriggerSettings()
{
    using namespace GlintorSettings;
    QSettings settings(Organization, Application);
    HotkeyListener::Settings triggers;
    triggers.debug = g_debugMode;
    triggers.ctrlTap = settings.value(Key::EnableCtrlTap, Default::EnableCtrlTap).toBool();
    const QVariant stored = settings.value(Key::Hotkey);
    Hotkey::Problem refused = Hotkey::Problem::Accepted;
    triggers.hotkey = Hotkey::fromSetting(stored, &refused);
    if (refused != Hotkey::Problem::Accepted)
        qWarning().noquote() << QStringLiteral("Setting hotkey=%1 is not one combination with Ctrl, Alt or Meta, nor a "
                                               "function key; using %2")
                                    .arg(Hotkey::settingText(stored), QLatin1String(Default::Hotkey));
    return triggers;
}

// Reacts to a signal that the asynchronous handler has passed through the socket.
void handleSignal(int sig)
{
    if (g_debugMode)
        qDebug() << "Interrupt signal (" << sig << ") received.";

    if (sig == SIGUSR1) {
        if (g_glintor) {
            QMetaObject::invokeMethod(g_glintor, "loadSettings", Qt::QueuedConnection);
            if (g_debugMode)
                qDebug() << "Reloaded settings due to SIGUSR1 signal";
        }
        return;
    }

    stopService();
}

void readSignals()
{
    unsigned char sig = 0;
    while (::read(g_signalSocket[1], &sig, 1) == 1)
        handleSignal(sig);
}

} // namespace

static QtMessageHandler g_qtMessageHandler = nullptr;

// Qt's platforms end the process with status 1 when the display's connection breaks, the status
// that means "no display" to the user unit, which then gives up. The X server or the compositor may
// be restarting within the session (KDE's can): end with the status the unit restarts on instead.
static void endForRestartOnDisplayLoss(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    g_qtMessageHandler(type, context, message);
    if (type == QtWarningMsg
        && (message.startsWith(QLatin1String("The X11 connection broke"))
            || message.startsWith(QLatin1String("The Wayland connection broke"))
            || message.startsWith(QLatin1String("The Wayland connection experienced a fatal error"))))
        ::_exit(DisplayCheck::DisplayLostStatus);
}

// Set just before the event loop runs, which reads the socket. Until then SIGINT and SIGTERM end
// the process at once: start-up may wait for an X server that accepts and never answers, and a
// stop must not wait for it.
volatile sig_atomic_t g_loopTakesSignals = 0;

// Only async-signal-safe work here: pass the signal number on to the event loop.
void signalHandler(int sig)
{
    if (sig != SIGUSR1 && !g_loopTakesSignals)
        ::_exit(0);
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(sig);
    const ssize_t written = ::write(g_signalSocket[0], &byte, 1);
    (void)written;
    errno = savedErrno;
}

static int runService(int &argc, char **argv);

// Present in sanitizer builds only: runs LeakSanitizer's check, which a quick exit would skip.
extern "C" void __lsan_do_leak_check() __attribute__((weak));

int main(int argc, char *argv[])
{
    // A SIGUSR1 that came before the handler is in place would kill the process: hold the signals
    // back for the few steps until it is.
    const sigset_t handled = handledSignals();
    pthread_sigmask(SIG_BLOCK, &handled, nullptr);
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, g_signalSocket) != 0) {
        std::perror("Cannot create the signal socket");
        return 1;
    }
    std::signal(SIGINT, signalHandler);
    std::signal(SIGTERM, signalHandler);
    std::signal(SIGUSR1, signalHandler);
    // A log reader or terminal that went away must not end a background service.
    std::signal(SIGPIPE, SIG_IGN);
    pthread_sigmask(SIG_UNBLOCK, &handled, nullptr);

    // Xlib is used from the hotkey thread and the main thread.
    XInitThreads();

    // Help works anywhere, also without a display (over ssh, on a console).
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            printUsage();
            return 0;
        }
    }

    // Qt's -display option names the X server; the service's own connections (the hotkey, the
    // overlay's raise) open DISPLAY, so make them one.
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "-display") == 0)
            ::setenv("DISPLAY", argv[i + 1], 1);
    }
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) {
        std::fputs(DisplayCheck::NoDisplayLine, stderr);
        return 1;
    }
    // A display that does not answer would make Qt abort with a core dump, and systemd restart the
    // service in a loop; status 1 stops the unit's restarts.
    const std::string displayProblem = DisplayCheck::problem(argc, argv, DisplayCheck::PlatformChoice::LayerShellFirst);
    if (!displayProblem.empty()) {
        std::fputs(displayProblem.c_str(), stderr);
        return 1;
    }

    const int result = runService(argc, argv);

    // The detached hotkey thread may still be inside Xlib (it sets up its grabs while the event
    // loop already runs), and the libraries' own destructors at exit pull Xlib's locks away under
    // it: a SIGTERM early in the run then ended in a crash. Every object of ours is gone by now,
    // so leave without those destructors, after the leak check a sanitizer build would run.
    if (__lsan_do_leak_check)
        __lsan_do_leak_check();
    std::fflush(nullptr);
    std::_Exit(result);
}

// Says once what the service can see on a Wayland desktop.
static void logWaylandLimits()
{
    if (WaylandSupport::active()) {
        qInfo("On Wayland the compositor gives no program the keys or the pointer's motion: the hotkey, the "
              "shake and the Ctrl tap are off. Bind a key to glintor-locate in the compositor's settings instead");
    } else if (DisplayCheck::waylandDesktop() == DisplayCheck::WaylandDesktop::NoLayerShell) {
        qInfo("This Wayland compositor offers no layer-shell: glintor-service runs through XWayland and sees "
              "the pointer and the keys only while they are over X11 windows");
    } else if (DisplayCheck::waylandDesktop() == DisplayCheck::WaylandDesktop::LayerShell) {
        qInfo("Running through XWayland as QT_QPA_PLATFORM chose: glintor-service sees the pointer and the keys "
              "only while they are over X11 windows");
    }
}

// The service on a Wayland compositor with layer-shell: glintor-locate and the bus are its only
// triggers, and the newest service of the display keeps the bus name. Without the name nothing
// could ever trigger it: false then, after one line that says why.
static bool serveWayland(LocateInterface &locateInterface)
{
    QObject::connect(&locateInterface, &LocateInterface::nameLost, &locateInterface, [] {
        qInfo("Another glintor-service took over this display. Exiting.");
        stopService();
    });
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        qWarning().noquote() << "No D-Bus session bus (" + bus.lastError().message()
                + "): on Wayland glintor-locate is this service's only trigger. Exiting.";
        return false;
    }
    if (!locateInterface.registerOn(bus, LocateBus::serviceName(true), LocateInterface::OnLoss::StepAside)) {
        qWarning("Nothing can trigger this service on Wayland without its bus name. Exiting.");
        return false;
    }
    return true;
}

// Creates the application and the service's objects, runs the event loop and tears them down
// in order: key handler, overlay, translator, application.
static int runService(int &argc, char **argv)
{
    // Every window of the service is a layer surface on Wayland: the overlay and the surfaces that
    // find the pointer.
    if (DisplayCheck::qtPlatformIsWayland(argc, argv))
        WaylandSupport::useLayerShell();
    g_qtMessageHandler = qInstallMessageHandler(endForRestartOnDisplayLoss);
    // Qt's X11 platform loads its OpenGL integration (Mesa, about 48 MB resident) when the first
    // window is shown, though the service paints with the raster engine only. A choice of the
    // user's stands.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    QApplication app(argc, argv);
    DisplayCheck::forgetPlatformChoice();
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        X11Support::installIOErrorHandler();

    QTranslator translator;
    installGlintorTranslation(translator);

    // --help has been answered before the display check.
    if (QCoreApplication::arguments().mid(1).contains(QLatin1String("--debug")))
        g_debugMode = true;

    if (g_debugMode)
        qDebug() << "Running service in debug mode";
    logWaylandLimits();

    QSocketNotifier signalNotifier(g_signalSocket[1], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &signalNotifier, [] { readSignals(); });

    Glintor overlay;
    g_glintor = &overlay;

    // glintor-locate, desktop shortcuts and scripts reach the service over the session bus. It takes
    // the display's bus name once it is the display's service, so that the name goes with the
    // selection to the newest service.
    LocateInterface locateInterface(&overlay);

    if (WaylandSupport::active()) {
        if (!serveWayland(locateInterface))
            return 1;
        g_loopTakesSignals = 1;
        return app.exec();
    }

    GlobalKeyHandler keyHandler(&overlay);
    g_keyHandler = &keyHandler;
    app.installEventFilter(&keyHandler);

    {
        std::lock_guard<std::mutex> lock(g_hotkeyGateMutex);
        g_hotkeyGateOpen = true;
    }
    HotkeyListener::Host host;
    host.trigger = [overlay = &overlay](const QString &what) { handOverTrigger(overlay, what); };
    host.pointerMoved = wakeShakePoll;
    host.motionEventsSelected = allowShakePollToSleep;
    host.newerServiceTookOver = handOverToNewerService;
    host.becameDisplaysService = [locate = &locateInterface] {
        std::lock_guard<std::mutex> lock(g_hotkeyGateMutex);
        if (g_hotkeyGateOpen)
            QMetaObject::invokeMethod(
                locate, [locate] { locate->registerOn(QDBusConnection::sessionBus(), LocateBus::serviceName(false)); },
                Qt::QueuedConnection);
    };
    std::thread([listener = HotkeyListener(readTriggerSettings(), host)]() mutable { listener.run(); }).detach();

    // From here on a signal waits in the socket for the event loop: said before the line that tells
    // the service runs, so that whoever acts on the line finds its signals handled.
    g_loopTakesSignals = 1;
    if (g_debugMode)
        qDebug() << "Glintor服务已启动";

    const int result = app.exec();
    closeHotkeyGate();
    return result;
}
