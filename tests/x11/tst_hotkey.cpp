// The global hotkey end to end: the real glintor-service on a private Xvfb, keys typed through
// XTEST by xdotool.

#include "servicefixture.h"

#include <QProcess>
#include <QScopeGuard>
#include <QtTest>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <csignal>

namespace {

const QString HotkeyLine = QStringLiteral("Hotkey Ctrl+Alt+M pressed at position: ");
const QString StartedLine = QStringLiteral("Animation started at position: ");
const QString FinishedLine = QStringLiteral("Animation finished");
const QString GrabWarning
    = QStringLiteral("Cannot grab hotkey Ctrl+Alt+M - possibly already grabbed by another application");

} // namespace

class TestHotkey final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void hotkeyStartsAnimationAtPointer_data();
    void hotkeyStartsAnimationAtPointer();
    void otherCombinationsStartNothing_data();
    void otherCombinationsStartNothing();
    void keyReleaseStartsNothing_data();
    void keyReleaseStartsNothing();
    void keyboardMappingChangeKeepsHotkey_data();
    void keyboardMappingChangeKeepsHotkey();
    void terminateWhileHotkeyHeld_data();
    void terminateWhileHotkeyHeld();
    void refusedGrabKeepsServiceRunning_data();
    void refusedGrabKeepsServiceRunning();
    void chosenHotkey_data();
    void chosenHotkey();
    void ctrlTap_data();
    void ctrlTap();
    void ctrlTapUnderWindowManager();
    void hotkeyInEveryLayout_data();
    void hotkeyInEveryLayout();
    void noKeyGrabbed_data();
    void noKeyGrabbed();

private:
    bool xdotool(const QStringList &args) const { return fixture.x().xdotool(args); }
    bool setKeymap(const QString &layout, const QString &option) const
    {
        bool ok = false;
        fixture.x().run(QStringLiteral("setxkbmap"),
            { QStringLiteral("-layout"), layout, QStringLiteral("-option"), QString(), QStringLiteral("-option"),
                option },
            &ok);
        return ok;
    }
    // The hotkey thread places its grab shortly after start; press until one press gets through
    // and its animation has played out, so later counts start from a quiet service.
    bool armHotkey(ProgramRun &run) const;
    // Presses at where until an animation starts there (a grab being placed may miss a press).
    bool pressUntilStarted(ProgramRun &run, const QPoint &where,
                           const QString &combination = QStringLiteral("ctrl+alt+m")) const;
    // A press at a place no earlier press used; once its line is there, every earlier press has
    // been handled (the hotkey thread takes events in order).
    bool markerPress(ProgramRun &run, const QPoint &where) const;

    ServiceFixture fixture;
};

void TestHotkey::initTestCase()
{
    QVERIFY(fixture.isReady());
}

void TestHotkey::init()
{
    fixture.writeSettings({});
}

bool TestHotkey::armHotkey(ProgramRun &run) const
{
    return pressUntilStarted(run, QPoint(1, 1)) && waitForCount(run, FinishedLine, 1);
}

bool TestHotkey::pressUntilStarted(ProgramRun &run, const QPoint &where, const QString &combination) const
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (!xdotool(xdotoolMove(where) << QStringLiteral("key") << combination))
            return false;
        if (waitForCount(run, StartedLine + pointText(where), 1, 3000))
            return true;
    }
    return false;
}

bool TestHotkey::markerPress(ProgramRun &run, const QPoint &where) const
{
    return xdotool(xdotoolMove(where)) && xdotool({ QStringLiteral("key"), QStringLiteral("ctrl+alt+m") })
        && waitForCount(run, HotkeyLine + pointText(where), 1);
}

void TestHotkey::hotkeyStartsAnimationAtPointer_data()
{
    QTest::addColumn<QString>("lockKey");
    QTest::addColumn<QPoint>("where");
    QTest::addColumn<bool>("displayOption"); // the server named by -display, DISPLAY naming none

    QTest::newRow("plain") << QString() << QPoint(300, 200) << false;
    QTest::newRow("num lock on") << QStringLiteral("Num_Lock") << QPoint(900, 600) << false;
    QTest::newRow("-display") << QString() << QPoint(500, 300) << true;
}

