// GlobalKeyHandler with a real overlay on the offscreen platform: key events sent through the
// application's event filter, and shake polls driven through QCursor::setPos and a test clock.

#include "glintor.h"
#include "glintorsettings.h"
#include "globalkeyhandler.h"

#include <QCursor>
#include <QKeyEvent>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <utility>

namespace {

QStringList g_log;
QtMessageHandler g_previousHandler = nullptr;

void recordMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    g_log << message;
    if (g_previousHandler)
        g_previousHandler(type, context, message);
}

int logCount(const QString &text)
{
    return g_log.filter(text).size();
}

// True when the lines containing each text appear in this order (other lines may come between).
bool logHasInOrder(const QStringList &texts)
{
    int next = 0;
    for (const QString &line : std::as_const(g_log)) {
        if (next < texts.size() && line.contains(texts.at(next)))
            ++next;
    }
    return next == texts.size();
}

QString pointText(const QPoint &point)
{
    return QStringLiteral("QPoint(%1,%2)").arg(point.x()).arg(point.y());
}

// A plain receiver: whatever the filter lets through ends up here.
class KeyRecorder final : public QObject
{
public:
    int seen = 0;

protected:
    bool event(QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease)
            ++seen;
        return QObject::event(event);
    }
};

} // namespace

struct KeyStep {
    QEvent::Type type;
    int key;
    Qt::KeyboardModifiers modifiers;
    bool autoRepeat;
    bool consumed;
};
Q_DECLARE_METATYPE(KeyStep)

namespace {

KeyStep press(int key, Qt::KeyboardModifiers modifiers, bool consumed, bool autoRepeat = false)
{
    return { QEvent::KeyPress, key, modifiers, autoRepeat, consumed };
}

KeyStep release(int key, Qt::KeyboardModifiers modifiers, bool consumed)
{
    return { QEvent::KeyRelease, key, modifiers, false, consumed };
}

} // namespace

class TestGlobalKeyHandler final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void keyRules_data();
    void keyRules();
    void keyRulesAfterShutdown();

    void shake_data();
    void shake();
    void disabledShakeFollowsPointer();
    void nothingDetectedAfterShutdown();
    void settingsTakeEffectOnReload();
    void timerDrivenPollDetectsShake();
    void restingPointerLetsPollSleep_data();
    void restingPointerLetsPollSleep();

private:
    void writeSettings(const QVariantMap &values);
    // One poll of the detector with the pointer at pos.
    void poll(GlobalKeyHandler &handler, const QPoint &pos);
    // Runs the steps through the application's filter; checks which were consumed.
    void sendSteps(const QList<KeyStep> &steps);

    QTemporaryDir configDir;
};

void TestGlobalKeyHandler::initTestCase()
{
    QVERIFY(configDir.isValid());
    qputenv("XDG_CONFIG_HOME", configDir.path().toLocal8Bit());
    g_previousHandler = qInstallMessageHandler(recordMessage);
}

void TestGlobalKeyHandler::init()
{
    writeSettings({});
    g_log.clear();
    QCursor::setPos(400, 300);
}

void TestGlobalKeyHandler::cleanup()
{
    g_log.clear();
}

void TestGlobalKeyHandler::writeSettings(const QVariantMap &values)
{
    QSettings settings(GlintorSettings::Organization, GlintorSettings::Application);
    settings.clear();
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        settings.setValue(it.key(), it.value());
    settings.sync();
    QCOMPARE(settings.status(), QSettings::NoError);
    QVERIFY(settings.fileName().startsWith(configDir.path()));
}

void TestGlobalKeyHandler::poll(GlobalKeyHandler &handler, const QPoint &pos)
{
    QCursor::setPos(pos);
    QCOMPARE(QCursor::pos(), pos);
    QVERIFY(QMetaObject::invokeMethod(&handler, "checkMouseShake"));
}

void TestGlobalKeyHandler::sendSteps(const QList<KeyStep> &steps)
{
    KeyRecorder receiver;
    for (int i = 0; i < steps.size(); ++i) {
        const KeyStep &step = steps.at(i);
        QKeyEvent event(step.type, step.key, step.modifiers, QString(), step.autoRepeat);
        const int seenBefore = receiver.seen;
        QCoreApplication::sendEvent(&receiver, &event);
        const bool consumed = receiver.seen == seenBefore;
        QVERIFY2(consumed == step.consumed,
                 qPrintable(QStringLiteral("step %1 %2").arg(i + 1).arg(consumed ? "consumed" : "passed on")));
    }
}

