#include "hotkey.h"

#include "glintorsettings.h"

#include <QKeySequence>
#include <QStringList>
#include <QVariant>

#include <X11/X.h>
#include <X11/keysym.h>
#include <xkbcommon/xkbcommon.h>

namespace Hotkey {

namespace {

constexpr int ModifierBits = Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier
    | Qt::KeypadModifier | Qt::GroupSwitchModifier;

// The X keysym of a Qt key, or 0 where there is none this program knows.
unsigned long keysymOf(int key)
{
    // Qt names a character key by its upper-case code point; the keymaps hold the lower case at the
    // first level. libxkbcommon gives the legacy keysyms X keymaps use (Cyrillic_softsign, not U+044C).
    const uint code = uint(key);
    if (code <= 0x10FFFF && QChar::isPrint(code))
        return xkb_utf32_to_keysym(QChar::toLower(code));
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

// The first combination as key | modifiers; Qt 6 hands it out as a QKeyCombination.
int firstCombination(const QKeySequence &sequence)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return sequence[0].toCombined();
#else
    return sequence[0];
#endif
}

} // namespace

Problem check(const QKeySequence &sequence)
{
    const int first = sequence.isEmpty() ? 0 : firstCombination(sequence);
    if (first == 0 || (first & ~ModifierBits) == Qt::Key_unknown)
        return Problem::NoKey;
    if (sequence.count() > 1)
        return Problem::SeveralCombinations;
    const int key = first & ~ModifierBits;
    const int modifiers = first & ModifierBits;
    // On X11 Qt's Enter is always the keypad's; the main one is Return.
    if ((modifiers & Qt::KeypadModifier) || key == Qt::Key_Enter)
        return Problem::KeypadKey;
    if ((modifiers & Qt::GroupSwitchModifier) || keysymOf(key) == 0)
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
    const int modifiers = firstCombination(sequence) & ModifierBits;
    Combination combination;
    combination.text = sequence.toString(QKeySequence::PortableText);
    combination.keysym = keysymOf(firstCombination(sequence) & ~ModifierBits);
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

QString shellAccelerator(const Combination &combination)
{
    QString accelerator;
    if (combination.modifiers & ShiftMask)
        accelerator += QLatin1String("<Shift>");
    if (combination.modifiers & ControlMask)
        accelerator += QLatin1String("<Control>");
    if (combination.modifiers & Mod1Mask)
        accelerator += QLatin1String("<Alt>");
    if (combination.modifiers & Mod4Mask)
        accelerator += QLatin1String("<Super>");
    char name[64] = {};
    if (xkb_keysym_get_name(xkb_keysym_t(combination.keysym), name, sizeof name) < 0)
        return QString();
    return accelerator + QString::fromLatin1(name);
}

QString settingText(const QVariant &stored)
{
    // QSettings reads an unquoted comma in the file as a list.
    if (stored.userType() == QMetaType::QStringList)
        return stored.toStringList().join(QLatin1String(", "));
    return stored.toString();
}

std::optional<Combination> fromSetting(const QVariant &stored, Problem *refused)
{
    if (refused)
        *refused = Problem::Accepted;
    const QString text = settingText(stored).trimmed();
    if (stored.isValid() && text.isEmpty())
        return std::nullopt;
    if (stored.isValid()) {
        if (std::optional<Combination> combination = fromText(text))
            return combination;
        if (refused)
            *refused = check(QKeySequence::fromString(text, QKeySequence::PortableText));
    }
    return fromText(QLatin1String(GlintorSettings::Default::Hotkey));
}

} // namespace Hotkey