void TestHotkey::hotkeyStartsAnimationAtPointer()
{
    QFETCH(QString, lockKey);
    QFETCH(QPoint, where);
    QFETCH(bool, displayOption);

    QProcessEnvironment environment = fixture.environment();
    QStringList arguments { QStringLiteral("--debug") };
    if (displayOption) {
        environment.insert(QStringLiteral("DISPLAY"), QStringLiteral(":4241"));
        arguments << QStringLiteral("-display") << fixture.x().display();
    }
    auto run = ServiceFixture::startService(arguments, environment);
    QVERIFY2(armHotkey(*run), qPrintable(run->lines().join(QLatin1Char('\n'))));
    const int startedBefore = countLines(*run, StartedLine);
    const int finishedBefore = countLines(*run, FinishedLine);

    if (!lockKey.isEmpty())
        QVERIFY(xdotool({ QStringLiteral("key"), lockKey }));
    auto unlock = qScopeGuard([&] {
        if (!lockKey.isEmpty())
            xdotool({ QStringLiteral("key"), lockKey });
    });

    QVERIFY(xdotool(xdotoolMove(where) << QStringLiteral("key") << QStringLiteral("ctrl+alt+m")));
    QVERIFY(waitForCount(*run, StartedLine + pointText(where), 1));
    QVERIFY(waitForCount(*run, FinishedLine, finishedBefore + 1));

    const QStringList lines = run->lines();
    QCOMPARE(lines.filter(HotkeyLine + pointText(where)).size(), 1);
    QCOMPARE(lines.filter(StartedLine).size(), startedBefore + 1);
    const int startedAt = lines.indexOf(QRegularExpression(QRegularExpression::escape(StartedLine + pointText(where))
                                                           + QStringLiteral(" effect: \\d effectiveMax: 150")));
    QVERIFY2(startedAt >= 0, qPrintable(lines.join(QLatin1Char('\n'))));
    QVERIFY(lines.lastIndexOf(FinishedLine) > startedAt);

    unlock.dismiss();
    if (!lockKey.isEmpty())
        QVERIFY(xdotool({ QStringLiteral("key"), lockKey }));
    QVERIFY(run->sendSignal(SIGTERM));
    QCOMPARE(run->waitForExit(15000), 0);
}

void TestHotkey::otherCombinationsStartNothing_data()
{
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QString>("combination");
    QTest::addColumn<QStringList>("after");

    const QStringList caps { QStringLiteral("key"), QStringLiteral("Caps_Lock") };
    const QStringList capsAndNum { QStringLiteral("key"), QStringLiteral("Caps_Lock"), QStringLiteral("key"),
                                   QStringLiteral("Num_Lock") };

    QTest::newRow("caps lock on") << caps << QStringLiteral("ctrl+alt+m") << caps;
    QTest::newRow("caps lock and num lock on") << capsAndNum << QStringLiteral("ctrl+alt+m") << capsAndNum;
    QTest::newRow("shift held as well") << QStringList() << QStringLiteral("ctrl+alt+shift+m") << QStringList();
    QTest::newRow("super held as well") << QStringList() << QStringLiteral("ctrl+alt+super+m") << QStringList();
    QTest::newRow("ctrl+m") << QStringList() << QStringLiteral("ctrl+m") << QStringList();
    QTest::newRow("alt+m") << QStringList() << QStringLiteral("alt+m") << QStringList();
    QTest::newRow("m alone") << QStringList() << QStringLiteral("m") << QStringList();
    QTest::newRow("ctrl+alt+n") << QStringList() << QStringLiteral("ctrl+alt+n") << QStringList();
}

void TestHotkey::otherCombinationsStartNothing()
{
    QFETCH(QStringList, before);
    QFETCH(QString, combination);
    QFETCH(QStringList, after);

    auto run = fixture.startService({ QStringLiteral("--debug") });
    QVERIFY2(armHotkey(*run), qPrintable(run->lines().join(QLatin1Char('\n'))));
    const int hotkeyBefore = countLines(*run, HotkeyLine);
    const QPoint tried(200, 150);

    if (!before.isEmpty())
        QVERIFY(xdotool(before));
    auto restore = qScopeGuard([&] {
        if (!after.isEmpty())
            xdotool(after);
    });
    QVERIFY(xdotool(xdotoolMove(tried) << QStringLiteral("key") << combination));
    restore.dismiss();
    if (!after.isEmpty())
        QVERIFY(xdotool(after));

    QVERIFY(markerPress(*run, QPoint(1000, 700)));
    QCOMPARE(countLines(*run, HotkeyLine), hotkeyBefore + 1);
    QCOMPARE(countLines(*run, StartedLine + pointText(tried)), 0);

    QVERIFY(run->sendSignal(SIGTERM));
    QCOMPARE(run->waitForExit(15000), 0);
}

