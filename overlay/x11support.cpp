#include "x11support.h"

#include <QByteArray>
#include <QDebug>

#include <X11/Xlib.h>

#include <mutex>

#include <unistd.h>

namespace X11Support {

namespace {

// Xlib's error handler is process-wide and its default ends the process, so a request whose
// failure is expected runs inside a trap that records errors of one display only.
std::mutex g_trapMutex;
Display *g_trapDisplay = nullptr;
int g_trapError = 0;
XErrorHandler g_previousHandler = nullptr;

int trapHandler(Display *display, XErrorEvent *error)
{
    if (display == g_trapDisplay) {
        g_trapError = error->error_code;
        return 0;
    }
    return g_previousHandler ? g_previousHandler(display, error) : 0;
}

int ioErrorHandler(Display *)
{
    // Called when the connection is lost; Xlib would exit() from whichever thread noticed,
    // racing the other threads' teardown. Leave at once instead.
    static const char message[] = "Lost the connection to the X server. Exiting.\n";
    const ssize_t written = ::write(STDERR_FILENO, message, sizeof(message) - 1);
    Q_UNUSED(written)
    ::_exit(1);
}

} // namespace

// One trap at a time in the process: the handler is process-wide.
ErrorTrap::ErrorTrap(Display *display)
    : trappedDisplay(display)
{
    g_trapMutex.lock();
    XSync(display, False);
    g_trapDisplay = display;
    g_trapError = 0;
    g_previousHandler = XSetErrorHandler(trapHandler);
}

ErrorTrap::~ErrorTrap()
{
    XSetErrorHandler(g_previousHandler);
    g_trapDisplay = nullptr;
    g_trapMutex.unlock();
}

int ErrorTrap::errorCode()
{
    XSync(trappedDisplay, False);
    return g_trapError;
}

Connection::Connection()
    : display(XOpenDisplay(nullptr))
{
}

Connection::~Connection()
{
    if (display)
        XCloseDisplay(display);
}

bool Connection::hasCompositor(quintptr windowId) const
{
    if (!display)
        return false;
    // The server sends some events to every client (MappingNotify) whether it asked or not; on a
    // connection that lives long they would pile up in Xlib's queue.
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
    }
    int screen = DefaultScreen(display);
    {
        ErrorTrap trap(display);
        XWindowAttributes attributes;
        if (XGetWindowAttributes(display, Window(windowId), &attributes) && attributes.screen)
            screen = XScreenNumberOfScreen(attributes.screen);
        trap.errorCode();
    }
    const QByteArray selection = "_NET_WM_CM_S" + QByteArray::number(screen);
    return XGetSelectionOwner(display, XInternAtom(display, selection.constData(), False)) != None;
}

void Connection::raiseWindow(quintptr windowId) const
{
    if (!display)
        return;
    ErrorTrap trap(display);
    XRaiseWindow(display, Window(windowId));
    XFlush(display);
    trap.errorCode();
}

bool keyGrabbedElsewhere(unsigned long keysym, unsigned int modifiers)
{
    Display *display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    const KeyCode keycode = XKeysymToKeycode(display, KeySym(keysym));
    const bool grabbed = keycode != 0 && grabKey(display, keycode, modifiers);
    XCloseDisplay(display); // which lets the grab go
    return keycode != 0 && !grabbed;
}

bool grabKey(Display *display, unsigned int keycode, unsigned int modifiers)
{
    ErrorTrap trap(display);
    XGrabKey(display, int(keycode), modifiers, DefaultRootWindow(display), True, GrabModeAsync, GrabModeAsync);
    return trap.errorCode() != BadAccess;
}

void installIOErrorHandler()
{
    XSetIOErrorHandler(ioErrorHandler);
}

} // namespace X11Support
