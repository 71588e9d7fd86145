#pragma once

#include "desktop.h"
#include "hotkeylistener.h"

#include <memory>

class GlobalKeyHandler;

// The X11 desktop: the hotkey thread (the display's selection, the hotkey's grab, XInput 2 for the
// Ctrl tap and for pointer motion), the key filter and the shake poll, and the pointer as the X
// server tells it. Also the ground of a desktop that runs through XWayland.
class X11Desktop : public Desktop {
    Q_OBJECT

public:
    X11Desktop(Glintor *overlay, LocateInterface *bus, bool debug);
    ~X11Desktop() override;

    bool start() override;
    void stop() override;
    void findPointer(Found found) override;

protected:
    // What the hotkey thread serves, read from the settings at start-up.
    const HotkeyListener::Settings &triggers() const { return triggerSettings; }
    GlobalKeyHandler *keyHandler() const { return keys.get(); }
    // Switches the desktop's own reading of keys and the pointer (the hotkey's grab, XInput 2, the
    // shake poll) off and on, for a desktop that gets them from elsewhere while it can. Before
    // start(): the state it starts in.
    void readInputFromX11(bool on);
    // The line that tells, once at start, what the service can see on this desktop.
    virtual void sayWhatIsSeen();

private:
    HotkeyListener::Settings triggerSettings;
    std::unique_ptr<GlobalKeyHandler> keys;
};
