#include "x11support.h"

#include <QByteArray>
#include <QDebug>

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

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

class ErrorTrap
{
public:
    explicit ErrorTrap(Display *display)
        : lock(g_trapMutex)
        , trappedDisplay(display)
    {
        XSync(display, False);
        g_trapDisplay = display;
        g_trapError = 0;
        g_previousHandler = XSetErrorHandler(trapHandler);
    }
    ~ErrorTrap()
    {
        XSetErrorHandler(g_previousHandler);
        g_trapDisplay = nullptr;
    }
    ErrorTrap(const ErrorTrap &) = delete;
    ErrorTrap &operator=(const ErrorTrap &) = delete;

    // Waits for the server's answer to everything sent inside the trap.
    int errorCode()
    {
        XSync(trappedDisplay, False);
        return g_trapError;
    }

private:
    std::lock_guard<std::mutex> lock;
    Display *trappedDisplay;
};

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

bool grabKey(Display *display, unsigned int keycode, unsigned int modifiers)
{
    ErrorTrap trap(display);
    XGrabKey(display, int(keycode), modifiers, DefaultRootWindow(display), True, GrabModeAsync, GrabModeAsync);
    return trap.errorCode() != BadAccess;
}

int selectPointerMotion(Display *display)
{
    int opcode = 0;
    int firstEvent = 0;
    int firstError = 0;
    if (!XQueryExtension(display, "XInputExtension", &opcode, &firstEvent, &firstError))
        return -1;
    int major = 2;
    int minor = 0;
    if (XIQueryVersion(display, &major, &minor) != Success)
        return -1;

    unsigned char mask[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(mask, XI_RawMotion);
    XISetMask(mask, XI_Motion);
    XIEventMask eventMask;
    eventMask.deviceid = XIAllMasterDevices;
    eventMask.mask_len = sizeof(mask);
    eventMask.mask = mask;
    ErrorTrap trap(display);
    XISelectEvents(display, DefaultRootWindow(display), &eventMask, 1);
    return trap.errorCode() == 0 ? opcode : -1;
}

bool isPointerMotion(const XEvent &event, int xinputOpcode)
{
    // The cookie's evtype is filled in without fetching the event data; Xlib frees unclaimed
    // data at the next XNextEvent.
    return xinputOpcode >= 0 && event.xcookie.type == GenericEvent && event.xcookie.extension == xinputOpcode
        && (event.xcookie.evtype == XI_RawMotion || event.xcookie.evtype == XI_Motion);
}

void installIOErrorHandler()
{
    XSetIOErrorHandler(ioErrorHandler);
}

} // namespace X11Support
