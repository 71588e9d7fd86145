// Test helper: another X client that holds what a desktop's other programs hold.
//   hotkeyholder [KEYSYM]  the passive grab of Ctrl+Alt+KEYSYM (m by default, plain state only), as a
//                          desktop's own shortcut daemon might; prints "grabbed" (or "refused") once,
//                          then "pressed state=0x.." for every press the grab brings.
//   hotkeyholder --lock    what an X11 screen locker does: a full-screen override-redirect window
//                          on top and an active grab of the keyboard; prints "locked" (or "refused").
// Runs until it is killed.

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <cstdio>
#include <cstring>

namespace {

int g_lastError = 0;

int recordError(Display *, XErrorEvent *error)
{
    g_lastError = error->error_code;
    return 0;
}

int lock(Display *display)
{
    const int screen = DefaultScreen(display);
    XSetWindowAttributes attributes {};
    attributes.override_redirect = True;
    attributes.background_pixel = BlackPixel(display, screen);
    const Window cover = XCreateWindow(display, RootWindow(display, screen), 0, 0, unsigned(DisplayWidth(display, screen)),
        unsigned(DisplayHeight(display, screen)), 0, CopyFromParent, InputOutput, CopyFromParent,
        CWOverrideRedirect | CWBackPixel, &attributes);
    XMapRaised(display, cover);
    XSync(display, False);
    const int grabbed = XGrabKeyboard(display, cover, False, GrabModeAsync, GrabModeAsync, CurrentTime);
    std::puts(grabbed == GrabSuccess ? "locked" : "refused");
    std::fflush(stdout);
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fputs("no display\n", stderr);
        return 2;
    }
    XSetErrorHandler(recordError);
    if (argc > 1 && std::strcmp(argv[1], "--lock") == 0)
        return lock(display);

    const Window root = DefaultRootWindow(display);
    const KeyCode keycode = XKeysymToKeycode(display, argc > 1 ? XStringToKeysym(argv[1]) : XK_m);
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