void TestHotkey::keyReleaseStartsNothing_data()
{
    QTest::addColumn<QStringList>("releases"); // xdotool arguments

    // The grabbing client gets every release; with m first its release still carries Ctrl+Alt.
    QTest::newRow("m released first") << QStringList { QStringLiteral("keyup"), QStringLiteral("m"),
                                                       QStringLiteral("keyup"), QStringLiteral("ctrl+alt") };
    QTest::newRow("modifiers released first") << QStringList { QStringLiteral("keyup"), QStringLiteral("ctrl+alt"),
                                                               QStringLiteral("keyup"), QStringLiteral("m") };
}

void TestHotkey::keyReleaseStartsNothing()
{
    QFETCH(QStringList, releases);

    // Without key repeat the held combination sends exactly one press.
    bool ok = false;
    fixture.x().run(QStringLiteral("xset"), { QStringLiteral("r"), QStringLiteral("off") }, &ok);
    QVERIFY(ok);
    auto repeatOn
        = qScopeGuard([&] { fixture.x().run(QStringLiteral("xset"), { QStringLiteral("r"), QStringLiteral("on") }); });

    auto run = fixture.startService({ QStringLiteral("--debug") });
    QVERIFY2(armHotkey(*run), qPrintable(run->lines().join(QLatin1Char('\n'))));
    const int hotkeyBefore = countLines(*run, HotkeyLine);
    const QPoint pressedAt(250, 250);
    const QPoint releasedAt(700, 250);

    QVERIFY(xdotool(xdotoolMove(pressedAt) << QStringLiteral("keydown") << QStringLiteral("ctrl+alt+m")));
    auto keyUp = qScopeGuard([&] { xdotool({ QStringLiteral("keyup"), QStringLiteral("ctrl+alt+m") }); });
    QVERIFY(waitForCount(*run, HotkeyLine + pointText(pressedAt), 1));
    QVERIFY(xdotool(xdotoolMove(releasedAt)));
    keyUp.dismiss();
    QVERIFY(xdotool(releases));

    QVERIFY(markerPress(*run, QPoint(1000, 700)));
    QCOMPARE(countLines(*run, HotkeyLine), hotkeyBefore + 2);
    QCOMPARE(countLines(*run, HotkeyLine + pointText(releasedAt)), 0);

    QVERIFY(run->sendSignal(SIGTERM));
    QCOMPARE(run->waitForExit(15000), 0);
}

void TestHotkey::keyboardMappingChangeKeepsHotkey_data()
{
    QTest::addColumn<QStringList>("change"); // xmodmap expressions
    QTest::addColumn<QStringList>("restore");
    QTest::addColumn<QString>("typed"); // typed through xdotool after the change

    // Keycode 93 is unused in the server's default map.
    const QStringList moveM { QStringLiteral("-e"), QStringLiteral("keycode 58 ="), QStringLiteral("-e"),
                              QStringLiteral("keycode 93 = m M m M") };
    const QStringList moveBack { QStringLiteral("-e"), QStringLiteral("keycode 93 ="), QStringLiteral("-e"),
                                 QStringLiteral("keycode 58 = m M m M") };

    QTest::newRow("m moved to another keycode") << moveM << moveBack << QString();
    QTest::newRow("m moved away and back") << (moveM + moveBack) << QStringList() << QString();
    QTest::newRow("a symbol typed through a scratch keycode")
        << QStringList() << QStringList() << QStringLiteral("ctrl+alt+U2603");
}

void TestHotkey::keyboardMappingChangeKeepsHotkey()
{
    QFETCH(QStringList, change);
    QFETCH(QStringList, restore);
    QFETCH(QString, typed);

    auto run = fixture.startService({ QStringLiteral("--debug") });
    QVERIFY2(armHotkey(*run), qPrintable(run->lines().join(QLatin1Char('\n'))));

    auto restoreMap = qScopeGuard([&] {
        if (!restore.isEmpty())
            fixture.x().run(QStringLiteral("xmodmap"), restore);
    });
    if (!change.isEmpty()) {
        bool ok = false;
        fixture.x().run(QStringLiteral("xmodmap"), change, &ok);
        QVERIFY(ok);
    }
    if (!typed.isEmpty())
        QVERIFY(xdotool({ QStringLiteral("key"), typed }));

    // The new mapping reaches the hotkey thread as a MappingNotify; its grab must follow m.
    const QPoint where(640, 100);
    QVERIFY(pressUntilStarted(*run, where));

    restoreMap.dismiss();
    if (!restore.isEmpty()) {
        bool ok = false;
        fixture.x().run(QStringLiteral("xmodmap"), restore, &ok);
        QVERIFY(ok);
    }
    QVERIFY(pressUntilStarted(*run, QPoint(1000, 700)));
    QVERIFY(run->sendSignal(SIGTERM));
    QCOMPARE(run->waitForExit(15000), 0);
}

