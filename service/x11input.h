#pragma once

#include <QByteArray>

#include <map>
#include <vector>

typedef struct _XDisplay Display;
union _XEvent;
typedef unsigned long XID;

// The service's own X11 input code: the selection that keeps one service per screen, the XInput 2
// events its triggers watch, and the keymap look-ups of the hotkey and the Ctrl keys.
namespace X11Input {

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

// Waits up to timeoutMs (-1: for ever) for an event on a connection that only the calling thread
// reads, or for wakeFd (if not -1) to become readable. Returns whether an event is queued.
bool waitForEvent(Display *display, int timeoutMs, int wakeFd = -1);

// Whether another client holds an active grab of the keyboard, as a screen locker does: tries a
// grab of its own and lets it go at once.
bool keyboardHeldElsewhere(Display *display);

// Every keycode the modifier map binds to Control, wherever the keymap puts Ctrl (ctrl:nocaps).
std::vector<unsigned int> controlKeycodes(Display *display);

// The XInput 2 events the service watches on the root window, and what they mean to it.
class InputEvents {
public:
    // Asks for pointer motion (raw motion, which the server reports wherever the pointer is, and
    // ordinary motion over the root itself) and, with keysAndButtons, raw key, button and touch
    // events, which need no grab and take no key from any program. False when the server has no
    // XInput 2.2.
    bool select(Display *display, bool keysAndButtons);
    bool isSelected() const { return opcode >= 0; }
    // Asks for none of them any more.
    void deselect();

    struct Event {
        enum Kind { Other, Motion, KeyDown, KeyUp, ButtonDown, ButtonUp, Scroll, TouchBegin };
        Kind kind = Other;
        unsigned int detail = 0; // keycode or button
        unsigned long time = 0; // server time, ms
        bool repeat = false; // a key's auto-repeat
    };
    // Reads one event. Only with scrollWanted does a raw motion get looked at closely enough to
    // tell a smooth scroll (a wheel or touchpad that sends scroll valuators) from a pointer move.
    Event read(_XEvent &event, bool scrollWanted);

private:
    void readScrollAxes();

    Display *display = nullptr;
    int opcode = -1;
    // Per source device, the valuators that are scroll axes.
    std::map<int, std::vector<int>> scrollAxes;
};

} // namespace X11Input
