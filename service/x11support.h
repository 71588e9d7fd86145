#pragma once

#include <QtGlobal>

typedef struct _XDisplay Display;
union _XEvent;

// The service's few direct Xlib calls, kept in one place. Qt's xcb plugin does everything else.
namespace X11Support {

// Raises a native window above its siblings through a short-lived connection of its own.
// Does nothing when no display can be opened or the window is gone.
void raiseWindow(quintptr windowId);

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