void TestHotkey::terminateWhileHotkeyHeld_data()
{
    QTest::addColumn<bool>("held"); // for 2 s with auto-repeat, else a burst of separate presses
    QTest::addColumn<bool>("debug");

    QTest::newRow("held down with key repeat, debug") << true << true;
    QTest::newRow("held down with key repeat, quiet") << true << false;
    QTest::newRow("burst of presses, debug") << false << true;
}

void TestHotkey::terminateWhileHotkeyHeld()
{
    QFETCH(bool, held);
    QFETCH(bool, debug);

    auto run = fixture.startService(debug ? QStringList { QStringLiteral("--debug") } : QStringList());
    QVERIFY2(armHotkey(*run), qPrintable(run->lines().join(QLatin1Char('\n'))));
    const int startedBefore = countLines(*run, StartedLine);

    QProcess presser;
    auto release = qScopeGuard([&] {
        // A burst cut short could leave a key down for the tests that follow.
        if (!presser.waitForFinished(30000))
            presser.kill();
        xdotool({ QStringLiteral("keyup"), QStringLiteral("ctrl+alt+m") });
    });
    if (held) {
        bool ok = false;
        fixture.x().run(QStringLiteral("xset"), { QStringLiteral("r"), QStringLiteral("on") }, &ok);
        QVERIFY(ok);
        QVERIFY(xdotool({ QStringLiteral("keydown"), QStringLiteral("ctrl+alt+m") }));
    } else {
        presser.setProcessEnvironment(fixture.x().environment());
        presser.start(QStringLiteral("xdotool"), { QStringLiteral("key"), QStringLiteral("--repeat"),
                                                   QStringLiteral("150"), QStringLiteral("--delay"),
                                                   QStringLiteral("5"), QStringLiteral("ctrl+alt+m") });
        QVERIFY(presser.waitForStarted(5000));
    }
    if (held) {
        // A held combination plays once: its auto-repeat is no new press.
        QVERIFY(waitForCount(*run, StartedLine, startedBefore + 1));
        QTest::qWait(2000);
        QCOMPARE(countLines(*run, StartedLine), startedBefore + 1);
    } else {
        // Every press of the burst is handed over, and more are coming.
        QVERIFY(waitForCount(*run, StartedLine, startedBefore + 4));
    }

    QVERIFY(run->sendSignal(SIGTERM));
    QCOMPARE(run->waitForExit(15000), 0);
}

void TestHotkey::refusedGrabKeepsServiceRunning_data()
{
    QTest::addColumn<bool>("debug");

    // Another glintor-service would not refuse it: the newer one takes over (tst_oneservice).
    QTest::newRow("another client holds it, debug") << true;
    QTest::newRow("another client holds it, quiet") << false;
}

void TestHotkey::refusedGrabKeepsServiceRunning()
{
    QFETCH(bool, debug);

    QProcess holder;
    auto stopHolder = qScopeGuard([&] {
        holder.kill();
        holder.waitForFinished(5000);
    });
    holder.setProcessEnvironment(fixture.x().environment());
    holder.start(builtProgram(QStringLiteral("hotkeyholder")), QStringList());
    QVERIFY(holder.waitForStarted(5000));
    QVERIFY(holder.waitForReadyRead(10000));
    QCOMPARE(holder.readLine().trimmed(), QByteArray("grabbed"));

    auto run = fixture.startService(debug ? QStringList { QStringLiteral("--debug") } : QStringList());
    // Said also without --debug: with a hotkey of their own choice users must see why it does nothing.
    QCOMPARE(run->waitForLine(GrabWarning, 15000), GrabWarning);

    // The shake trigger still works.
    QVERIFY(xdotool(shakeGesture(500)));
    QVERIFY(waitForCount(*run, QStringLiteral("Mouse shake detected (alternations= 3 ) at position: "), 1));

    // The combination really belongs to the other client.
    QVERIFY(xdotool({ QStringLiteral("key"), QStringLiteral("ctrl+alt+m") }));
    QVERIFY(holder.waitForReadyRead(10000));
    QCOMPARE(holder.readLine().trimmed(), QByteArray("pressed state=0xc"));

    QCOMPARE(run->process().state(), QProcess::Running);
    QVERIFY(run->sendSignal(SIGTERM));
    QCOMPARE(run->waitForExit(15000), 0);
    QCOMPARE(run->linesContaining(QStringLiteral("Cannot grab hotkey")).size(), 1);
}

