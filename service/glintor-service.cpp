// glintor-service: shows the pointer-locating animation on Ctrl+Alt+M, on a mouse shake or on a
// Ctrl press that reaches the service.

#include "glintor.h"
#include "globalkeyhandler.h"
#include "translationloader.h"
#include "x11support.h"

#include <QApplication>
#include <QCursor>
#include <QDebug>
#include <QDir>
#include <QLibraryInfo>
#include <QSocketNotifier>
#include <QTranslator>

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

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

constexpr unsigned int CtrlAlt = ControlMask | Mod1Mask; // 12
constexpr unsigned int CtrlAltNumLock = CtrlAlt | Mod2Mask; // 28

void closeHotkeyGate()
{
    std::lock_guard<std::mutex> lock(g_hotkeyGateMutex);
    g_hotkeyGateOpen = false;
}

void handOverHotkeyPress(Glintor *overlay)
{
    std::lock_guard<std::mutex> lock(g_hotkeyGateMutex);
    if (!g_hotkeyGateOpen)
        return;
    const QPoint position = QCursor::pos();
    if (g_debugMode)
        qDebug() << "Hotkey Ctrl+Alt+M pressed at position:" << position;
    QMetaObject::invokeMethod(overlay, "startAnimation", Qt::QueuedConnection, Q_ARG(QPoint, position));
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

    if (g_keyHandler)
        g_keyHandler->shutdown();
    QCoreApplication::quit();
}

void readSignals()
{
    unsigned char sig = 0;
    while (::read(g_signalSocket[1], &sig, 1) == 1)
        handleSignal(sig);
}

} // namespace

// Qt tries its X11 platform unless told otherwise, and aborts when it cannot connect. With only a
// Wayland display, use Qt's Wayland platform where it is installed. Returns false when the user
// chose no platform and none can work, so that the caller can end with a message instead.
bool choosePlatformWithoutX11(int argc, char *argv[])
{
    if (std::getenv("DISPLAY") || std::getenv("QT_QPA_PLATFORM"))
        return true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "-display") == 0)
            return true;
    }
    QStringList pluginFolders = QString::fromLocal8Bit(qgetenv("QT_PLUGIN_PATH")).split(QLatin1Char(':'), Qt::SkipEmptyParts);
    pluginFolders << QLibraryInfo::location(QLibraryInfo::PluginsPath);
    for (const QString &folder : pluginFolders) {
        const QDir platforms(folder + QStringLiteral("/platforms"));
        if (!platforms.entryList({ QStringLiteral("libqwayland*.so") }, QDir::Files).isEmpty()) {
            qputenv("QT_QPA_PLATFORM", "wayland");
            return true;
        }
    }
    return false;
}

// Only async-signal-safe work here: pass the signal number on to the event loop.
void signalHandler(int sig)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(sig);
    const ssize_t written = ::write(g_signalSocket[0], &byte, 1);
    (void)written;
    errno = savedErrno;
}

void hotkeyListener(Glintor *overlay)
{
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        if (g_debugMode)
            qWarning() << "XOpenDisplay failed: cannot register global hotkey";
        return;
    }

    KeyCode keycode = XKeysymToKeycode(display, XK_M);
    if (!X11Support::grabKey(display, keycode, CtrlAlt) && g_debugMode)
        qWarning() << "Cannot grab hotkey Ctrl+Alt+M - possibly already grabbed by another application";
    X11Support::grabKey(display, keycode, CtrlAltNumLock);

    // With motion events to wake it, the shake poll may sleep while the pointer rests.
    const int xinputOpcode = X11Support::selectPointerMotion(display);
    if (xinputOpcode >= 0) {
        std::lock_guard<std::mutex> lock(g_hotkeyGateMutex);
        if (g_hotkeyGateOpen && g_keyHandler) {
            GlobalKeyHandler *keyHandler = g_keyHandler;
            QMetaObject::invokeMethod(keyHandler, [keyHandler] { keyHandler->enableRestSleep(); }, Qt::QueuedConnection);
        }
    }

    for (;;) {
        XEvent event;
        XNextEvent(display, &event);

        if (X11Support::isPointerMotion(event, xinputOpcode)) {
            wakeShakePoll();
            continue;
        }

        if (event.type == MappingNotify) {
            // A new keyboard mapping (XTEST clients send one when they first type) may move M.
            XRefreshKeyboardMapping(&event.xmapping);
            const KeyCode newKeycode = XKeysymToKeycode(display, XK_M);
            if (newKeycode != keycode && newKeycode != 0) {
                XUngrabKey(display, keycode, CtrlAlt, DefaultRootWindow(display));
                XUngrabKey(display, keycode, CtrlAltNumLock, DefaultRootWindow(display));
                keycode = newKeycode;
                X11Support::grabKey(display, keycode, CtrlAlt);
                X11Support::grabKey(display, keycode, CtrlAltNumLock);
            }
            continue;
        }

        if (event.type != KeyPress || static_cast<KeyCode>(event.xkey.keycode) != keycode
            || (event.xkey.state & CtrlAlt) != CtrlAlt)
            continue;

        handOverHotkeyPress(overlay);
    }
}

