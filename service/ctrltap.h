#pragma once

#include <algorithm>
#include <vector>

// A tap of Ctrl alone: pressed while no other key and no button is down, released within TapMs,
// and nothing else pressed, scrolled or touched in between (both Ctrl keys together still count as
// Ctrl alone). Fed with raw input events of the whole desktop, so that nothing is grabbed; Ctrl+C,
// Ctrl+click, Ctrl+wheel zoom, Shift+Ctrl (a layout switch) or Ctrl held while typing are no taps.
// A fresh press of a key believed down means its release went unseen: it counts as released first,
// so that one lost event never spoils every later tap.
class CtrlTap final
{
public:
    static constexpr unsigned long TapMs = 500;

    // The keycodes that are Ctrl: every key the modifier map binds to Control.
    void setCtrlKeycodes(std::vector<unsigned int> keycodes) { ctrlKeycodes = std::move(keycodes); }

    void keyPress(unsigned int keycode, unsigned long time, bool repeat)
    {
        if (repeat)
            return;
        release(ctrlHeld, keycode);
        release(othersHeld, keycode);
        if (!isCtrl(keycode)) {
            hold(othersHeld, keycode);
            spoiled = true;
            return;
        }
        if (ctrlHeld.empty()) {
            pressedAt = time;
            spoiled = buttonsHeld > 0 || !othersHeld.empty();
        }
        hold(ctrlHeld, keycode);
    }
    // Returns true when the release completes a tap.
    bool keyRelease(unsigned int keycode, unsigned long time)
    {
        if (!release(ctrlHeld, keycode)) {
            release(othersHeld, keycode);
            return false;
        }
        return ctrlHeld.empty() && !spoiled && time - pressedAt <= TapMs;
    }
    void buttonPress()
    {
        ++buttonsHeld;
        spoiled = true;
    }
    void buttonRelease() { buttonsHeld = std::max(0, buttonsHeld - 1); }
    // Input that is no key or button yet spoils a tap: a smooth scroll (wheels and touchpads send
    // scroll valuators, not buttons 4 and 5), a touch.
    void otherInput() { spoiled = true; }

    // Whether a Ctrl key is down, so that other input matters.
    bool ctrlDown() const { return !ctrlHeld.empty(); }

private:
    bool isCtrl(unsigned int keycode) const
    {
        return std::find(ctrlKeycodes.begin(), ctrlKeycodes.end(), keycode) != ctrlKeycodes.end();
    }
    static void hold(std::vector<unsigned int> &held, unsigned int keycode)
    {
        if (std::find(held.begin(), held.end(), keycode) == held.end())
            held.push_back(keycode);
    }
    static bool release(std::vector<unsigned int> &held, unsigned int keycode)
    {
        const auto found = std::find(held.begin(), held.end(), keycode);
        if (found == held.end())
            return false;
        held.erase(found);
        return true;
    }

    std::vector<unsigned int> ctrlKeycodes;
    std::vector<unsigned int> ctrlHeld;
    std::vector<unsigned int> othersHeld;
    unsigned long pressedAt = 0;
    bool spoiled = false;
    int buttonsHeld = 0;
};