void TestHotkey::chosenHotkey_data()
{
    QTest::addColumn<QString>("hotkey"); // the setting
    QTest::addColumn<QString>("answered"); // typed through xdotool
    QTest::addColumn<QString>("ignored");
    QTest::addColumn<bool>("warned"); // the value falls back to Ctrl+Alt+M

    QTest::newRow("Ctrl+Shift+L") << "Ctrl+Shift+L" << "ctrl+shift+l" << "ctrl+alt+m" << false;
    QTest::newRow("Meta+F12") << "Meta+F12" << "super+F12" << "F12" << false;
    QTest::newRow("a function key alone") << "F9" << "F9" << "ctrl+alt+m" << false;
    QTest::newRow("a bare letter falls back") << "L" << "ctrl+alt+m" << "l" << true;
    QTest::newRow("two combinations fall back") << "Ctrl+K, Ctrl+L" << "ctrl+alt+m" << "ctrl+k" << true;
    QTest::newRow("text that is no key falls back") << "Ctrl+Banana" << "ctrl+alt+m" << QString() << true;
}

void TestHotkey::chosenHotkey()
{
    QFETCH(QString, hotkey);
    QFETCH(QString, answered);
    QFETCH(QString, ignored);
    QFETCH(bool, warned);

    // Newer xdotools type an F-key at a level of its key that needs Alt (the key has Ctrl+Alt+F9
    // switch the console): by its keycode the key goes alone.
    std::unique_ptr<Display, int (*)(Display *)> display(XOpenDisplay(fixture.x().display().toLatin1().constData()),
                                                         XCloseDisplay);
    QVERIFY(display);
    for (QString *keys : { &answered, &ignored }) {
        QStringList parts = keys->split(QLatin1Char('+'));
        for (QString &part : parts) {
            if (QRegularExpression(QStringLiteral("^F\\d+$")).match(part).hasMatch())
                part = QString::number(XKeysymToKeycode(display.get(), XStringToKeysym(qPrintable(part))));
        }
        *keys = parts.join(QLatin1Char('+'));
    }

    fixture.writeSettings({ { QStringLiteral("hotkey"), hotkey } });
    auto run = fixture.startService({ QStringLiteral("--debug") });
    QVERIFY(pressUntilStarted(*run, QPoint(300, 300), answered));
    const QString warning = QStringLiteral("Setting hotkey=%1 is not one combination").arg(hotkey);
    QCOMPARE(run->linesContaining(warning).size(), warned ? 1 : 0);
    QCOMPARE(run->linesContaining(QStringLiteral("Cannot grab hotkey")), QStringList());

    if (!ignored.isEmpty())
        QVERIFY(xdotool(xdotoolMove(QPoint(600, 300)) << QStringLiteral("key") << ignored));
    // Once this press is handled, the one before it has been too.
    QVERIFY(pressUntilStarted(*run, QPoint(900, 300), answered));
    QCOMPARE(countLines(*run, StartedLine + pointText(QPoint(600, 300))), 0);

    QVERIFY(run->sendSignal(SIGTERM));
    QCOMPARE(run->waitForExit(15000), 0);
}

void TestHotkey::ctrlTap_data()
{
    QTest::addColumn<QVariant>("enableCtrlTap"); // invalid: not in the settings
    // xdotool arguments; %L, %R and %C stand for the keycodes of the Ctrl keys and of Caps Lock
    QTest::addColumn<QStringList>("gesture");
    QTest::addColumn<int>("taps");
    QTest::addColumn<QString>("xkbOption"); // set with setxkbmap for the row

    const QStringList leftTap { "key", "%L" };
    QTest::newRow("left Ctrl tapped") << QVariant(true) << leftTap << 1 << QString();
    QTest::newRow("right Ctrl tapped") << QVariant(true) << QStringList { "key", "%R" } << 1 << QString();
    QTest::newRow("Ctrl+C") << QVariant(true) << QStringList { "key", "ctrl+c" } << 0 << QString();
    QTest::newRow("Ctrl held 700 ms") << QVariant(true)
                                      << QStringList { "keydown", "%L", "sleep", "0.7", "keyup", "%L" } << 0
                                      << QString();
    QTest::newRow("Ctrl+click") << QVariant(true) << QStringList { "keydown", "%L", "click", "1", "keyup", "%L" } << 0
                                << QString();
    QTest::newRow("Ctrl with a button held")
        << QVariant(true) << QStringList { "mousedown", "1", "key", "%L", "mouseup", "1" } << 0 << QString();
    QTest::newRow("Shift then Ctrl (a layout switch)")
        << QVariant(true) << QStringList { "keydown", "shift", "key", "%L", "keyup", "shift" } << 0 << QString();
    QTest::newRow("Ctrl then Shift") << QVariant(true) << QStringList { "keydown", "%L", "key", "shift", "keyup", "%L" }
                                     << 0 << QString();
    QTest::newRow("Caps Lock as Ctrl") << QVariant(true) << QStringList { "key", "%C" } << 1
                                       << QStringLiteral("ctrl:nocaps");
    QTest::newRow("without the setting") << QVariant() << leftTap << 0 << QString();
    QTest::newRow("switched off") << QVariant(false) << leftTap << 0 << QString();
}

