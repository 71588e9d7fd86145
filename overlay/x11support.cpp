#include "x11support.h"

#include <QByteArray>
#include <QDebug>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

#include <mutex>

#include <poll.h>
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

ServiceSelection::ServiceSelection(Display *connection)
    : display(connection)
    , selectionName("_GLINTOR_SERVICE_S" + QByteArray::number(DefaultScreen(connection)))
{
}

ServiceSelection::Claim ServiceSelection::claim()
{
    const Window root = DefaultRootWindow(display);
    selection = XInternAtom(display, selectionName.constData(), False);
    // Never mapped: it only stands for this service while the connection lives.
    window = XCreateSimpleWindow(display, root, -1, -1, 1, 1, 0, 0, 0);
    XSelectInput(display, window, PropertyChangeMask);

    // A manager selection is taken with a real server time: that of the change of the window's name.
    static const unsigned char name[] = "glintor-service";
    XChangeProperty(display, window, XA_WM_NAME, XA_STRING, 8, PropModeReplace, name, int(sizeof(name) - 1));
    XEvent event;
    XWindowEvent(display, window, PropertyChangeMask, &event);
    const Time timestamp = event.xproperty.time;

    previousOwner = XGetSelectionOwner(display, selection);
    if (previousOwner != None) {
        // Its DestroyNotify tells when the older service has gone. It may be gone already.
        ErrorTrap trap(display);
        XSelectInput(display, previousOwner, StructureNotifyMask);
        if (trap.errorCode() != 0)
            previousOwner = None;
    }
    XSetSelectionOwner(display, selection, window, timestamp);
    const Window owner = XGetSelectionOwner(display, selection);
    if (owner != window)
        return owner == None ? Claim::Refused : Claim::TakenByNewer;

    // Announce the new owner to whoever watches the root, as managers do.
    XEvent manager {};
    manager.xclient.type = ClientMessage;
    manager.xclient.window = root;
    manager.xclient.message_type = XInternAtom(display, "MANAGER", False);
    manager.xclient.format = 32;
    manager.xclient.data.l[0] = long(timestamp);
    manager.xclient.data.l[1] = long(selection);
    manager.xclient.data.l[2] = long(window);
    XSendEvent(display, root, False, StructureNotifyMask, &manager);
    XFlush(display);
    return Claim::Taken;
}

bool ServiceSelection::lostTo(const XEvent &event)
{
    if (event.type == DestroyNotify && previousOwner != None && event.xdestroywindow.window == previousOwner)
        previousOwner = None;
    return event.type == SelectionClear && event.xselectionclear.window == window
        && event.xselectionclear.selection == selection;
}

bool waitForEvent(Display *display, int timeoutMs)
{
    if (XPending(display) > 0)
        return true;
    pollfd connection { ConnectionNumber(display), POLLIN, 0 };
    ::poll(&connection, 1, timeoutMs);
    return XPending(display) > 0;
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

int selectInputEvents(Display *display, bool keysAndButtons)
{
    int opcode = 0;
    int firstEvent = 0;
    int firstError = 0;
    if (!XQueryExtension(display, "XInputExtension", &opcode, &firstEvent, &firstError))
        return -1;
    // 2.2: a client of version 2.0 gets no raw events while another client holds a pointer grab
    // (a held button, an open menu, a drag), so a shake made then would go unseen.
    int major = 2;
    int minor = 2;
    if (XIQueryVersion(display, &major, &minor) != Success)
        return -1;

    unsigned char mask[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(mask, XI_RawMotion);
    XISetMask(mask, XI_Motion);
    if (keysAndButtons) {
        XISetMask(mask, XI_RawKeyPress);
        XISetMask(mask, XI_RawKeyRelease);
        XISetMask(mask, XI_RawButtonPress);
        XISetMask(mask, XI_RawButtonRelease);
    }
    XIEventMask eventMask;
    eventMask.deviceid = XIAllMasterDevices;
    eventMask.mask_len = sizeof(mask);
    eventMask.mask = mask;
    ErrorTrap trap(display);
    XISelectEvents(display, DefaultRootWindow(display), &eventMask, 1);
    return trap.errorCode() == 0 ? opcode : -1;
}

InputEvent inputEvent(Display *display, XEvent &event, int xinputOpcode)
{
    InputEvent input;
    if (xinputOpcode < 0 || event.xcookie.type != GenericEvent || event.xcookie.extension != xinputOpcode)
        return input;
    // Motion needs only the cookie's type, known without fetching the event data; Xlib frees
    // unclaimed data at the next XNextEvent.
    switch (event.xcookie.evtype) {
    case XI_RawMotion:
    case XI_Motion:
        input.kind = InputEvent::Motion;
        return input;
    case XI_RawKeyPress:
        input.kind = InputEvent::KeyDown;
        break;
    case XI_RawKeyRelease:
        input.kind = InputEvent::KeyUp;
        break;
    case XI_RawButtonPress:
        input.kind = InputEvent::ButtonDown;
        break;
    case XI_RawButtonRelease:
        input.kind = InputEvent::ButtonUp;
        break;
    default:
        return input;
    }
    if (!XGetEventData(display, &event.xcookie))
        return InputEvent();
    const auto *raw = static_cast<const XIRawEvent *>(event.xcookie.data);
    input.detail = unsigned(raw->detail);
    input.time = raw->time;
    input.repeat = raw->flags & XIKeyRepeat;
    XFreeEventData(display, &event.xcookie);
    return input;
}

void installIOErrorHandler()
{
    XSetIOErrorHandler(ioErrorHandler);
}

} // namespace X11Support
