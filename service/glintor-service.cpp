// glintor-service: shows the pointer-locating animation on its hotkey (Ctrl+Alt+M by default), on a
// mouse shake, on a tap of Ctrl alone where that is switched on, or on a Ctrl press that reaches the
// service.

#include "desktop.h"
#include "displaycheck.h"
#include "glintor.h"
#include "glintorsettings.h"
#include "locateinterface.h"
#include "translationloader.h"
#include "waylandsupport.h"
#include "x11support.h"

#include <QApplication>
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

#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

bool g_debugMode = false;
Glintor *g_glintor = nullptr;

namespace {

// The desktop the service runs on, once picked: a stop stops what it polls.
Desktop *g_desktop = nullptr;

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

void stopService()
{
    if (g_desktop)
        g_desktop->stop();
    QCoreApplication::quit();
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

// Creates the application and the service's objects, runs the event loop and tears them down
// in order: the desktop (with the key handler), the bus interface, the overlay, the translator, the
// application.
static int runService(int &argc, char **argv)
{
    // On Wayland every window of the service is a layer surface: the overlay, on each output it
    // touches.
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

    QSocketNotifier signalNotifier(g_signalSocket[1], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &signalNotifier, [] { readSignals(); });

    Glintor overlay;
    g_glintor = &overlay;
    // glintor-locate, desktop shortcuts and scripts reach the service over the session bus.
    LocateInterface locateInterface(&overlay);

    // Pick the desktop, start its triggers, run.
    const std::unique_ptr<Desktop> desktop = Desktop::pick(&overlay, &locateInterface, g_debugMode);
    g_desktop = desktop.get();
    locateInterface.setDesktop(desktop.get());
    QObject::connect(desktop.get(), &Desktop::replaced, desktop.get(), [] { stopService(); });
    if (!desktop->start())
        return 1;

    // From here on a signal waits in the socket for the event loop: said before the line that tells
    // the service runs, so that whoever acts on the line finds its signals handled.
    g_loopTakesSignals = 1;
    if (g_debugMode)
        qDebug() << "Glintor服务已启动";

    const int result = app.exec();
    g_desktop = nullptr;
    return result;
}