void TestGlobalKeyHandler::keyRules_data()
{
    QTest::addColumn<QList<KeyStep>>("steps");
    QTest::addColumn<int>("animations");
    QTest::addColumn<int>("settingsRequests");
    QTest::addColumn<QStringList>("logInOrder");

    const Qt::KeyboardModifiers none = Qt::NoModifier;
    const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
    const Qt::KeyboardModifiers ctrlShift = Qt::ControlModifier | Qt::ShiftModifier;
    const QString pressed = QStringLiteral("Ctrl key pressed at position: QPoint(123,45)");
    const QString started = QStringLiteral("Animation started at position: QPoint(123,45)");
    const QString released = QStringLiteral("Ctrl key released");
    const QString settings = QStringLiteral("Opening settings dialog");

    QTest::newRow("one ctrl press starts one animation at the pointer")
        << QList<KeyStep> { press(Qt::Key_Control, ctrl, true) } << 1 << 0 << QStringList { pressed, started };
    QTest::newRow("second press without a release is not consumed")
        << QList<KeyStep> { press(Qt::Key_Control, ctrl, true), press(Qt::Key_Control, ctrl, false) } << 1 << 0
        << QStringList { pressed };
    QTest::newRow("auto-repeated presses while held start nothing more")
        << QList<KeyStep> { press(Qt::Key_Control, ctrl, true), press(Qt::Key_Control, ctrl, false, true),
                            press(Qt::Key_Control, ctrl, false, true), release(Qt::Key_Control, none, true) }
        << 1 << 0 << QStringList { pressed, released };
    QTest::newRow("press release press starts two animations")
        << QList<KeyStep> { press(Qt::Key_Control, ctrl, true), release(Qt::Key_Control, none, true),
                            press(Qt::Key_Control, ctrl, true) }
        << 2 << 0 << QStringList { pressed, started, released, pressed, started };
    QTest::newRow("release without a handled press is logged and consumed")
        << QList<KeyStep> { release(Qt::Key_Control, none, true) } << 0 << 0 << QStringList { released };
    QTest::newRow("two releases are both consumed")
        << QList<KeyStep> { release(Qt::Key_Control, none, true), release(Qt::Key_Control, none, true) } << 0 << 0
        << QStringList { released, released };
    QTest::newRow("release then press starts one animation")
        << QList<KeyStep> { release(Qt::Key_Control, none, true), press(Qt::Key_Control, ctrl, true) } << 1 << 0
        << QStringList { released, pressed, started };
    QTest::newRow("ctrl press with shift held still starts")
        << QList<KeyStep> { press(Qt::Key_Control, ctrlShift, true) } << 1 << 0 << QStringList { pressed };
    QTest::newRow("ctrl+shift+s opens the settings")
        << QList<KeyStep> { press(Qt::Key_S, ctrlShift, true) } << 0 << 1 << QStringList { settings };
    QTest::newRow("ctrl+alt+shift+s opens the settings too")
        << QList<KeyStep> { press(Qt::Key_S, ctrlShift | Qt::AltModifier, true) } << 0 << 1
        << QStringList { settings };
    QTest::newRow("ctrl+shift+s twice asks twice")
        << QList<KeyStep> { press(Qt::Key_S, ctrlShift, true), press(Qt::Key_S, ctrlShift, true, true) } << 0 << 2
        << QStringList { settings, settings };
    QTest::newRow("ctrl held then shift then s")
        << QList<KeyStep> { press(Qt::Key_Control, ctrl, true), press(Qt::Key_Shift, ctrl, false),
                            press(Qt::Key_S, ctrlShift, true), release(Qt::Key_S, ctrlShift, false) }
        << 1 << 1 << QStringList { pressed, started, settings };
    QTest::newRow("ctrl+s is not consumed")
        << QList<KeyStep> { press(Qt::Key_S, ctrl, false) } << 0 << 0 << QStringList {};
    QTest::newRow("shift+s is not consumed")
        << QList<KeyStep> { press(Qt::Key_S, Qt::ShiftModifier, false) } << 0 << 0 << QStringList {};
    QTest::newRow("ctrl+shift+a is not consumed")
        << QList<KeyStep> { press(Qt::Key_A, ctrlShift, false) } << 0 << 0 << QStringList {};
    QTest::newRow("other keys pass both ways")
        << QList<KeyStep> { press(Qt::Key_A, none, false), release(Qt::Key_A, none, false),
                            release(Qt::Key_Shift, ctrl, false) }
        << 0 << 0 << QStringList {};
}

