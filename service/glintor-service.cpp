// glintor-service: shows the pointer-locating animation on Ctrl+Alt+M, on a mouse shake or on a
// Ctrl press that reaches the service.

#include "displaycheck.h"
#include "glintor.h"
#include "glintorsettings.h"
#include "globalkeyhandler.h"
#include "translationloader.h"
#include "x11support.h"

#include <QApplication>
#include <QCursor>
#include <QDeadlineTimer>
#include <QDebug>
#include <QFile>
#include <QSettings>
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

constexpr unsigned int CtrlAlt = ControlMask | Mod1Mask; // 12
constexpr unsigned int CtrlAltNumLock = CtrlAlt | Mod2Mask; // 28

// How long a new service waits for the one it replaces to go before it grabs the hotkey anyway.
constexpr int HandoverMs = 2000;
constexpr int GrabRetryMs = 50;

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
                "Shows where the mouse pointer is on Ctrl+Alt+M or a quick side-to-side shake of the mouse.\n"
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

void stopService()
{
    if (g_keyHandler)
        g_keyHandler->shutdown();
    QCoreApplication::quit();
}

// Runs on the hotkey thread when a newer service has taken the display's selection: this one goes
// as on SIGTERM, and its exit releases the hotkey and the selection window the newer one waits for.
void handOverToNewerService()
{
    qInfo("Another glintor-service took over this display. Exiting.");
    std::lock_guard<std::mutex> lock(g_hotkeyGateMutex);
    if (g_hotkeyGateOpen)
        QMetaObject::invokeMethod(QCoreApplication::instance(), [] { stopService(); }, Qt::QueuedConnection);
}

bool grabHotkey(Display *display, KeyCode keycode)
{
    const bool grabbed = X11Support::grabKey(display, keycode, CtrlAlt);
    X11Support::grabKey(display, keycode, CtrlAltNumLock);
    return grabbed;
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

    // One service per X screen, the newest: take the screen's selection over from an older service
    // and let that one go first, so that its hotkey grab is gone before ours is made.
    X11Support::ServiceSelection selection(display);
    switch (selection.claim()) {
    case X11Support::ServiceSelection::Claim::Taken:
        break;
    case X11Support::ServiceSelection::Claim::TakenByNewer:
        handOverToNewerService();
        return;
    case X11Support::ServiceSelection::Claim::Refused:
        qWarning("Cannot take the %s selection: another glintor-service may go on running on this display",
                 selection.name().constData());
        break;
    }
    const bool tookOver = selection.previousOwnerAlive();
    const QDeadlineTimer handover(HandoverMs);
    while (selection.previousOwnerAlive() && !handover.hasExpired()) {
        if (!X11Support::waitForEvent(display, int(handover.remainingTime())))
            continue;
        XEvent event;
        XNextEvent(display, &event);
        if (selection.lostTo(event)) {
            handOverToNewerService();
            return;
        }
    }
    if (tookOver && g_debugMode)
        qDebug() << "Took over from an older glintor-service";

    KeyCode keycode = XKeysymToKeycode(display, XK_M);
    bool grabbed = grabHotkey(display, keycode);
    // The service replaced may hold the grab for a moment after its window went.
    while (!grabbed && tookOver && !handover.hasExpired()) {
        ::usleep(GrabRetryMs * 1000);
        grabbed = grabHotkey(display, keycode);
    }
    if (!grabbed && g_debugMode)
        qWarning() << "Cannot grab hotkey Ctrl+Alt+M - possibly already grabbed by another application";

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

        if (selection.lostTo(event)) {
            handOverToNewerService();
            return;
        }
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
                grabHotkey(display, keycode);
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
    // A SIGUSR1 or SIGTERM that came before the handler is in place would kill the process: hold
    // them back from the start. They are delivered, not lost, once the handler can take them.
    const sigset_t handled = handledSignals();
    pthread_sigmask(SIG_BLOCK, &handled, nullptr);

    // Xlib is used from the hotkey thread and the main thread.
    XInitThreads();

    // Help works anywhere, also without a display (over ssh, on a console).
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            printUsage();
            return 0;
        }
    }

    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) {
        std::fputs(DisplayCheck::NoDisplayLine, stderr);
        return 1;
    }
    // A display that does not answer would make Qt abort with a core dump, and systemd restart the
    // service in a loop; status 1 stops the unit's restarts.
    const std::string displayProblem = DisplayCheck::problem(argc, argv);
    if (!displayProblem.empty()) {
        std::fputs(displayProblem.c_str(), stderr);
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
    pthread_sigmask(SIG_UNBLOCK, &handled, nullptr);

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
    QApplication app(argc, argv);
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