void TestHotkey::ctrlTap()
{
    QFETCH(QVariant, enableCtrlTap);
    QFETCH(QStringList, gesture);
    QFETCH(int, taps);
    QFETCH(QString, xkbOption);

    // The keycodes themselves: xdotool types the keysym Control_R along with Control_L.
    std::unique_ptr<Display, int (*)(Display *)> display(XOpenDisplay(fixture.x().display().toLatin1().constData()),
                                                         XCloseDisplay);
    QVERIFY(display);
    gesture.replaceInStrings(QStringLiteral("%L"), QString::number(XKeysymToKeycode(display.get(), XK_Control_L)));
    gesture.replaceInStrings(QStringLiteral("%R"), QString::number(XKeysymToKeycode(display.get(), XK_Control_R)));
    gesture.replaceInStrings(QStringLiteral("%C"), QString::number(XKeysymToKeycode(display.get(), XK_Caps_Lock)));
    auto keymap = qScopeGuard([&] { setKeymap(QStringLiteral("us"), QString()); });
    if (!xkbOption.isEmpty())
        QVERIFY(setKeymap(QStringLiteral("us"), xkbOption));

    QVariantMap settings;
    if (enableCtrlTap.isValid())
        settings.insert(QStringLiteral("enableCtrlTap"), enableCtrlTap);
    fixture.writeSettings(settings);
    auto run = fixture.startService({ QStringLiteral("--debug") });
    QVERIFY2(armHotkey(*run), qPrintable(run->lines().join(QLatin1Char('\n'))));

    const QPoint where(700, 500);
    QVERIFY(xdotool(xdotoolMove(where) << gesture));
    // The hotkey thread takes events in order: once the marker is in, the gesture has been seen.
    QVERIFY(markerPress(*run, QPoint(1000, 700)));
    QCOMPARE(countLines(*run, QStringLiteral("Ctrl tapped at position: ") + pointText(where)), taps);
    QCOMPARE(countLines(*run, StartedLine + pointText(where)), taps);

    QVERIFY(run->sendSignal(SIGTERM));
    QCOMPARE(run->waitForExit(15000), 0);
}

