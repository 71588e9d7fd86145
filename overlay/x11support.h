#pragma once

#include <QByteArray>
#include <QtGlobal>

typedef struct _XDisplay Display;
union _XEvent;
typedef unsigned long XID;

// The service's few direct Xlib calls, kept in one place. Qt's xcb plugin does everything else.
namespace X11Support {

// A connection of the overlay's own for the few requests Qt does not make. Its calls do nothing
// when no display could be opened.
class Connection {
public:
    Connection();
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    bool isOpen() const { return display != nullptr; }
    // Whether a compositing manager runs on the X screen of the window: a client owns that
    // screen's _NET_WM_CM_S<n> selection. Without one the server ignores a window's alpha.
    bool hasCompositor(quintptr windowId) const;
    // Raises a native window above its siblings. Does nothing when the window is gone.
    void raiseWindow(quintptr windowId) const;

private:
    Display *display;
};

// The selection _GLINTOR_SERVICE_S<screen> marks the one glintor-service of an X screen. A new
// service takes it over the way X window and compositing managers replace each other (ICCCM
// manager selections): the old owner is told by a SelectionClear and exits, and the new one waits
// for the old owner's window to go before it grabs the hotkey.
class ServiceSelection {
public:
    explicit ServiceSelection(Display *display);
    ServiceSelection(const ServiceSelection &) = delete;
    ServiceSelection &operator=(const ServiceSelection &) = delete;

    enum class Claim { Taken, TakenByNewer, Refused };
    // Takes the selection for the display's default screen with a window of this connection, which
    // stays until the connection closes. TakenByNewer: a service that started at the same time
    // took it with a later time stamp. Refused: nobody owns it, yet the server did not make us owner.
    Claim claim();
    QByteArray name() const { return selectionName; }
    // Whether an older service owned the selection and its window still exists.
    bool previousOwnerAlive() const { return previousOwner != 0; }
    // Handles an event read from the connection: notes the previous owner's window going away.
    // Returns true when the event tells that a newer service took the selection from us.
    bool lostTo(const _XEvent &event);

private:
    Display *display;
    QByteArray selectionName;
    unsigned long selection = 0;
    XID window = 0;
    XID previousOwner = 0;
};

// Waits up to timeoutMs for an event on a connection that only the calling thread reads.
// Returns whether one is queued.
bool waitForEvent(Display *display, int timeoutMs);

// Whether another X client holds the passive grab of keysym with exactly these modifiers: tries the
// grab on a connection of its own and lets it go at once. False when no X display answers.
bool keyGrabbedElsewhere(unsigned long keysym, unsigned int modifiers);

// Grabs keycode with exactly the given modifier state on the root window of display.
// Returns false when the server refuses (another client holds the combination).
bool grabKey(Display *display, unsigned int keycode, unsigned int modifiers);

// Asks for XInput2 events on the root window: pointer motion (raw motion, which the server reports
// wherever the pointer is, and ordinary motion over the root itself) and, with keysAndButtons, raw
// key and button events, which need no grab and take no key from any program. Returns the
// extension's opcode for inputEvent, or -1 when the server has no XInput2.
int selectInputEvents(Display *display, bool keysAndButtons);

// One XInput2 event read from the connection, as far as the service cares.
struct InputEvent {
    enum Kind { Other, Motion, KeyDown, KeyUp, ButtonDown, ButtonUp };
    Kind kind = Other;
    unsigned int detail = 0; // keycode or button
    unsigned long time = 0; // server time, ms
    bool repeat = false; // a key's auto-repeat
};
InputEvent inputEvent(Display *display, _XEvent &event, int xinputOpcode);

// Ends the process with a log line instead of crashing when the X server goes away.
void installIOErrorHandler();

} // namespace X11Support
