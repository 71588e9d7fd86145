#pragma once

#include <QString>

#include <optional>

class QKeySequence;
class QVariant;

// The global hotkey of the "hotkey" setting: one key combination, stored in QKeySequence's portable
// text. Both programs use these rules: the settings window accepts only what the service can grab.
namespace Hotkey {

enum class Problem {
    Accepted,
    NoKey, // empty, or text that names no key
    SeveralCombinations, // e.g. "Ctrl+K, Ctrl+L": a grab takes one combination only
    KeypadKey, // a key on the keypad: its keysym changes with Num Lock
    UnknownKey, // a key with no keysym the service grabs (media keys, volume, ...)
    NoModifier, // neither Ctrl, Alt nor Meta, and no function key
    NotOnKeyboard, // the keyboard has no key for it (F13 on most keymaps); told by the X display, not check()
};

// Why the sequence cannot be the hotkey. A combination needs Ctrl, Alt or Meta, so that it takes no
// plain typing away from other programs; a function key (F1..F35) may stand alone.
Problem check(const QKeySequence &sequence);

// A combination as the X server sees it.
struct Combination {
    QString text; // portable text, e.g. "Ctrl+Alt+M"
    unsigned long keysym = 0; // of the key's lower-case symbol, e.g. Cyrillic_softsign for "Ctrl+Alt+Ь"
    unsigned int modifiers = 0; // X modifier mask: ShiftMask, ControlMask, Mod1Mask (Alt), Mod4Mask (Meta)
};

// The combination in the notation GNOME Shell grabs accelerators in, e.g. "<Control><Alt>m".
QString shellAccelerator(const Combination &combination);

// The combination written as text, or nothing when check() refuses it.
std::optional<Combination> fromText(const QString &text);

// The combination a stored "hotkey" value stands for, as both programs read it:
// - no value (the key is missing): the default, Ctrl+Alt+M;
// - empty text: nothing, the user wants no hotkey;
// - a combination check() accepts: that combination;
// - anything else: the default, and *refused (when given) tells why the stored text was not taken.
// *refused is Problem::Accepted in the other cases. Pass settings.value(key) with no default.
std::optional<Combination> fromSetting(const QVariant &stored, Problem *refused = nullptr);

// The stored value as text; a hand-written list ("Ctrl+K, Ctrl+L" unquoted) is one text again.
QString settingText(const QVariant &stored);

} // namespace Hotkey
