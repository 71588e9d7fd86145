#pragma once

#include <QByteArray>
#include <QtGlobal>

typedef struct _XDisplay Display;

// The few direct Xlib calls that the overlay, the settings window and the service share. Qt's xcb
// plugin does everything else; the service's own input code lives with the service.
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

// Records the X errors of the requests made on one display while it lives, instead of letting
// Xlib's default handler end the process. Syncs on entry and before errorCode() answers.
class ErrorTrap {
public:
    explicit ErrorTrap(Display *display);
    ~ErrorTrap();
    ErrorTrap(const ErrorTrap &) = delete;
    ErrorTrap &operator=(const ErrorTrap &) = delete;

    // Waits for the server's answer to everything sent inside the trap; 0 when nothing failed.
    int errorCode();

private:
    Display *trappedDisplay;
};

// Whether another X client holds the passive grab of keysym with exactly these modifiers: tries the
// grab on a connection of its own and lets it go at once. False when no X display answers.
bool keyGrabbedElsewhere(unsigned long keysym, unsigned int modifiers);

// The keycode that types keysym in the keyboard group (layout) given, at any level: a hotkey is the
// key that types its letter in the layout in use. Where the group has no such key, the key that
// carries keysym in another group; where none does and keysym is a Latin letter or digit, the key
// that carries it on the US layout, as desktop shortcuts conventionally do on keyboards without
// Latin letters. 0 when there is none.
unsigned int hotkeyKeycode(Display *display, unsigned long keysym, int group);
// The keyboard group (layout) in use.
int keyboardGroup(Display *display);
// Whether the keyboard of the X display has a key for keysym, in any layout. True when no X display
// answers: nothing can be told then.
bool keyboardHasKey(unsigned long keysym);

// Grabs keycode with exactly the given modifier state on the root window of display.
// Returns false when the server refuses (another client holds the combination).
bool grabKey(Display *display, unsigned int keycode, unsigned int modifiers);

// Ends the process with a log line instead of crashing when the X server goes away.
void installIOErrorHandler();

} // namespace X11Support
