// Test helper: another X client that holds the passive grab of Ctrl+Alt+M (plain state only),
// as a desktop's own shortcut daemon might. Prints "grabbed" (or "refused") once, then
// "pressed" for every press the grab brings, until it is killed.

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <cstdio>

namespace {

int g_lastError = 0;

int recordError(Display *, XErrorEvent *error)
{
    g_lastError = error->error_code;
    return 0;
}

} // namespace

int main()
{
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fputs("no display\n", stderr);
        return 2;
    }
    XSetErrorHandler(recordError);

    const Window root = DefaultRootWindow(display);
    const KeyCode keycode = XKeysymToKeycode(display, XK_M);
    XGrabKey(display, keycode, ControlMask | Mod1Mask, root, True, GrabModeAsync, GrabModeAsync);
    XSync(display, False);
    std::puts(g_lastError == BadAccess ? "refused" : "grabbed");
    std::fflush(stdout);

    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == KeyPress && event.xkey.keycode == keycode) {
            std::printf("pressed state=0x%x\n", event.xkey.state);
            std::fflush(stdout);
        }
    }
}