// Under a window manager a window has the focus, and the server sends a grabbing client's raw key
// events along the focus chain only: the tap must outlive the hotkey, another program's shortcut and
// Alt+Tab, and play nothing while a screen locker holds the keyboard.
void TestHotkey::ctrlTapUnderWindowManager()
{
    XServer x;
    QVERIFY(x.isRunning() && x.startWindowManager());
    QProcess window;
    window.setProcessEnvironment(x.environment());
    window.start(QStringLiteral("xmessage"), { QStringLiteral("-center"), QStringLiteral("focus") });
    QVERIFY(window.waitForStarted(5000));
    auto closeWindow = qScopeGuard([&] {
        window.kill();
        window.waitForFinished(5000);
    });
    std::unique_ptr<Display, int (*)(Display *)> display(XOpenDisplay(x.display().toLatin1().constData()), XCloseDisplay);
    QVERIFY(display);
    const auto focused = [&] {
        Window focus = None;
        int revert = 0;
        XGetInputFocus(display.get(), &focus, &revert);
        return focus != None && focus != PointerRoot && focus != DefaultRootWindow(display.get());
    };
    QTRY_VERIFY_WITH_TIMEOUT(focused(), 10000);
    const QString ctrl = QString::number(XKeysymToKeycode(display.get(), XK_Control_L));

    fixture.writeSettings({ { QStringLiteral("enableCtrlTap"), true } });
    QProcessEnvironment env = fixture.environment();
    env.insert(QStringLiteral("DISPLAY"), x.display());
    auto run = ServiceFixture::startService({ QStringLiteral("--debug") }, env);
    int place = 0;
    // A tap at a place of its own: true once it has played there.
    const auto tapPlays = [&] {
        const QPoint where(100 + 60 * ++place, 300);
        return x.xdotool(xdotoolMove(where) << QStringLiteral("key") << ctrl)
            && waitForCount(*run, QStringLiteral("Ctrl tapped at position: ") + pointText(where), 1, 5000);
    };
    QVERIFY2(tapPlays(), qPrintable(run->lines().join(QLatin1Char('\n'))));

    const QPoint hotkeyAt(100, 500);
    for (int attempt = 0; attempt < 10 && !waitForCount(*run, StartedLine + pointText(hotkeyAt), 1, 1000); ++attempt)
        QVERIFY(x.xdotool(xdotoolMove(hotkeyAt) << QStringLiteral("key") << QStringLiteral("ctrl+alt+m")));
    QVERIFY2(tapPlays(), "after the hotkey");

    QProcess shortcut;
    shortcut.setProcessEnvironment(x.environment());
    shortcut.start(builtProgram(QStringLiteral("hotkeyholder")), { QStringLiteral("k") });
    QVERIFY(shortcut.waitForReadyRead(10000) && shortcut.readLine().trimmed() == "grabbed");
    QVERIFY(x.xdotool({ QStringLiteral("key"), QStringLiteral("ctrl+alt+k") }));
    QVERIFY(shortcut.waitForReadyRead(10000) && shortcut.readLine().startsWith("pressed"));
    shortcut.kill();
    shortcut.waitForFinished(5000);
    QVERIFY2(tapPlays(), "after another program's shortcut");

    QVERIFY(x.xdotool({ QStringLiteral("key"), QStringLiteral("alt+Tab") }));
    QVERIFY2(tapPlays(), "after Alt+Tab");

    QProcess locker;
    locker.setProcessEnvironment(x.environment());
    locker.start(builtProgram(QStringLiteral("hotkeyholder")), { QStringLiteral("--lock") });
    QVERIFY(locker.waitForReadyRead(10000) && locker.readLine().trimmed() == "locked");
    const QPoint locked(900, 600);
    QVERIFY(x.xdotool(xdotoolMove(locked) << QStringLiteral("key") << ctrl));
    QVERIFY(!run->waitForLine(QStringLiteral("Ctrl tapped while another program holds the keyboard")).isEmpty());
    QCOMPARE(countLines(*run, StartedLine + pointText(locked)), 0);
    locker.kill();
    locker.waitForFinished(5000);
    QVERIFY2(tapPlays(), "after the screen locker");

    QVERIFY(run->sendSignal(SIGTERM));
    QCOMPARE(run->waitForExit(15000), 0);
}

void TestHotkey::hotkeyInEveryLayout_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<int>("group"); // the layout switched to while the service runs, from 0
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("ignored"); // typed as well: plays nothing

    // On the Russian layout the key of M carries the soft sign. On the French one M is where the US
    // layout has the semicolon (keycode 47), and the US M key types a comma.
    QTest::newRow("Russian only") << "ru" << 0 << "ctrl+alt+Cyrillic_softsign" << QString();
    QTest::newRow("US and Russian") << "us,ru" << 0 << "ctrl+alt+m" << QString();
    QTest::newRow("US and Russian, Russian in use") << "us,ru" << 1 << "ctrl+alt+58" << QString();
    QTest::newRow("US and French, French in use") << "us,fr" << 1 << "ctrl+alt+47" << "ctrl+alt+58";
    QTest::newRow("French and US, US in use") << "fr,us" << 1 << "ctrl+alt+58" << "ctrl+alt+47";
}

