#pragma once

#include "hotkey.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

// The service's X11 trigger thread. On a connection of its own it takes the display's service
// selection (the newest service wins), grabs the hotkey (retrying while a replaced service lets go
// of it), and watches XInput 2 for a tap of Ctrl alone and for pointer motion that wakes a resting
// shake poll. Its blocking event loop never holds up Qt's.
class HotkeyListener final {
public:
    // Turns the listener's reading of keys and the pointer (the hotkey's grab, XInput 2) off and on
    // from another thread, for a desktop that gets them from elsewhere while it can (GNOME's Shell).
    // The display's selection stays with the listener either way.
    class InputSwitch {
    public:
        InputSwitch();
        ~InputSwitch();
        InputSwitch(const InputSwitch &) = delete;
        InputSwitch &operator=(const InputSwitch &) = delete;

        void set(bool on);
        bool isOn() const { return on.load(); }
        // Readable once set() has been called; the listener waits on it beside its X connection.
        int wakeFd() const { return eventFd; }
        void drain();

    private:
        std::atomic<bool> on { true };
        int eventFd;
    };

    struct Settings {
        std::optional<Hotkey::Combination> hotkey; // none: the user wants no hotkey
        bool ctrlTap = false;
        bool debug = false;
        std::shared_ptr<InputSwitch> input; // none: always on
    };
    // What the listener reports, called on its own thread.
    struct Host {
        std::function<void(const QString &what)> trigger; // the hotkey or a Ctrl tap, to play at the pointer
        std::function<void()> pointerMoved;
        std::function<void()> motionEventsSelected; // pointerMoved will be called from now on
        std::function<void()> newerServiceTookOver; // the listener has let go of everything
        // This is the display's one service now (or no X display answers, so none can be chosen).
        std::function<void()> becameDisplaysService;
    };

    HotkeyListener(const Settings &settings, const Host &host);

    // Runs until a newer service takes over; returns at once when no X display opens.
    void run();

private:
    Settings settings;
    Host host;
};