void TestGlobalKeyHandler::keyRules()
{
    QFETCH(QList<KeyStep>, steps);
    QFETCH(int, animations);
    QFETCH(int, settingsRequests);
    QFETCH(QStringList, logInOrder);

    Glintor overlay;
    GlobalKeyHandler handler(&overlay);
    QSignalSpy settingsSpy(&handler, &GlobalKeyHandler::openSettings);
    qApp->installEventFilter(&handler);
    QCursor::setPos(123, 45);

    sendSteps(steps);
    if (QTest::currentTestFailed())
        return;

    QCOMPARE(logCount(QStringLiteral("Animation started at position:")), animations);
    QCOMPARE(overlay.animating(), animations > 0);
    QCOMPARE(settingsSpy.count(), settingsRequests);
    QVERIFY2(logHasInOrder(logInOrder), qPrintable(g_log.join(QLatin1Char('\n'))));
}

void TestGlobalKeyHandler::keyRulesAfterShutdown()
{
    Glintor overlay;
    GlobalKeyHandler handler(&overlay);
    QSignalSpy settingsSpy(&handler, &GlobalKeyHandler::openSettings);
    qApp->installEventFilter(&handler);
    handler.shutdown();
    QVERIFY(handler.isStopped());

    sendSteps({ press(Qt::Key_Control, Qt::ControlModifier, true), press(Qt::Key_Control, Qt::ControlModifier, false),
                release(Qt::Key_Control, Qt::NoModifier, true), press(Qt::Key_Control, Qt::ControlModifier, true),
                press(Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier, true),
                press(Qt::Key_S, Qt::ControlModifier, false) });
    QCOMPARE(logCount(QStringLiteral("Animation started at position:")), 2);
    QCOMPARE(logCount(QStringLiteral("Ctrl key released")), 1);
    QCOMPARE(settingsSpy.count(), 1);
}