void TestHotkey::hotkeyInEveryLayout()
{
    QFETCH(QString, layout);
    QFETCH(int, group);
    QFETCH(QString, typed);
    QFETCH(QString, ignored);

    std::unique_ptr<Display, int (*)(Display *)> display(XOpenDisplay(fixture.x().display().toLatin1().constData()),
                                                         XCloseDisplay);
    QVERIFY(display);
    // Typed through XTEST in the layout in use: xdotool would switch to the key's own layout for the
    // moment of each key. "ctrl+alt+47": keysym names or keycodes.
    const auto type = [&](const QString &combination) {
        QVector<KeyCode> keys;
        for (const QString &name : combination.split(QLatin1Char('+'))) {
            bool number = false;
            const int keycode = name.toInt(&number);
            const KeySym symbol = name == QLatin1String("ctrl") ? XK_Control_L
                : name == QLatin1String("alt")                  ? XK_Alt_L
                                                                : XStringToKeysym(name.toLatin1().constData());
            keys << (number ? KeyCode(keycode) : XKeysymToKeycode(display.get(), symbol));
        }
        for (const KeyCode key : keys)
            XTestFakeKeyEvent(display.get(), key, True, CurrentTime);
        for (auto key = keys.crbegin(); key != keys.crend(); ++key)
            XTestFakeKeyEvent(display.get(), *key, False, CurrentTime);
        XSync(display.get(), False);
        return !keys.contains(0);
    };
    std::unique_ptr<ProgramRun> run;
    const auto playsAt = [&](const QPoint &where, const QString &combination) {
        for (int attempt = 0; attempt < 5; ++attempt) {
            if (!xdotool(xdotoolMove(where)) || !type(combination))
                return false;
            if (waitForCount(*run, StartedLine + pointText(where), 1, 3000))
                return true;
        }
        return false;
    };
    auto keymap = qScopeGuard([&] {
        XkbLockGroup(display.get(), XkbUseCoreKbd, 0);
        XSync(display.get(), False);
        setKeymap(QStringLiteral("us"), QString());
    });
    QVERIFY(setKeymap(layout, QString()));
    run = fixture.startService({ QStringLiteral("--debug") });
    if (group != 0) {
        // Switched while the service runs, once its grab is in place.
        QVERIFY(playsAt(QPoint(1, 1), QStringLiteral("ctrl+alt+m")));
        XkbLockGroup(display.get(), XkbUseCoreKbd, unsigned(group));
        XSync(display.get(), False);
    }

    QVERIFY2(playsAt(QPoint(420, 260), typed), qPrintable(run->lines().join(QLatin1Char('\n'))));
    if (!ignored.isEmpty()) {
        QVERIFY(xdotool(xdotoolMove(QPoint(600, 300))) && type(ignored));
        QVERIFY(playsAt(QPoint(900, 300), typed));
        QCOMPARE(countLines(*run, StartedLine + pointText(QPoint(600, 300))), 0);
    }
    QCOMPARE(run->linesContaining(QStringLiteral("has no key")), QStringList());
    QVERIFY(run->sendSignal(SIGTERM));
    QCOMPARE(run->waitForExit(15000), 0);
}

void TestHotkey::noKeyGrabbed_data()
{
    QTest::addColumn<QString>("hotkey");
    QTest::addColumn<QString>("line");

    // No key of the server's keyboard makes F35: a grab of keycode 0 would take every key with these
    // modifiers from all other programs.
    QTest::newRow("a hotkey the keyboard lacks") << "Ctrl+Alt+F35" << "The hotkey Ctrl+Alt+F35 has no key on this keyboard";
    QTest::newRow("no hotkey wanted") << "" << "No hotkey is set (the hotkey setting is empty): no key is grabbed";
}

void TestHotkey::noKeyGrabbed()
{
    QFETCH(QString, hotkey);
    QFETCH(QString, line);

    fixture.writeSettings({ { QStringLiteral("hotkey"), hotkey }, { QStringLiteral("enableCtrlTap"), true } });
    auto run = fixture.startService({ QStringLiteral("--debug") });
    QCOMPARE(run->waitForLine(line, 15000), line);

    // Ctrl+Alt+M is left to other programs, and the other triggers work.
    QProcess holder;
    holder.setProcessEnvironment(fixture.x().environment());
    holder.start(builtProgram(QStringLiteral("hotkeyholder")), QStringList());
    QVERIFY(holder.waitForReadyRead(10000));
    QCOMPARE(holder.readLine().trimmed(), QByteArray("grabbed"));
    holder.kill();
    holder.waitForFinished(5000);
    QVERIFY(xdotool(xdotoolMove(QPoint(640, 400)) << QStringLiteral("key") << QStringLiteral("Control_L")));
    QVERIFY(waitForCount(*run, StartedLine + pointText(QPoint(640, 400)), 1));
    QVERIFY(xdotool(shakeGesture(500)));
    QVERIFY(waitForCount(*run, QStringLiteral("Mouse shake detected"), 1));

    QVERIFY(run->sendSignal(SIGTERM));
    QCOMPARE(run->waitForExit(15000), 0);
    QCOMPARE(run->linesContaining(line).size(), 1);
}

QTEST_GUILESS_MAIN(TestHotkey)

#include "tst_hotkey.moc"
