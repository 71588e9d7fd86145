#pragma once

#include <QString>

#include <optional>

class QKeySequence;

// The global hotkey of the "hotkey" setting: one key combination, stored in QKeySequence's portable
// text. Both programs use these rules: the settings window accepts only what the service can grab.
namespace Hotkey {

enum class Problem {
    Accepted,
    NotOneCombination, // empty, unreadable, or a sequence of several combinations
    NoModifier, // neither Ctrl, Alt nor Meta, and no function key
    UnknownKey, // a key with no X keysym here (media keys, the keypad)
};

// Why the sequence cannot be the hotkey. A combination needs Ctrl, Alt or Meta, so that it takes no
// plain typing away from other programs; a function key (F1..F35) may stand alone.
Problem check(const QKeySequence &sequence);

// A combination as the X server sees it.
struct Combination {
    QString text; // portable text, e.g. "Ctrl+Alt+M"
    unsigned long keysym = 0;
    unsigned int modifiers = 0; // X modifier mask: ShiftMask, ControlMask, Mod1Mask (Alt), Mod4Mask (Meta)
};

// The combination written as text, or nothing when check() refuses it.
std::optional<Combination> fromText(const QString &text);

} // namespace Hotkey
