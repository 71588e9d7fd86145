// The hotkey rules both programs share: which stored texts become which X combination, and why the
// others are refused.

#include "hotkey.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <X11/X.h>
#include <X11/keysym.h>

Q_DECLARE_METATYPE(Hotkey::Problem)

class TestHotkeyRules : public QObject {
    Q_OBJECT

private slots:
    void storedValue_data();
    void storedValue();
};

void TestHotkeyRules::storedValue_data()
{
    QTest::addColumn<QVariant>("stored"); // as the settings file holds it; invalid: no such key
    QTest::addColumn<Hotkey::Problem>("problem");
    QTest::addColumn<qulonglong>("keysym"); // 0: no hotkey at all
    QTest::addColumn<uint>("modifiers");

    using P = Hotkey::Problem;
    const uint ctrlAlt = ControlMask | Mod1Mask;
    QTest::newRow("missing: Ctrl+Alt+M") << QVariant() << P::Accepted << qulonglong(XK_m) << ctrlAlt;
    QTest::newRow("empty: no hotkey") << QVariant(QString()) << P::Accepted << qulonglong(0) << 0u;
    QTest::newRow("Cyrillic soft sign") << QVariant("Ctrl+Alt+Ь") << P::Accepted << qulonglong(XK_Cyrillic_softsign)
                                        << ctrlAlt;
    // Refused values fall back to Ctrl+Alt+M.
    QTest::newRow("keypad Enter") << QVariant("Ctrl+Alt+Num+Enter") << P::KeypadKey << qulonglong(XK_m) << ctrlAlt;
    QTest::newRow("Enter, which is the keypad's") << QVariant("Ctrl+Alt+Enter") << P::KeypadKey << qulonglong(XK_m)
                                                  << ctrlAlt;
    QTest::newRow("media key") << QVariant("Ctrl+Alt+Volume Mute") << P::UnknownKey << qulonglong(XK_m) << ctrlAlt;
    QTest::newRow("two combinations") << QVariant("Ctrl+K, Ctrl+L") << P::SeveralCombinations << qulonglong(XK_m)
                                      << ctrlAlt;
    QTest::newRow("two combinations, unquoted in the file")
        << QVariant(QStringList { "Ctrl+K", "Ctrl+L" }) << P::SeveralCombinations << qulonglong(XK_m) << ctrlAlt;
    QTest::newRow("no modifier") << QVariant("Shift+L") << P::NoModifier << qulonglong(XK_m) << ctrlAlt;
}

void TestHotkeyRules::storedValue()
{
    QFETCH(QVariant, stored);
    QFETCH(Hotkey::Problem, problem);
    QFETCH(qulonglong, keysym);
    QFETCH(uint, modifiers);

    // Through a real settings file, as the window writes it and the service reads it.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Settings.conf"));
    if (stored.isValid())
        QSettings(path, QSettings::IniFormat).setValue(QStringLiteral("hotkey"), stored);
    Hotkey::Problem refused = Hotkey::Problem::NoKey;
    const auto combination
        = Hotkey::fromSetting(QSettings(path, QSettings::IniFormat).value(QStringLiteral("hotkey")), &refused);
    QCOMPARE(refused, problem);
    QCOMPARE(combination ? qulonglong(combination->keysym) : 0, keysym);
    QCOMPARE(combination ? combination->modifiers : 0u, modifiers);
}

QTEST_APPLESS_MAIN(TestHotkeyRules)
#include "tst_hotkeyrules.moc"
