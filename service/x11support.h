#pragma once

#include <QtGlobal>

typedef struct _XDisplay Display;
union _XEvent;

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

// Grabs keycode with exactly the given modifier state on the root window of display.
// Returns false when the server refuses (another client holds the combination).
bool grabKey(Display *display, unsigned int keycode, unsigned int modifiers);

// Asks for XInput2 pointer-motion events on the root window: raw motion, which the server reports
// wherever the pointer is, and ordinary motion over the root itself. Returns the extension's
// opcode for isPointerMotion, or -1 when the server has no XInput2.
int selectPointerMotion(Display *display);
bool isPointerMotion(const _XEvent &event, int xinputOpcode);

// Ends the process with a log line instead of crashing when the X server goes away.
void installIOErrorHandler();

} // namespace X11Support