static int runService(int &argc, char **argv);

// Present in sanitizer builds only: runs LeakSanitizer's check, which a quick exit would skip.
extern "C" void __lsan_do_leak_check() __attribute__((weak));

int main(int argc, char *argv[])
{
    // Xlib is used from the hotkey thread and the main thread.
    XInitThreads();

    const char *x11Display = std::getenv("DISPLAY");
    const char *waylandDisplay = std::getenv("WAYLAND_DISPLAY");
    if (!x11Display && !waylandDisplay) {
        std::fputs("No graphical display found (DISPLAY or WAYLAND_DISPLAY unset). Exiting.\n", stderr);
        return 1;
    }

    // The handler only writes to the socket, so it goes in before Qt starts up: a SIGTERM that
    // comes during start-up then waits in the socket and ends the event loop as soon as it runs,
    // instead of killing the half-started process.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, g_signalSocket) != 0) {
        std::perror("Cannot create the signal socket");
        return 1;
    }
    std::signal(SIGINT, signalHandler);
    std::signal(SIGTERM, signalHandler);
    std::signal(SIGUSR1, signalHandler);

    if (!choosePlatformWithoutX11(argc, argv)) {
        std::fputs("No X11 display (DISPLAY unset) and no Qt Wayland platform plugin (qtwayland5). Exiting.\n",
                   stderr);
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
// in order: key handler, overlay, translator, application.
static int runService(int &argc, char **argv)
{
    // Qt's X11 platform loads its OpenGL integration (Mesa, about 48 MB resident) when the first
    // window is shown, though the service paints with the raster engine only. A choice of the
    // user's stands.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    QApplication app(argc, argv);
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        X11Support::installIOErrorHandler();

    QTranslator translator;
    installGlintorTranslation(translator);

    const QStringList arguments = QCoreApplication::arguments().mid(1);
    for (const QString &argument : arguments) {
        if (argument == QLatin1String("--debug")) {
            g_debugMode = true;
        } else if (argument == QLatin1String("--help")) {
            std::fputs("Usage:\n"
                       "  ./glintor-service          # Normal mode\n"
                       "  ./glintor-service --debug  # Debug mode\n"
                       "  ./glintor-service --help   # Show help\n",
                       stdout);
            return 0;
        }
    }

    if (g_debugMode)
        qDebug() << "Running service in debug mode";

    QSocketNotifier signalNotifier(g_signalSocket[1], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &signalNotifier, [] { readSignals(); });

    Glintor overlay;
    g_glintor = &overlay;

    GlobalKeyHandler keyHandler(&overlay);
    g_keyHandler = &keyHandler;
    app.installEventFilter(&keyHandler);

    {
        std::lock_guard<std::mutex> lock(g_hotkeyGateMutex);
        g_hotkeyGateOpen = true;
    }
    std::thread(hotkeyListener, &overlay).detach();

    if (g_debugMode)
        qDebug() << "Glintor服务已启动";

    const int result = app.exec();
    closeHotkeyGate();
    return result;
}
