#include "x11support.h"

#include "displaycheck.h"

#include <QByteArray>
#include <QDebug>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

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
    // racing the other threads' teardown. Leave at once instead, with a status the unit restarts
    // on: the server may be back in a moment.
    static const char message[] = "Lost the connection to the X server. Exiting.\n";
    const ssize_t written = ::write(STDERR_FILENO, message, sizeof(message) - 1);
    Q_UNUSED(written)
    ::_exit(DisplayCheck::DisplayLostStatus);
}

// Keycodes of the letters and digits on a US keyboard, with the evdev and the older xfree86
// keycodes alike (both are the PC scancode plus 8 for this block).
unsigned int usLayoutKeycode(KeySym keysym)
{
    static const char letters[] = "qwertyuiopasdfghjklzxcvbnm";
    static const unsigned char letterKeycodes[] = { 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 38, 39, 40, 41, 42, 43,
        44, 45, 46, 52, 53, 54, 55, 56, 57, 58 };
    KeySym lower = 0;
    KeySym upper = 0;
    XConvertCase(keysym, &lower, &upper);
    if (lower >= XK_1 && lower <= XK_9)
        return 10 + unsigned(lower - XK_1);
    if (lower == XK_0)
        return 19;
    for (unsigned i = 0; letters[i]; ++i) {
        if (lower == KeySym(letters[i]))
            return letterKeycodes[i];
    }
    return 0;
}

// The group a key uses while the keyboard is in group: a key with fewer groups maps the others into
// its own as its group info says.
int keyGroup(XkbDescPtr xkb, int keycode, int group)
{
    const int groups = XkbKeyNumGroups(xkb, keycode);
    if (group < groups)
        return group;
    const unsigned char info = XkbKeyGroupInfo(xkb, keycode);
    switch (XkbOutOfRangeGroupAction(info)) {
    case XkbClampIntoRange:
        return groups - 1;
    case XkbRedirectIntoRange:
        return XkbOutOfRangeGroupNumber(info) < groups ? XkbOutOfRangeGroupNumber(info) : 0;
    default:
        return group % groups;
    }
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
    const unsigned int keycode = hotkeyKeycode(display, keysym, keyboardGroup(display));
    const bool grabbed = keycode != 0 && grabKey(display, keycode, modifiers);
    XCloseDisplay(display); // which lets the grab go
    return keycode != 0 && !grabbed;
}

unsigned int hotkeyKeycode(Display *display, unsigned long keysym, int group)
{
    KeySym lower = 0;
    KeySym upper = 0;
    XConvertCase(KeySym(keysym), &lower, &upper);
    // Reading the core keymap also sets Xlib up to turn the server's XKB map changes into the
    // MappingNotify events the hotkey follows. It holds the first two groups only.
    const KeyCode core = XKeysymToKeycode(display, KeySym(keysym));
    // The XKB map has every group. It is read on a connection of its own: once XkbGetMap has run on
    // a connection, Xlib hands that connection no MappingNotify any more.
    unsigned int inGroup = 0;
    unsigned int elsewhere = 0;
    if (Display *lookup = XOpenDisplay(DisplayString(display))) {
        if (XkbDescPtr xkb = XkbGetMap(lookup, XkbKeyTypesMask | XkbKeySymsMask, XkbUseCoreKbd)) {
            for (int keycode = xkb->min_key_code; keycode <= xkb->max_key_code && !inGroup; ++keycode) {
                const int groups = XkbKeyNumGroups(xkb, keycode);
                const int used = groups > 0 ? keyGroup(xkb, keycode, group) : -1;
                for (int g = 0; g < groups && !inGroup; ++g) {
                    for (int level = 0; level < XkbKeyGroupWidth(xkb, keycode, g); ++level) {
                        const KeySym symbol = XkbKeySymEntry(xkb, keycode, level, g);
                        if (symbol == NoSymbol || (symbol != lower && symbol != upper))
                            continue;
                        if (g == used)
                            inGroup = unsigned(keycode);
                        else if (!elsewhere)
                            elsewhere = unsigned(keycode);
                        break;
                    }
                }
            }
            XkbFreeKeyboard(xkb, 0, True);
        }
        XCloseDisplay(lookup);
    }
    if (inGroup)
        return inGroup;
    if (elsewhere)
        return elsewhere;
    if (core)
        return core;

    const unsigned int usKeycode = usLayoutKeycode(KeySym(keysym));
    int minKeycode = 0;
    int maxKeycode = 0;
    XDisplayKeycodes(display, &minKeycode, &maxKeycode);
    if (usKeycode == 0 || int(usKeycode) < minKeycode || int(usKeycode) > maxKeycode)
        return 0;
    // Only a key the keyboard has: one that carries some symbol.
    int perKeycode = 0;
    KeySym *symbols = XGetKeyboardMapping(display, KeyCode(usKeycode), 1, &perKeycode);
    bool present = false;
    for (int i = 0; symbols && i < perKeycode; ++i)
        present = present || symbols[i] != NoSymbol;
    if (symbols)
        XFree(symbols);
    return present ? usKeycode : 0;
}

int keyboardGroup(Display *display)
{
    XkbStateRec state {};
    return XkbGetState(display, XkbUseCoreKbd, &state) == Success ? state.group : 0;
}

bool keyboardHasKey(unsigned long keysym)
{
    Display *display = XOpenDisplay(nullptr);
    if (!display)
        return true;
    const bool has = hotkeyKeycode(display, keysym, 0) != 0;
    XCloseDisplay(display);
    return has;
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
