#include "hotkeylistener.h"

#include "ctrltap.h"
#include "grabschedule.h"
#include "x11input.h"
#include "x11support.h"

#include <QDebug>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include <chrono>

#include <sys/eventfd.h>
#include <unistd.h>

namespace {

// The modifiers that tell one combination from another; Num Lock (Mod2) and Caps Lock are not among them.
constexpr unsigned int CombinationModifiers = ShiftMask | ControlMask | Mod1Mask | Mod4Mask;
constexpr unsigned int NumLockMask = Mod2Mask;

qint64 nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The hotkey's passive grab on the root window, with exactly its modifiers, also with Num Lock on,
// on the key that types the hotkey's symbol in the keyboard layout in use.
class HotkeyGrab final {
public:
    HotkeyGrab(Display *connection, const std::optional<Hotkey::Combination> &combination)
        : display(connection)
        , hotkey(combination)
    {
        // Held down, the key repeats as presses alone, and its one release ends the hold.
        Bool supported = False;
        detectableRepeat = XkbSetDetectableAutoRepeat(display, True, &supported) && supported;
        // A switch of layout moves the hotkey to the key that types its letter there.
        int opcode = 0;
        int error = 0;
        int major = XkbMajorVersion;
        int minor = XkbMinorVersion;
        if (hotkey && XkbQueryExtension(display, &opcode, &xkbEventBase, &error, &major, &minor))
            XkbSelectEventDetails(display, XkbUseCoreKbd, XkbStateNotify, XkbGroupStateMask, XkbGroupStateMask);
        else
            xkbEventBase = -1;
        group = X11Support::keyboardGroup(display);
        keycode = hotkey ? X11Support::hotkeyKeycode(display, hotkey->keysym, group) : 0;
    }

    // Whether the keyboard has the key at all; keycode 0 would grab every key (AnyKey).
    bool hasKey() const { return keycode != 0; }
    // Lets go of the combination (nothing happens when it was not held).
    void release() const
    {
        if (!hasKey())
            return;
        XUngrabKey(display, int(keycode), hotkey->modifiers, DefaultRootWindow(display));
        XUngrabKey(display, int(keycode), hotkey->modifiers | NumLockMask, DefaultRootWindow(display));
        XFlush(display);
    }
    // Returns false when the server refused it (another client holds the combination).
    bool grab() const
    {
        if (!hasKey())
            return false;
        const bool grabbed = X11Support::grabKey(display, keycode, hotkey->modifiers);
        X11Support::grabKey(display, keycode, hotkey->modifiers | NumLockMask);
        return grabbed;
    }
    // A new keyboard mapping (XTEST clients send one when they first type) or a switch of layout
    // may move the key. Returns true when the grab has to be made again on another key.
    bool followKeyboard(const XEvent &event)
    {
        if (!hotkey)
            return false;
        if (event.type == xkbEventBase && reinterpret_cast<const XkbAnyEvent &>(event).xkb_type == XkbStateNotify) {
            const int now = reinterpret_cast<const XkbStateNotifyEvent &>(event).group;
            if (now == group)
                return false;
            group = now;
        } else if (event.type != MappingNotify) {
            return false;
        }
        const unsigned int moved = X11Support::hotkeyKeycode(display, hotkey->keysym, group);
        if (moved == keycode || moved == 0)
            return false;
        release();
        keycode = moved;
        down = false;
        return true;
    }
    // Whether the event is a new press of the combination. A held combination plays once: its
    // auto-repeat does not count until the key has been released.
    bool pressedBy(const XEvent &event)
    {
        if (!hasKey() || event.xkey.keycode != keycode)
            return false;
        if (event.type == KeyRelease) {
            // Without detectable auto-repeat a repeat is a release and a press of the same time.
            XEvent next;
            if (!detectableRepeat && XEventsQueued(display, QueuedAfterReading) > 0) {
                XPeekEvent(display, &next);
                if (next.type == KeyPress && next.xkey.keycode == keycode && next.xkey.time == event.xkey.time)
                    return false;
            }
            down = false;
            return false;
        }
        if (event.type != KeyPress || (event.xkey.state & CombinationModifiers) != hotkey->modifiers)
            return false;
        const bool fresh = !down;
        down = true;
        return fresh;
    }

private:
    Display *display;
    std::optional<Hotkey::Combination> hotkey;
    int xkbEventBase = -1;
    int group = 0;
    unsigned int keycode = 0;
    bool detectableRepeat = false;
    bool down = false;
};

} // namespace

HotkeyListener::InputSwitch::InputSwitch()
    : eventFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
}

HotkeyListener::InputSwitch::~InputSwitch()
{
    if (eventFd >= 0)
        ::close(eventFd);
}

void HotkeyListener::InputSwitch::set(bool value)
{
    on.store(value);
    const uint64_t wake = 1;
    const ssize_t written = ::write(eventFd, &wake, sizeof wake);
    (void)written;
}

void HotkeyListener::InputSwitch::drain()
{
    uint64_t count = 0;
    while (::read(eventFd, &count, sizeof count) > 0) {
    }
}

HotkeyListener::HotkeyListener(const Settings &triggerSettings, const Host &listenerHost)
    : settings(triggerSettings)
    , host(listenerHost)
{
}

