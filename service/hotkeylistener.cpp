#include "hotkeylistener.h"

#include "ctrltap.h"
#include "grabschedule.h"
#include "x11input.h"
#include "x11support.h"

#include <QDebug>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include <chrono>

namespace {

// The modifiers that tell one combination from another; Num Lock (Mod2) and Caps Lock are not among them.
constexpr unsigned int CombinationModifiers = ShiftMask | ControlMask | Mod1Mask | Mod4Mask;
constexpr unsigned int NumLockMask = Mod2Mask;

qint64 nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The hotkey's passive grab on the root window, with exactly its modifiers, also with Num Lock on.
class HotkeyGrab final {
public:
    HotkeyGrab(Display *connection, const std::optional<Hotkey::Combination> &combination)
        : display(connection)
        , hotkey(combination)
        , keycode(combination ? X11Input::hotkeyKeycode(connection, combination->keysym) : 0)
    {
        // Held down, the key repeats as presses alone, and its one release ends the hold.
        Bool supported = False;
        detectableRepeat = XkbSetDetectableAutoRepeat(display, True, &supported) && supported;
    }

    // Whether the keyboard has the key at all; keycode 0 would grab every key (AnyKey).
    bool hasKey() const { return keycode != 0; }
    // Returns false when the server refused it (another client holds the combination).
    bool grab() const
    {
        if (!hasKey())
            return false;
        const bool grabbed = X11Support::grabKey(display, keycode, hotkey->modifiers);
        X11Support::grabKey(display, keycode, hotkey->modifiers | NumLockMask);
        return grabbed;
    }
    // A new keyboard mapping (XTEST clients send one when they first type, a layout switch) may
    // move the key. Returns true when the grab has to be made again on another key.
    bool followMapping()
    {
        if (!hotkey)
            return false;
        const unsigned int moved = X11Input::hotkeyKeycode(display, hotkey->keysym);
        if (moved == keycode || moved == 0)
            return false;
        if (hasKey()) {
            XUngrabKey(display, int(keycode), hotkey->modifiers, DefaultRootWindow(display));
            XUngrabKey(display, int(keycode), hotkey->modifiers | NumLockMask, DefaultRootWindow(display));
        }
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
    unsigned int keycode;
    bool detectableRepeat = false;
    bool down = false;
};

} // namespace

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

    // With motion events to wake it, the shake poll may sleep while the pointer rests.
    X11Input::InputEvents input;
    if (input.select(display, settings.ctrlTap))
        host.motionEventsSelected();
    CtrlTap ctrlTap;
    ctrlTap.setCtrlKeycodes(X11Input::controlKeycodes(display));

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
        int waitMs = -1;
        if (hotkey.hasKey() && !schedule.holding()) {
            const qint64 now = nowMs();
            if (schedule.nextAttempt() <= now) {
                switch (schedule.attempted(hotkey.grab(), now)) {
                case GrabSchedule::Note::Silent:
                    break;
                case GrabSchedule::Note::TookOver:
                    if (settings.debug)
                        qDebug() << "Took over from an older glintor-service";
                    break;
                case GrabSchedule::Note::StillWaiting:
                    qWarning().noquote() << "The glintor-service replaced still holds the hotkey" << hotkeyText
                                         << "- waiting for it to let go";
                    break;
                case GrabSchedule::Note::Refused:
                    qWarning().noquote() << "Cannot grab hotkey" << hotkeyText
                                         << "- possibly already grabbed by another application";
                    break;
                case GrabSchedule::Note::Grabbed:
                    qInfo().noquote() << "The hotkey" << hotkeyText << "is free now and works";
                    break;
                }
                continue;
            }
            waitMs = int(schedule.nextAttempt() - now);
        }
        if (!X11Input::waitForEvent(display, waitMs))
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
            host.trigger(QStringLiteral("Ctrl tapped"));
        } else if (event.type == MappingNotify) {
            XRefreshKeyboardMapping(&event.xmapping);
            if (hotkey.followMapping())
                schedule = GrabSchedule(nowMs(), false);
            ctrlTap.setCtrlKeycodes(X11Input::controlKeycodes(display));
        } else if ((event.type == KeyPress || event.type == KeyRelease) && hotkey.pressedBy(event)) {
            host.trigger(hotkeyPressed);
        }
    }
}
