#pragma once

#include <QtGlobal>

typedef struct _XDisplay Display;

// The service's few direct Xlib calls, kept in one place. Qt's xcb plugin does everything else.
namespace X11Support {

// Raises a native window above its siblings through a short-lived connection of its own.
// Does nothing when no display can be opened or the window is gone.
void raiseWindow(quintptr windowId);

// Grabs keycode with exactly the given modifier state on the root window of display.
// Returns false when the server refuses (another client holds the combination).
bool grabKey(Display *display, unsigned int keycode, unsigned int modifiers);

// Ends the process with a log line instead of crashing when the X server goes away.
void installIOErrorHandler();

} // namespace X11Support