void TestGlobalKeyHandler::shake_data()
{
    QTest::addColumn<QVariantMap>("settings");
    QTest::addColumn<QList<QPoint>>("path"); // pointer at each poll; it starts at (400,300)
    QTest::addColumn<QList<qint64>>("times"); // clock at each poll
    QTest::addColumn<QList<int>>("detectedAt"); // 1-based polls that detect a shake
    QTest::addColumn<int>("alternationsLogged");

    auto swings = [](const QList<int> &xs, int y = 300) {
        QList<QPoint> path;
        for (int x : xs)
            path << QPoint(x, y);
        return path;
    };
    auto every20ms = [](int count) {
        QList<qint64> times;
        for (int i = 1; i <= count; ++i)
            times << 1000 + 20 * i;
        return times;
    };
    const QVariantMap defaults;

    QTest::newRow("right left right left at 80 px triggers at the fourth move")
        << defaults << swings({ 480, 400, 480, 400 }) << every20ms(4) << QList<int> { 4 } << 3;
    QTest::newRow("right right left right left triggers at the fifth move")
        << defaults << swings({ 480, 560, 480, 560, 480 }) << every20ms(5) << QList<int> { 5 } << 3;
    QTest::newRow("200 px swings")
        << defaults << swings({ 600, 400, 600, 400 }) << every20ms(4) << QList<int> { 4 } << 3;
    QTest::newRow("79 px swings never trigger")
        << defaults << swings({ 479, 400, 479, 400, 479, 400, 479, 400 }) << every20ms(8) << QList<int> {} << 0;
    QTest::newRow("a short step between swings changes nothing")
        << defaults << swings({ 480, 400, 410, 490, 410 }) << every20ms(5) << QList<int> { 5 } << 3;
    QTest::newRow("pointer at rest between swings changes nothing")
        << defaults << swings({ 480, 480, 400, 400, 480, 400 }) << every20ms(6) << QList<int> { 6 } << 3;
    QTest::newRow("second shake needs a full new series")
        << defaults << swings({ 480, 400, 480, 400, 480, 400, 480, 400 }) << every20ms(8) << QList<int> { 4, 8 }
        << 3;
    QTest::newRow("fourth move exactly shakeWindowMs after the first")
        << defaults << swings({ 480, 400, 480, 400 }) << QList<qint64> { 100, 120, 140, 800 } << QList<int> { 4 }
        << 3;
    QTest::newRow("fourth move one ms too late")
        << defaults << swings({ 480, 400, 480, 400 }) << QList<qint64> { 100, 120, 140, 801 } << QList<int> {} << 0;
    QTest::newRow("slow swings spread beyond the window")
        << defaults << swings({ 600, 400, 600, 400, 600, 400 }) << QList<qint64> { 0, 300, 600, 900, 1200, 1500 }
        << QList<int> {} << 0;
    QTest::newRow("vertical swings never trigger")
        << defaults
        << QList<QPoint> { { 400, 500 }, { 400, 300 }, { 400, 500 }, { 400, 300 }, { 400, 500 }, { 400, 300 } }
        << every20ms(6) << QList<int> {} << 0;
    QTest::newRow("vertical swings with small sideways jitter never trigger")
        << defaults
        << QList<QPoint> { { 410, 500 }, { 400, 300 }, { 410, 500 }, { 400, 300 }, { 410, 500 }, { 400, 300 } }
        << every20ms(6) << QList<int> {} << 0;
    QTest::newRow("diagonal swings count their sideways part")
        << defaults << QList<QPoint> { { 480, 500 }, { 400, 300 }, { 480, 500 }, { 400, 300 } } << every20ms(4)
        << QList<int> { 4 } << 3;
    // Values outside the settings window's ranges are pulled into them.
    QTest::newRow("alternations 0 is pulled up to 1: triggers at the first turn")
        << QVariantMap { { "shakeAlternations", 0 } } << swings({ 480, 560, 570, 490 }) << every20ms(4)
        << QList<int> { 4 } << 1;
    QTest::newRow("negative alternations is pulled up to 1")
        << QVariantMap { { "shakeAlternations", -2 } } << swings({ 480, 560, 570, 490 }) << every20ms(4)
        << QList<int> { 4 } << 1;
    // Text that is not a number gives the default.
    QTest::newRow("alternations \"three\" uses the default 3")
        << QVariantMap { { "shakeAlternations", "three" } } << swings({ 480, 400, 480, 400 }) << every20ms(4)
        << QList<int> { 4 } << 3;
    QTest::newRow("distance \"80px\" uses the default 80: 50 px swings never trigger")
        << QVariantMap { { "shakeDistance", "80px" } } << swings({ 450, 400, 450, 400, 450, 400 }) << every20ms(6)
        << QList<int> {} << 0;
    QTest::newRow("window \"1s\" uses the default 700: moves 200 ms apart still count")
        << QVariantMap { { "shakeWindowMs", "1s" } } << swings({ 480, 400, 480, 400 })
        << QList<qint64> { 0, 200, 400, 600 } << QList<int> { 4 } << 3;
    QTest::newRow("alternations 1 triggers at the first turn")
        << QVariantMap { { "shakeAlternations", 1 } } << swings({ 480, 560, 480, 400 }) << every20ms(4)
        << QList<int> { 3 } << 1;
    QTest::newRow("shakeDistance 200 ignores 150 px swings")
        << QVariantMap { { "shakeDistance", 200 } } << swings({ 550, 400, 550, 400, 550, 400 }) << every20ms(6)
        << QList<int> {} << 0;
    QTest::newRow("shakeDistance 200 takes 200 px swings")
        << QVariantMap { { "shakeDistance", 200 } } << swings({ 600, 400, 600, 400 }) << every20ms(4)
        << QList<int> { 4 } << 3;
    QTest::newRow("shakeWindowMs 50 is pulled up to 100, which keeps a series 20 ms apart")
        << QVariantMap { { "shakeWindowMs", 50 } } << swings({ 480, 400, 480, 400, 480, 400 }) << every20ms(6)
        << QList<int> { 4 } << 3;
    QTest::newRow("shakeWindowMs 6000 is pulled down to 5000")
        << QVariantMap { { "shakeWindowMs", 6000 } } << swings({ 480, 400, 480, 400 })
        << QList<qint64> { 0, 2000, 4000, 5001 } << QList<int> {} << 0;
    QTest::newRow("shakeDistance 0 is pulled up to 10: a 1 px jitter never triggers")
        << QVariantMap { { "shakeDistance", 0 } } << swings({ 401, 400, 401, 400, 401, 400 }) << every20ms(6)
        << QList<int> {} << 0;
    QTest::newRow("shakeWindowMs 60 keeps a series 20 ms apart")
        << QVariantMap { { "shakeWindowMs", 60 } } << swings({ 480, 400, 480, 400 }) << every20ms(4)
        << QList<int> { 4 } << 3;
    QTest::newRow("shake disabled in the settings")
        << QVariantMap { { "enableShake", false } } << swings({ 600, 400, 600, 400, 600, 400 }) << every20ms(6)
        << QList<int> {} << 0;
}

