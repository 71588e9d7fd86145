// glintor-service: shows the pointer-locating animation on its hotkey (Ctrl+Alt+M by default), on a
// mouse shake, on a tap of Ctrl alone where that is switched on, or on a Ctrl press that reaches the
// service.

#include "ctrltap.h"
#include "displaycheck.h"
#include "glintor.h"
#include "glintorsettings.h"
#include "globalkeyhandler.h"
#include "hotkey.h"
#include "locatebus.h"
#include "locateinterface.h"
#include "translationloader.h"
#include "x11support.h"

#include <QApplication>
#include <QCursor>
#include <QDBusConnection>
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
#include <vector>

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

// The modifiers that tell one combination from another; Num Lock (Mod2) and Caps Lock are not among them.
constexpr unsigned int CombinationModifiers = ShiftMask | ControlMask | Mod1Mask | Mod4Mask;
constexpr unsigned int NumLockMask = Mod2Mask;

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

// Runs on the hotkey thread for a hotkey press or a Ctrl tap: what names it in the debug log.
void handOverTrigger(Glintor *overlay, const QString &what)
{
    std::lock_guard<std::mutex> lock(g_hotkeyGateMutex);
    if (!g_hotkeyGateOpen)
        return;
    const QPoint position = QCursor::pos();
    if (g_debugMode)
        qDebug().noquote() << what << "at position:" << position;
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
// as on SIGTERM. Closing the thread's connection at once lets go of the hotkey and destroys the
// selection window, which the newer service waits for.
void handOverToNewerService(Display *display)
{
    qInfo("Another glintor-service took over this display. Exiting.");
    XCloseDisplay(display);
    std::lock_guard<std::mutex> lock(g_hotkeyGateMutex);
    if (g_hotkeyGateOpen)
        QMetaObject::invokeMethod(QCoreApplication::instance(), [] { stopService(); }, Qt::QueuedConnection);
}

// The triggers the hotkey thread serves, read from the settings at start-up.
struct TriggerSettings {
    Hotkey::Combination hotkey;
    bool ctrlTap = false;
};

TriggerSettings readTriggerSettings()
{
    using namespace GlintorSettings;
    QSettings settings(Organization, Application);
    TriggerSettings triggers;
    const QString text = settings.value(Key::Hotkey, Default::Hotkey).toString();
    std::optional<Hotkey::Combination> hotkey = Hotkey::fromText(text);
    if (!hotkey) {
        qWarning().noquote() << QStringLiteral("Setting hotkey=%1 is not one combination with Ctrl, Alt or Meta, nor a "
                                               "function key; using %2")
                                    .arg(text, QLatin1String(Default::Hotkey));
        hotkey = Hotkey::fromText(QLatin1String(Default::Hotkey));
    }
    triggers.hotkey = *hotkey;
    triggers.ctrlTap = settings.value(Key::EnableCtrlTap, Default::EnableCtrlTap).toBool();
    return triggers;
}

// The hotkey's passive grab on the root window, with exactly its modifiers, also with Num Lock on.
class HotkeyGrab
{
public:
    HotkeyGrab(Display *connection, const Hotkey::Combination &combination)
        : display(connection)
        , hotkey(combination)
        , keycode(XKeysymToKeycode(connection, KeySym(combination.keysym)))
    {
    }

    // Whether the keyboard has the key at all; keycode 0 would grab every key (AnyKey).
    bool hasKey() const { return keycode != 0; }
    // Returns false when the server refused it (another client holds the combination).
    bool grab() const
    {
        if (!hasKey())
            return false;
        const bool grabbed = X11Support::grabKey(display, keycode, hotkey.modifiers);
        X11Support::grabKey(display, keycode, hotkey.modifiers | NumLockMask);
        return grabbed;
    }
    // A new keyboard mapping (XTEST clients send one when they first type) may move the key.
    void followMapping()
    {
        const KeyCode moved = XKeysymToKeycode(display, KeySym(hotkey.keysym));
        if (moved == keycode || moved == 0)
            return;
        if (hasKey()) {
            XUngrabKey(display, keycode, hotkey.modifiers, DefaultRootWindow(display));
            XUngrabKey(display, keycode, hotkey.modifiers | NumLockMask, DefaultRootWindow(display));
        }
        keycode = moved;
        grab();
    }
    bool pressedBy(const XEvent &event) const
    {
        return event.type == KeyPress && KeyCode(event.xkey.keycode) == keycode
            && (event.xkey.state & CombinationModifiers) == hotkey.modifiers;
    }

private:
    Display *display;
    Hotkey::Combination hotkey;
    KeyCode keycode;
};

std::vector<unsigned int> ctrlKeycodes(Display *display)
{
    std::vector<unsigned int> keycodes;
    for (const KeySym keysym : { XK_Control_L, XK_Control_R }) {
        if (const KeyCode keycode = XKeysymToKeycode(display, keysym))
            keycodes.push_back(keycode);
    }
    return keycodes;
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

void hotkeyListener(Glintor *overlay, const TriggerSettings &triggers)
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
        handOverToNewerService(display);
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
            handOverToNewerService(display);
            return;
        }
        if (event.type == MappingNotify)
            XRefreshKeyboardMapping(&event.xmapping);
    }
    if (tookOver && g_debugMode)
        qDebug() << "Took over from an older glintor-service";

    HotkeyGrab hotkey(display, triggers.hotkey);
    bool grabbed = hotkey.grab();
    // The service replaced may hold the grab for a moment after its window went.
    while (!grabbed && hotkey.hasKey() && tookOver && !handover.hasExpired()) {
        ::usleep(GrabRetryMs * 1000);
        grabbed = hotkey.grab();
    }
    // Logged also without --debug: with a hotkey of their own choice, users must be able to see why
    // it does nothing.
    if (!hotkey.hasKey())
        qWarning().noquote() << "The hotkey" << triggers.hotkey.text << "has no key on this keyboard";
    else if (!grabbed)
        qWarning().noquote() << "Cannot grab hotkey" << triggers.hotkey.text
                             << "- possibly already grabbed by another application";
    const QString hotkeyPressed = QStringLiteral("Hotkey %1 pressed").arg(triggers.hotkey.text);

    // With motion events to wake it, the shake poll may sleep while the pointer rests.
    const int xinputOpcode = X11Support::selectInputEvents(display, triggers.ctrlTap);
    if (xinputOpcode >= 0) {
        std::lock_guard<std::mutex> lock(g_hotkeyGateMutex);
        if (g_hotkeyGateOpen && g_keyHandler) {
            GlobalKeyHandler *keyHandler = g_keyHandler;
            QMetaObject::invokeMethod(keyHandler, [keyHandler] { keyHandler->enableRestSleep(); }, Qt::QueuedConnection);
        }
    }
    CtrlTap ctrlTap;
    ctrlTap.setCtrlKeycodes(ctrlKeycodes(display));

    for (;;) {
        XEvent event;
        XNextEvent(display, &event);

        if (selection.lostTo(event)) {
            handOverToNewerService(display);
            return;
        }
        const X11Support::InputEvent input = X11Support::inputEvent(display, event, xinputOpcode);
        bool tapped = false;
        switch (input.kind) {
        case X11Support::InputEvent::Motion:
            wakeShakePoll();
            continue;
        case X11Support::InputEvent::KeyDown:
            ctrlTap.keyPress(input.detail, input.time, input.repeat);
            continue;
        case X11Support::InputEvent::KeyUp:
            tapped = ctrlTap.keyRelease(input.detail, input.time);
            break;
        case X11Support::InputEvent::ButtonDown:
            ctrlTap.buttonPress();
            continue;
        case X11Support::InputEvent::ButtonUp:
            ctrlTap.buttonRelease();
            continue;
        case X11Support::InputEvent::Other:
            break;
        }
        if (tapped) {
            handOverTrigger(overlay, QStringLiteral("Ctrl tapped"));
        } else if (event.type == MappingNotify) {
            XRefreshKeyboardMapping(&event.xmapping);
            hotkey.followMapping();
            ctrlTap.setCtrlKeycodes(ctrlKeycodes(display));
        } else if (hotkey.pressedBy(event)) {
            handOverTrigger(overlay, hotkeyPressed);
        }
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

    // glintor-locate, desktop shortcuts and scripts reach the service over the session bus.
    LocateInterface locateInterface(&overlay);
    locateInterface.registerOn(QDBusConnection::sessionBus(), LocateBus::serviceName());

    const TriggerSettings triggers = readTriggerSettings();
    {
        std::lock_guard<std::mutex> lock(g_hotkeyGateMutex);
        g_hotkeyGateOpen = true;
    }
    std::thread(hotkeyListener, &overlay, triggers).detach();

    if (g_debugMode)
        qDebug() << "Glintor服务已启动";

    const int result = app.exec();
    closeHotkeyGate();
    return result;
}
