// HotkeyField: the edit that finishes keypad keys, the hint and its room, and the rules of a choice.

#include "hotkeyfield.h"

#include "glintorsettings.h"
#include "hotkey.h"
#include "smalllabels.h"
#include "x11support.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QPushButton>
#include <QVariant>

namespace {

// Whether the keyboard can type the combination's key, as the service will look for it. Only the X
// display can tell; elsewhere the desktop decides, and nothing is refused here.
bool typeable(const Hotkey::Combination &combination)
{
    return QGuiApplication::platformName() != QLatin1String("xcb") || X11Support::keyboardHasKey(combination.keysym);
}

// QKeySequenceEdit drops the keypad modifier, so keypad Enter would pass for "Enter" and keypad 1 for
// 1: keypad keys are finished here, whole, and go the way of every other choice.
class HotkeyEdit final : public QKeySequenceEdit {
public:
    using QKeySequenceEdit::QKeySequenceEdit;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        const Qt::KeyboardModifiers modifiers = event->modifiers();
        if (!(modifiers & Qt::KeypadModifier)) {
            QKeySequenceEdit::keyPressEvent(event);
            return;
        }
        event->accept();
        setKeySequence(QKeySequence(event->key() | int(modifiers & ~Qt::GroupSwitchModifier)));
    }
};

} // namespace

HotkeyField::HotkeyField(QObject *parent)
    : QObject(parent)
{
    hotkeyEdit = new HotkeyEdit(defaultHotkey());
    hotkeyEdit->setObjectName(QStringLiteral("hotkeyEdit"));
    connect(hotkeyEdit, &QKeySequenceEdit::keySequenceChanged, this, &HotkeyField::takeHotkey);
    // QKeySequenceEdit has no way of its own to give a hotkey up.
    auto *clearHotkeyButton = new QPushButton(QCoreApplication::translate("GlintorGUI", "清除"));
    clearHotkeyButton->setObjectName(QStringLiteral("clearHotkeyButton"));
    connect(clearHotkeyButton, &QPushButton::clicked, this, [this] { showHotkey(QKeySequence()); });
    hotkeyRow = new QHBoxLayout;
    hotkeyRow->addWidget(hotkeyEdit, 1);
    hotkeyRow->addWidget(clearHotkeyButton);
    // Its own line below the field, of one height whatever it says.
    hotkeyHint = SmallLabels::hintLabel(QString());
    hotkeyHint->setObjectName(QStringLiteral("hotkeyHint"));
    hotkeyHint->setWordWrap(true);
    hotkeyHint->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    const QString longCombination = QStringLiteral("Ctrl+Alt+Shift+Meta+Volume Down");
    QStringList hints;
    for (const Hotkey::Problem problem :
        { Hotkey::Problem::NoKey, Hotkey::Problem::SeveralCombinations, Hotkey::Problem::KeypadKey,
            Hotkey::Problem::UnknownKey, Hotkey::Problem::NoModifier, Hotkey::Problem::NotOnKeyboard }) {
        showRefusal(longCombination, problem);
        hints << hotkeyHint->text();
    }
    for (const QKeySequence &sequence : { QKeySequence(), defaultHotkey() }) {
        showHotkey(sequence);
        hints << hotkeyHint->text();
    }
    SmallLabels::reserveRoom(hotkeyHint, hints);
}

QKeySequence HotkeyField::defaultHotkey()
{
    return QKeySequence::fromString(QLatin1String(GlintorSettings::Default::Hotkey), QKeySequence::PortableText);
}

QKeySequence HotkeyField::keySequence() const
{
    return hotkeyEdit->keySequence();
}

void HotkeyField::showStored(const QVariant &stored)
{
    Hotkey::Problem refused = Hotkey::Problem::Accepted;
    const std::optional<Hotkey::Combination> hotkey = Hotkey::fromSetting(stored, &refused);
    showHotkey(hotkey ? QKeySequence::fromString(hotkey->text, QKeySequence::PortableText) : QKeySequence());
    if (refused != Hotkey::Problem::Accepted)
        showRefusal(Hotkey::settingText(stored), refused);
    else if (hotkey && !typeable(*hotkey))
        showRefusal(
            QKeySequence::fromString(hotkey->text, QKeySequence::PortableText).toString(QKeySequence::NativeText),
            Hotkey::Problem::NotOnKeyboard);
}

void HotkeyField::showHotkey(const QKeySequence &sequence)
{
    const QSignalBlocker quiet(hotkeyEdit);
    hotkeyEdit->setKeySequence(sequence);
    hotkeyHint->setText(sequence.isEmpty()
            ? QCoreApplication::translate(
                "GlintorGUI", "(无快捷键；按下组合键即可设定，或在桌面的快捷键设置中绑定命令 glintor-locate)")
            : QCoreApplication::translate("GlintorGUI",
                "(需含 Ctrl、Alt 或 Meta；功能键可单独使用。也可在桌面的快捷键设置中绑定命令 "
                "glintor-locate)"));
    hotkeyHint->setStyleSheet(SmallLabels::hintStyle("gray"));
    accepted = sequence;
}

void HotkeyField::showRefusal(const QString &text, Hotkey::Problem problem)
{
    QString why;
    switch (problem) {
    case Hotkey::Problem::Accepted:
        return;
    case Hotkey::Problem::NoKey:
        why = QCoreApplication::translate("GlintorGUI", "不能用“%1”：没有这样的键");
        break;
    case Hotkey::Problem::SeveralCombinations:
        why = QCoreApplication::translate("GlintorGUI", "不能用“%1”：快捷键只能是一个组合键");
        break;
    case Hotkey::Problem::KeypadKey:
        why = QCoreApplication::translate("GlintorGUI", "不能用“%1”：小键盘上的键不能作快捷键");
        break;
    case Hotkey::Problem::UnknownKey:
        why = QCoreApplication::translate("GlintorGUI", "不能用“%1”：服务无法捕获这个键（如多媒体键）");
        break;
    case Hotkey::Problem::NoModifier:
        why = QCoreApplication::translate("GlintorGUI", "不能用“%1”：需含 Ctrl、Alt 或 Meta；功能键可单独使用");
        break;
    case Hotkey::Problem::NotOnKeyboard:
        why = QCoreApplication::translate("GlintorGUI", "不能用“%1”：这个键盘上没有这个键");
        break;
    }
    hotkeyHint->setText(why.arg(text));
    hotkeyHint->setStyleSheet(SmallLabels::hintStyle("red"));
}

void HotkeyField::takeHotkey(const QKeySequence &sequence)
{
    // The edit empties itself as a recording begins: that is no choice yet. The clear button gives
    // the hotkey up.
    if (sequence.isEmpty())
        return;
    // The edit would go on recording up to four combinations: the first one decides.
    const QKeySequence first(sequence[0]);
    Hotkey::Problem problem = Hotkey::check(first);
    const std::optional<Hotkey::Combination> combination = Hotkey::fromText(first.toString(QKeySequence::PortableText));
    if (combination && !typeable(*combination))
        problem = Hotkey::Problem::NotOnKeyboard;
    showHotkey(problem == Hotkey::Problem::Accepted ? first : accepted);
    hotkeyEdit->clearFocus();
    showRefusal(first.toString(QKeySequence::NativeText), problem);
}