void TestGlobalKeyHandler::shake()
{
    QFETCH(QVariantMap, settings);
    QFETCH(QList<QPoint>, path);
    QFETCH(QList<qint64>, times);
    QFETCH(QList<int>, detectedAt);
    QFETCH(int, alternationsLogged);
    QCOMPARE(times.size(), path.size());

    writeSettings(settings);
    Glintor overlay;
    GlobalKeyHandler handler(&overlay);
    QCOMPARE(handler.lastPolledPosition(), QPoint(400, 300));
    qint64 now = 0;
    handler.setClock([&now] { return now; });

    const QString detected = QStringLiteral("Mouse shake detected (alternations=");
    QList<int> seen;
    for (int i = 0; i < path.size(); ++i) {
        now = times.at(i);
        const int before = logCount(detected);
        poll(handler, path.at(i));
        if (logCount(detected) == before)
            continue;
        seen << i + 1;
        const QString expected = QStringLiteral("Mouse shake detected (alternations= %1 ) at position: %2")
                                     .arg(alternationsLogged)
                                     .arg(pointText(path.at(i)));
        QCOMPARE(g_log.filter(detected).constLast(), expected);
        const QString started = QStringLiteral("Animation started at position: ") + pointText(path.at(i));
        QVERIFY(g_log.constLast().startsWith(started));
        QVERIFY(handler.history().empty());
    }
    QCOMPARE(seen, detectedAt);
    QCOMPARE(overlay.animating(), !detectedAt.isEmpty());
    QCOMPARE(handler.lastPolledPosition(), path.constLast());
}

void TestGlobalKeyHandler::disabledShakeFollowsPointer()
{
    writeSettings({ { "enableShake", false } });
    QCursor::setPos(0, 300);
    Glintor overlay;
    GlobalKeyHandler handler(&overlay);
    qint64 now = 1000;
    handler.setClock([&now] { return now; });

    for (const int x : { 600, 400, 600, 400, 560 }) {
        now += 20;
        poll(handler, QPoint(x, 300));
        QCOMPARE(handler.lastPolledPosition(), QPoint(x, 300));
    }
    QCOMPARE(logCount(QStringLiteral("Mouse shake detected")), 0);
    QVERIFY(handler.history().empty());

    // Turned on again, the next moves are measured from where the pointer last was (560): left,
    // right, left, right. Measured from the start (0) they would be right, right, left, right.
    writeSettings({});
    handler.reloadSettings();
    for (const int x : { 480, 560, 480 }) {
        now += 20;
        poll(handler, QPoint(x, 300));
    }
    QCOMPARE(logCount(QStringLiteral("Mouse shake detected")), 0);
    now += 20;
    poll(handler, QPoint(560, 300));
    QCOMPARE(logCount(QStringLiteral("Mouse shake detected (alternations= 3 ) at position: QPoint(560,300)")), 1);
}

void TestGlobalKeyHandler::nothingDetectedAfterShutdown()
{
    Glintor overlay;
    GlobalKeyHandler handler(&overlay);
    qint64 now = 1000;
    handler.setClock([&now] { return now; });

    now += 20;
    poll(handler, QPoint(480, 300));
    now += 20;
    poll(handler, QPoint(400, 300));
    QCOMPARE(handler.history().size(), size_t(2));

    handler.shutdown();
    QVERIFY(handler.isStopped());
    for (const int x : { 480, 400, 480, 400, 480, 400 }) {
        now += 20;
        poll(handler, QPoint(x, 300));
    }
    QCOMPARE(logCount(QStringLiteral("Mouse shake detected")), 0);
    QCOMPARE(logCount(QStringLiteral("Animation started")), 0);
    QCOMPARE(handler.lastPolledPosition(), QPoint(400, 300));
    QCOMPARE(handler.history().size(), size_t(2));
    QVERIFY(!overlay.animating());
}