void HotkeyListener::run()
{
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        if (settings.debug)
            qWarning() << "XOpenDisplay failed: cannot register global hotkey";
        host.becameDisplaysService();
        return;
    }

    // One service per X screen, the newest: take the screen's selection over from an older service,
    // which then lets go of its hotkey and exits.
    X11Input::ServiceSelection selection(display);
    switch (selection.claim()) {
    case X11Input::ServiceSelection::Claim::Taken:
        break;
    case X11Input::ServiceSelection::Claim::TakenByNewer:
        XCloseDisplay(display);
        host.newerServiceTookOver();
        return;
    case X11Input::ServiceSelection::Claim::Refused:
        qWarning("Cannot take the %s selection: another glintor-service may go on running on this display",
            selection.name().constData());
        break;
    }
    host.becameDisplaysService();
    bool olderServiceAlive = selection.previousOwnerAlive();

    X11Input::InputEvents input;
    CtrlTap ctrlTap;
    ctrlTap.setCtrlKeycodes(X11Input::controlKeycodes(display));
    InputSwitch *const inputSwitch = settings.input.get();
    bool inputOn = !inputSwitch || inputSwitch->isOn();
    // With motion events to wake it, the shake poll may sleep while the pointer rests.
    if (inputOn && input.select(display, settings.ctrlTap))
        host.motionEventsSelected();

    // Logged also without --debug: users must be able to see why a key does nothing.
    HotkeyGrab hotkey(display, settings.hotkey);
    const QString hotkeyText = settings.hotkey ? settings.hotkey->text : QString();
    if (!settings.hotkey)
        qInfo("No hotkey is set (the hotkey setting is empty): no key is grabbed");
    else if (!hotkey.hasKey())
        qWarning().noquote() << "The hotkey" << hotkeyText << "has no key on this keyboard";
    GrabSchedule schedule(nowMs(), olderServiceAlive);
    const QString hotkeyPressed = QStringLiteral("Hotkey %1 pressed").arg(hotkeyText);

    for (;;) {
        if (inputSwitch)
            inputSwitch->drain();
        if (inputSwitch && inputSwitch->isOn() != inputOn) {
            inputOn = !inputOn;
            if (inputOn) {
                if (input.select(display, settings.ctrlTap))
                    host.motionEventsSelected();
                schedule = GrabSchedule(nowMs(), false);
            } else {
                input.deselect();
                if (schedule.holding())
                    hotkey.release();
                ctrlTap = CtrlTap();
                ctrlTap.setCtrlKeycodes(X11Input::controlKeycodes(display));
            }
        }
        int waitMs = -1;
        if (inputOn && hotkey.hasKey() && !schedule.holding()) {
            const qint64 now = nowMs();
            if (schedule.nextAttempt() <= now) {
                logGrabNote(schedule.attempted(hotkey.grab(), now), hotkeyText, settings.debug);
                continue;
            }
            waitMs = int(schedule.nextAttempt() - now);
        }
        if (!X11Input::waitForEvent(display, waitMs, inputSwitch ? inputSwitch->wakeFd() : -1))
            continue;

        XEvent event;
        XNextEvent(display, &event);
        if (selection.lostTo(event)) {
            // Closing the connection lets go of the hotkey and destroys the selection window, which
            // the newer service waits for.
            XCloseDisplay(display);
            host.newerServiceTookOver();
            return;
        }
        if (olderServiceAlive && !selection.previousOwnerAlive()) {
            olderServiceAlive = false;
            schedule.olderServiceGone(nowMs());
        }

        const X11Input::InputEvents::Event raw = input.read(event, ctrlTap.ctrlDown());
        bool tapped = false;
        switch (raw.kind) {
        case X11Input::InputEvents::Event::Motion:
            host.pointerMoved();
            continue;
        case X11Input::InputEvents::Event::Scroll:
        case X11Input::InputEvents::Event::TouchBegin:
            ctrlTap.otherInput();
            continue;
        case X11Input::InputEvents::Event::KeyDown:
            ctrlTap.keyPress(raw.detail, raw.time, raw.repeat);
            continue;
        case X11Input::InputEvents::Event::KeyUp:
            tapped = ctrlTap.keyRelease(raw.detail, raw.time);
            break;
        case X11Input::InputEvents::Event::ButtonDown:
            ctrlTap.buttonPress();
            continue;
        case X11Input::InputEvents::Event::ButtonUp:
            ctrlTap.buttonRelease();
            continue;
        case X11Input::InputEvents::Event::Other:
            break;
        }
        if (tapped) {
            // A screen locker (or a menu) holds the keyboard: what is under it is none of the user's
            // business now.
            if (!X11Input::keyboardHeldElsewhere(display))
                host.trigger(QStringLiteral("Ctrl tapped"));
            else if (settings.debug)
                qDebug("Ctrl tapped while another program holds the keyboard: nothing shown");
            continue;
        }
        if (event.type == MappingNotify) {
            XRefreshKeyboardMapping(&event.xmapping);
            ctrlTap.setCtrlKeycodes(X11Input::controlKeycodes(display));
        }
        if (hotkey.followKeyboard(event)) {
            schedule = GrabSchedule(nowMs(), false);
            continue;
        }
        if (!inputOn)
            continue;
        if (event.type != KeyPress && event.type != KeyRelease)
            continue;
        // While the hotkey's grab is active the server sends this client's raw key events nowhere but
        // along the focus chain, so the tap rule learns of those keys from the grab's own events.
        if (event.type == KeyPress)
            ctrlTap.keyPress(event.xkey.keycode, event.xkey.time, false);
        else
            ctrlTap.keyRelease(event.xkey.keycode, event.xkey.time);
        if (hotkey.pressedBy(event))
            host.trigger(hotkeyPressed);
    }
}
