#include "hotkey.h"

#include <QKeySequence>

#include <X11/X.h>
#include <X11/keysym.h>

namespace Hotkey {

namespace {

constexpr int ModifierBits = Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier
    | Qt::KeypadModifier | Qt::GroupSwitchModifier;

// The X keysym of a Qt key, or 0 where there is none this program knows.
unsigned long keysymOf(int key)
{
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return XK_a + unsigned(key - Qt::Key_A);
    // Qt's codes of the other printable Latin-1 keys are their X keysyms.
    if ((key >= Qt::Key_Space && key <= Qt::Key_AsciiTilde) || (key >= Qt::Key_nobreakspace && key <= Qt::Key_ydiaeresis))
        return unsigned(key);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F35)
        return XK_F1 + unsigned(key - Qt::Key_F1);
    switch (key) {
    case Qt::Key_Escape: return XK_Escape;
    case Qt::Key_Tab: return XK_Tab;
    case Qt::Key_Backspace: return XK_BackSpace;
    case Qt::Key_Return: return XK_Return;
    case Qt::Key_Insert: return XK_Insert;
    case Qt::Key_Delete: return XK_Delete;
    case Qt::Key_Pause: return XK_Pause;
    case Qt::Key_Print: return XK_Print;
    case Qt::Key_Home: return XK_Home;
    case Qt::Key_End: return XK_End;
    case Qt::Key_Left: return XK_Left;
    case Qt::Key_Up: return XK_Up;
    case Qt::Key_Right: return XK_Right;
    case Qt::Key_Down: return XK_Down;
    case Qt::Key_PageUp: return XK_Prior;
    case Qt::Key_PageDown: return XK_Next;
    case Qt::Key_Menu: return XK_Menu;
    case Qt::Key_ScrollLock: return XK_Scroll_Lock;
    default: return 0;
    }
}

} // namespace

Problem check(const QKeySequence &sequence)
{
    if (sequence.count() != 1 || sequence[0] == 0 || (sequence[0] & ~ModifierBits) == Qt::Key_unknown)
        return Problem::NotOneCombination;
    const int key = sequence[0] & ~ModifierBits;
    const int modifiers = sequence[0] & ModifierBits;
    if ((modifiers & (Qt::KeypadModifier | Qt::GroupSwitchModifier)) || keysymOf(key) == 0)
        return Problem::UnknownKey;
    const bool functionKey = key >= Qt::Key_F1 && key <= Qt::Key_F35;
    if (!functionKey && !(modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)))
        return Problem::NoModifier;
    return Problem::Accepted;
}

std::optional<Combination> fromText(const QString &text)
{
    const QKeySequence sequence = QKeySequence::fromString(text, QKeySequence::PortableText);
    if (check(sequence) != Problem::Accepted)
        return std::nullopt;
    const int modifiers = sequence[0] & ModifierBits;
    Combination combination;
    combination.text = sequence.toString(QKeySequence::PortableText);
    combination.keysym = keysymOf(sequence[0] & ~ModifierBits);
    if (modifiers & Qt::ShiftModifier)
        combination.modifiers |= ShiftMask;
    if (modifiers & Qt::ControlModifier)
        combination.modifiers |= ControlMask;
    if (modifiers & Qt::AltModifier)
        combination.modifiers |= Mod1Mask;
    if (modifiers & Qt::MetaModifier)
        combination.modifiers |= Mod4Mask;
    return combination;
}

} // namespace Hotkey