void TestGlobalKeyHandler::settingsTakeEffectOnReload()
{
    Glintor overlay;
    GlobalKeyHandler handler(&overlay);
    qint64 now = 1000;
    handler.setClock([&now] { return now; });

    // Written after construction: the running detector keeps the distance it started with.
    writeSettings({ { "shakeDistance", 300 } });
    for (const int x : { 600, 400, 600, 400 }) {
        now += 20;
        poll(handler, QPoint(x, 300));
    }
    QCOMPARE(logCount(QStringLiteral("Mouse shake detected")), 1);

    handler.reloadSettings();
    for (const int x : { 600, 400, 600, 400, 600, 400 }) {
        now += 20;
        poll(handler, QPoint(x, 300));
    }
    QCOMPARE(logCount(QStringLiteral("Mouse shake detected")), 1);
}

void TestGlobalKeyHandler::timerDrivenPollDetectsShake()
{
    // A window of a minute keeps the slowest machine inside it: this is about the poll, not timing.
    writeSettings({ { "shakeWindowMs", 60000 } });
    Glintor overlay;
    GlobalKeyHandler handler(&overlay);

    for (const int x : { 600, 400, 600, 400 }) {
        QCursor::setPos(x, 300);
        QTRY_COMPARE_WITH_TIMEOUT(handler.lastPolledPosition(), QPoint(x, 300), 10000);
    }
    QCOMPARE(logCount(QStringLiteral("Mouse shake detected (alternations= 3 ) at position: QPoint(400,300)")), 1);
    QTRY_VERIFY_WITH_TIMEOUT(logCount(QStringLiteral("Animation finished")) == 1, 10000);
}

void TestGlobalKeyHandler::restingPointerLetsPollSleep_data()
{
    QTest::addColumn<bool>("sleepEnabled");
    QTest::addColumn<int>("restingPolls");
    QTest::addColumn<bool>("sleeps");

    QTest::newRow("no wake source: polls for ever") << false << 200 << false;
    QTest::newRow("49 resting polls: still polling") << true << 49 << false;
    QTest::newRow("50 resting polls: asleep") << true << 50 << true;
}

void TestGlobalKeyHandler::restingPointerLetsPollSleep()
{
    QFETCH(bool, sleepEnabled);
    QFETCH(int, restingPolls);
    QFETCH(bool, sleeps);

    // A window of a minute keeps the moves before the rest in the history.
    writeSettings({ { "shakeWindowMs", 60000 } });
    Glintor overlay;
    GlobalKeyHandler handler(&overlay);
    qint64 now = 1000;
    handler.setClock([&now] { return now; });
    if (sleepEnabled)
        handler.enableRestSleep();

    // Two moves of a shake, then the pointer rests.
    for (const int x : { 480, 400 }) {
        now += 20;
        poll(handler, QPoint(x, 300));
    }
    for (int i = 0; i < restingPolls; ++i) {
        now += 20;
        poll(handler, QPoint(400, 300));
    }
    QCOMPARE(handler.isPollSleeping(), sleeps);
    QCOMPARE(handler.wakeOnMotion(), sleeps);
    QVERIFY(!handler.wakeOnMotion()); // one wake per sleep
    handler.resumePolling();
    QVERIFY(!handler.isPollSleeping());

    // The moves before the rest still count, asleep or not: the same decision either way.
    now += 20;
    poll(handler, QPoint(480, 300));
    QCOMPARE(logCount(QStringLiteral("Mouse shake detected")), 0);
    now += 20;
    poll(handler, QPoint(400, 300));
    QCOMPARE(logCount(QStringLiteral("Mouse shake detected (alternations= 3 ) at position: QPoint(400,300)")), 1);
}

QTEST_MAIN(TestGlobalKeyHandler)

#include "tst_globalkeyhandler.moc"
