#pragma once

#include <algorithm>
#include <vector>

// A tap of Ctrl alone: pressed and released within TapMs, with no other key or button in between and
// no button held when it went down (both Ctrl keys together still count as Ctrl alone). Fed with raw
// input events of the whole desktop, so that nothing is grabbed; Ctrl+C, Ctrl+click or Ctrl held
// while typing are no taps.
class CtrlTap final
{
public:
    static constexpr unsigned long TapMs = 500;

    void setCtrlKeycodes(std::vector<unsigned int> keycodes) { ctrlKeycodes = std::move(keycodes); }

    void keyPress(unsigned int keycode, unsigned long time, bool repeat)
    {
        if (repeat)
            return;
        if (!isCtrl(keycode)) {
            spoiled = true;
            return;
        }
        if (ctrlHeld.empty()) {
            pressedAt = time;
            spoiled = buttonsHeld > 0;
        }
        if (std::find(ctrlHeld.begin(), ctrlHeld.end(), keycode) == ctrlHeld.end())
            ctrlHeld.push_back(keycode);
    }
    // Returns true when the release completes a tap.
    bool keyRelease(unsigned int keycode, unsigned long time)
    {
        const auto held = std::find(ctrlHeld.begin(), ctrlHeld.end(), keycode);
        if (held == ctrlHeld.end())
            return false;
        ctrlHeld.erase(held);
        return ctrlHeld.empty() && !spoiled && time - pressedAt <= TapMs;
    }
    void buttonPress()
    {
        ++buttonsHeld;
        spoiled = true;
    }
    void buttonRelease() { buttonsHeld = std::max(0, buttonsHeld - 1); }

private:
    bool isCtrl(unsigned int keycode) const
    {
        return std::find(ctrlKeycodes.begin(), ctrlKeycodes.end(), keycode) != ctrlKeycodes.end();
    }

    std::vector<unsigned int> ctrlKeycodes;
    std::vector<unsigned int> ctrlHeld;
    unsigned long pressedAt = 0;
    bool spoiled = false;
    int buttonsHeld = 0;
};
