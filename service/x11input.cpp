#include "x11input.h"

#include "x11support.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>

#include <poll.h>

namespace X11Input {

ServiceSelection::ServiceSelection(Display *connection)
    : display(connection)
    , selectionName("_GLINTOR_SERVICE_S" + QByteArray::number(DefaultScreen(connection)))
{
}

ServiceSelection::Claim ServiceSelection::claim()
{
    const Window root = DefaultRootWindow(display);
    selection = XInternAtom(display, selectionName.constData(), False);
    // Never mapped: it only stands for this service while the connection lives.
    window = XCreateSimpleWindow(display, root, -1, -1, 1, 1, 0, 0, 0);
    XSelectInput(display, window, PropertyChangeMask);

    // A manager selection is taken with a real server time: that of the change of the window's name.
    static const unsigned char name[] = "glintor-service";
    XChangeProperty(display, window, XA_WM_NAME, XA_STRING, 8, PropModeReplace, name, int(sizeof(name) - 1));
    XEvent event;
    XWindowEvent(display, window, PropertyChangeMask, &event);
    const Time timestamp = event.xproperty.time;

    previousOwner = XGetSelectionOwner(display, selection);
    if (previousOwner != None) {
        // Its DestroyNotify tells when the older service has gone. It may be gone already.
        X11Support::ErrorTrap trap(display);
        XSelectInput(display, previousOwner, StructureNotifyMask);
        if (trap.errorCode() != 0)
            previousOwner = None;
    }
    XSetSelectionOwner(display, selection, window, timestamp);
    const Window owner = XGetSelectionOwner(display, selection);
    if (owner != window)
        return owner == None ? Claim::Refused : Claim::TakenByNewer;

    // Announce the new owner to whoever watches the root, as managers do.
    XEvent manager {};
    manager.xclient.type = ClientMessage;
    manager.xclient.window = root;
    manager.xclient.message_type = XInternAtom(display, "MANAGER", False);
    manager.xclient.format = 32;
    manager.xclient.data.l[0] = long(timestamp);
    manager.xclient.data.l[1] = long(selection);
    manager.xclient.data.l[2] = long(window);
    XSendEvent(display, root, False, StructureNotifyMask, &manager);
    XFlush(display);
    return Claim::Taken;
}

bool ServiceSelection::lostTo(const XEvent &event)
{
    if (event.type == DestroyNotify && previousOwner != None && event.xdestroywindow.window == previousOwner)
        previousOwner = None;
    return event.type == SelectionClear && event.xselectionclear.window == window
        && event.xselectionclear.selection == selection;
}

bool keyboardHeldElsewhere(Display *display)
{
    // Only one client can grab the keyboard: a grab of our own that the server refuses tells that
    // another client (a screen locker, a menu, a window manager's switcher) holds it now.
    const int result = XGrabKeyboard(display, DefaultRootWindow(display), False, GrabModeAsync, GrabModeAsync,
        CurrentTime);
    if (result == GrabSuccess) {
        XUngrabKeyboard(display, CurrentTime);
        XFlush(display);
    }
    return result == AlreadyGrabbed || result == GrabFrozen;
}

bool waitForEvent(Display *display, int timeoutMs, int wakeFd)
{
    if (XPending(display) > 0)
        return true;
    pollfd waited[2] = { { ConnectionNumber(display), POLLIN, 0 }, { wakeFd, POLLIN, 0 } };
    ::poll(waited, wakeFd >= 0 ? 2 : 1, timeoutMs);
    return XPending(display) > 0;
}

std::vector<unsigned int> controlKeycodes(Display *display)
{
    // Sets Xlib up to turn the server's XKB map changes into MappingNotify events, also where no
    // hotkey lookup has done so: without them the Ctrl keys would not follow a new keymap.
    XKeysymToKeycode(display, XK_Control_L);
    std::vector<unsigned int> keycodes;
    XModifierKeymap *map = XGetModifierMapping(display);
    if (!map)
        return keycodes;
    for (int i = 0; i < map->max_keypermod; ++i) {
        if (const KeyCode keycode = map->modifiermap[ControlMapIndex * map->max_keypermod + i])
            keycodes.push_back(keycode);
    }
    XFreeModifiermap(map);
    return keycodes;
}

bool InputEvents::select(Display *connection, bool keysAndButtons)
{
    display = connection;
    opcode = -1;
    int extension = 0;
    int firstEvent = 0;
    int firstError = 0;
    if (!XQueryExtension(display, "XInputExtension", &extension, &firstEvent, &firstError))
        return false;
    // 2.2: a client of version 2.0 gets no raw events while another client holds a pointer grab
    // (a held button, an open menu, a drag), so a shake made then would go unseen; 2.2 also has
    // touch events.
    int major = 2;
    int minor = 2;
    if (XIQueryVersion(display, &major, &minor) != Success)
        return false;

    unsigned char mask[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(mask, XI_RawMotion);
    XISetMask(mask, XI_Motion);
    if (keysAndButtons) {
        XISetMask(mask, XI_RawKeyPress);
        XISetMask(mask, XI_RawKeyRelease);
        XISetMask(mask, XI_RawButtonPress);
        XISetMask(mask, XI_RawButtonRelease);
        XISetMask(mask, XI_RawTouchBegin);
    }
    XIEventMask masters { XIAllMasterDevices, int(sizeof(mask)), mask };
    // Devices that come and go change which valuators scroll.
    unsigned char deviceMask[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(deviceMask, XI_HierarchyChanged);
    XISetMask(deviceMask, XI_DeviceChanged);
    XIEventMask devices { XIAllDevices, int(sizeof(deviceMask)), deviceMask };
    const Window root = DefaultRootWindow(display);
    {
        X11Support::ErrorTrap trap(display);
        XISelectEvents(display, root, &masters, 1);
        if (trap.errorCode() != 0) {
            // A server without touch support refuses the touch mask.
            XIClearMask(mask, XI_RawTouchBegin);
            XISelectEvents(display, root, &masters, 1);
            if (trap.errorCode() != 0)
                return false;
        }
        if (keysAndButtons) {
            XISelectEvents(display, root, &devices, 1);
            trap.errorCode();
        }
    }
    opcode = extension;
    if (keysAndButtons)
        readScrollAxes();
    return true;
}

void InputEvents::deselect()
{
    if (opcode < 0)
        return;
    unsigned char none[XIMaskLen(XI_LASTEVENT)] = {};
    XIEventMask masks[2] = { { XIAllMasterDevices, int(sizeof(none)), none }, { XIAllDevices, int(sizeof(none)), none } };
    XISelectEvents(display, DefaultRootWindow(display), masks, 2);
    XFlush(display);
    opcode = -1;
}

void InputEvents::readScrollAxes()
{
    scrollAxes.clear();
    int count = 0;
    XIDeviceInfo *info = XIQueryDevice(display, XIAllDevices, &count);
    for (int i = 0; info && i < count; ++i) {
        for (int c = 0; c < info[i].num_classes; ++c) {
            if (info[i].classes[c]->type == XIScrollClass) {
                const auto *scroll = reinterpret_cast<const XIScrollClassInfo *>(info[i].classes[c]);
                scrollAxes[info[i].deviceid].push_back(scroll->number);
            }
        }
    }
    if (info)
        XIFreeDeviceInfo(info);
}

InputEvents::Event InputEvents::read(XEvent &event, bool scrollWanted)
{
    Event input;
    if (opcode < 0 || event.xcookie.type != GenericEvent || event.xcookie.extension != opcode)
        return input;
    // Motion needs only the cookie's type, known without fetching the event data; Xlib frees
    // unclaimed data at the next XNextEvent.
    switch (event.xcookie.evtype) {
    case XI_RawMotion:
        input.kind = Event::Motion;
        if (!scrollWanted)
            return input;
        break;
    case XI_Motion:
        input.kind = Event::Motion;
        return input;
    case XI_RawKeyPress:
        input.kind = Event::KeyDown;
        break;
    case XI_RawKeyRelease:
        input.kind = Event::KeyUp;
        break;
    case XI_RawButtonPress:
        input.kind = Event::ButtonDown;
        break;
    case XI_RawButtonRelease:
        input.kind = Event::ButtonUp;
        break;
    case XI_RawTouchBegin:
        input.kind = Event::TouchBegin;
        return input;
    case XI_HierarchyChanged:
        readScrollAxes();
        return input;
    case XI_DeviceChanged:
        if (XGetEventData(display, &event.xcookie)) {
            const auto *changed = static_cast<const XIDeviceChangedEvent *>(event.xcookie.data);
            const bool classesChanged = changed->reason == XIDeviceChange;
            XFreeEventData(display, &event.xcookie);
            if (classesChanged)
                readScrollAxes();
        }
        return input;
    default:
        return input;
    }
    if (!XGetEventData(display, &event.xcookie))
        return Event();
    const auto *raw = static_cast<const XIRawEvent *>(event.xcookie.data);
    input.detail = unsigned(raw->detail);
    input.time = raw->time;
    input.repeat = raw->flags & XIKeyRepeat;
    if (input.kind == Event::Motion) {
        const auto axes = scrollAxes.find(raw->sourceid);
        if (axes != scrollAxes.end()) {
            for (const int axis : axes->second) {
                if (axis < raw->valuators.mask_len * 8 && XIMaskIsSet(raw->valuators.mask, axis))
                    input.kind = Event::Scroll;
            }
        }
    }
    XFreeEventData(display, &event.xcookie);
    return input;
}

} // namespace X11Input
