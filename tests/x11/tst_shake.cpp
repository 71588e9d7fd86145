// The mouse shake end to end: the real glintor-service on a private Xvfb, the pointer moved through
// XTEST by xdotool and read by the service's 20 ms poll.

#include "servicefixture.h"

#include <QtTest>

#include <QDir>
#include <QFile>
#include <QThread>

#include <X11/Xlib.h>

#include <csignal>
#include <memory>

namespace {

// Context switches of all threads of a process so far: every poll of the pointer costs some.
qint64 contextSwitches(qint64 pid)
{
    qint64 total = 0;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile status(tasks.filePath(task + QStringLiteral("/status")));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.contains("ctxt_switches:"))
                total += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
        }
    }
    return total;
}

// True once the process has not been scheduled for a whole stretch of 300 ms.
bool sleepsFor300Ms(qint64 pid)
{
    const qint64 before = contextSwitches(pid);
    QThread::msleep(300);
    return contextSwitches(pid) == before;
}

// A client window over the whole screen that takes button presses: a button held over it gives
// this client the pointer's implicit grab, as a drag in any application would.
class GrabbingClient
{
public:
    explicit GrabbingClient(const QString &display)
        : connection(XOpenDisplay(display.toLatin1().constData()), XCloseDisplay)
    {
        if (!connection)
            return;
        Display *dpy = connection.get();
        const Window window = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, unsigned(DisplayWidth(dpy, 0)),
                                                  unsigned(DisplayHeight(dpy, 0)), 0, 0, 0);
        XSelectInput(dpy, window, ButtonPressMask | ButtonReleaseMask);
        XMapWindow(dpy, window);
        XSync(dpy, False);
    }
    bool isReady() const { return connection != nullptr; }

private:
    std::unique_ptr<Display, int (*)(Display *)> connection;
};

// Relative XTEST motion (raw motion events, unlike the warps of "mousemove") swinging sideways.
QStringList relativeSwings(int swings)
{
    QStringList args;
    for (int i = 0; i < swings; ++i) {
        args << QStringLiteral("sleep") << QStringLiteral("0.05") << QStringLiteral("mousemove_relative")
             << QStringLiteral("--") << QString::number(i % 2 ? -200 : 200) << QStringLiteral("0");
    }
    return args;
}

const QString ShakeLine = QStringLiteral("Mouse shake detected (alternations=");
constexpr int MarkerY = 750;

} // namespace

class TestShake final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void gestures_data();
    void gestures();
    void displayOptionServesEveryTrigger_data();
    void displayOptionServesEveryTrigger();
    void shakeAfterRest_data();
    void shakeAfterRest();

private:
    ServiceFixture fixture;
};

void TestShake::initTestCase()
{
    QVERIFY(fixture.isReady());
}

void TestShake::init()
{
    fixture.writeSettings({});
}

void TestShake::gestures_data()
{
    QTest::addColumn<QVariantMap>("settings");
    QTest::addColumn<QStringList>("gesture"); // one xdotool command line, along y = 400
    QTest::addColumn<int>("alternations"); // logged at detection; 0: nothing may be detected

    QStringList slow = xdotoolMove(QPoint(400, 400));
    for (int i = 0; i < 6; ++i)
        slow << QStringLiteral("sleep") << QStringLiteral("0.3") << xdotoolMove(QPoint(i % 2 ? 400 : 600, 400));
    QStringList vertical = xdotoolMove(QPoint(500, 200));
    for (int i = 0; i < 6; ++i)
        vertical << QStringLiteral("sleep") << QStringLiteral("0.05") << xdotoolMove(QPoint(500, i % 2 ? 200 : 600));

    QTest::newRow("200 px swings right and left") << QVariantMap() << shakeGesture(400) << 3;
    QTest::newRow("slow 200 px moves 300 ms apart") << QVariantMap() << slow << 0;
    QTest::newRow("vertical 400 px swings") << QVariantMap() << vertical << 0;
    QTest::newRow("60 px swings") << QVariantMap() << shakeGesture(400, 400, 460) << 0;
    QTest::newRow("shakeDistance 300 ignores 200 px swings")
        << QVariantMap { { "shakeDistance", 300 } } << shakeGesture(400) << 0;
    QTest::newRow("shakeDistance 300 takes 350 px swings")
        << QVariantMap { { "shakeDistance", 300 } } << shakeGesture(400, 300, 650) << 3;
    QTest::newRow("shakeAlternations 1 takes one turn")
        << QVariantMap { { "shakeAlternations", 1 } } << shakeGesture(400) << 1;

    // Values outside the settings window's ranges are pulled into them: a 1 px jitter starts nothing.
    QStringList jitter = xdotoolMove(QPoint(400, 400));
    for (int i = 0; i < 12; ++i) {
        jitter << QStringLiteral("sleep") << QStringLiteral("0.05") << QStringLiteral("mousemove_relative")
               << QStringLiteral("--") << QString::number(i % 2 ? -1 : 1) << QStringLiteral("0");
    }
    QTest::newRow("shakeDistance 0 and shakeAlternations 0 ignore a jitter")
        << QVariantMap { { "shakeDistance", 0 }, { "shakeAlternations", 0 } } << jitter << 0;
    QTest::newRow("negative shakeDistance ignores a jitter")
        << QVariantMap { { "shakeDistance", -5 }, { "shakeAlternations", 1 } } << jitter << 0;
    QTest::newRow("shakeAlternations that is no number uses the default 3")
        << QVariantMap { { "shakeAlternations", "three" } } << shakeGesture(400) << 3;
}

void TestShake::gestures()
{
    QFETCH(QVariantMap, settings);
    QFETCH(QStringList, gesture);
    QFETCH(int, alternations);

    fixture.writeSettings(settings);
    auto run = fixture.startService({});
    QVERIFY(countLines(*run, QStringLiteral("Settings loaded")) == 1);

    QVERIFY(fixture.x().xdotool(gesture));
    // A shake far from the gesture that every row's settings take. Once it is seen, the
    // gesture's polls are all done: the poll handles moves in order.
    QVERIFY(fixture.x().xdotool(shakeGesture(MarkerY, 300, 700, 10)));
    const QString markerPlace = QStringLiteral(",%1)").arg(MarkerY);
    QVERIFY(waitForCount(*run, markerPlace, 1));

    QStringList detected;
    QStringList startedAfter;
    const QStringList lines = run->lines();
    for (int i = 0; i < lines.size(); ++i) {
        if (lines.at(i).startsWith(ShakeLine) && !lines.at(i).contains(markerPlace)) {
            detected << lines.at(i);
            startedAfter << lines.value(i + 1);
        }
    }
    if (alternations == 0) {
        QVERIFY2(detected.isEmpty(), qPrintable(detected.join(QLatin1Char('\n'))));
    } else {
        QVERIFY(!detected.isEmpty());
        const QRegularExpression form(QStringLiteral("^Mouse shake detected \\(alternations= %1 \\) at position: "
                                                     "(QPoint\\(\\d+,400\\))$")
                                          .arg(alternations));
        const QRegularExpressionMatch match = form.match(detected.constFirst());
        QVERIFY2(match.hasMatch(), qPrintable(detected.constFirst()));
        QVERIFY2(startedAfter.constFirst().startsWith(QStringLiteral("Animation started at position: ")
                                                      + match.captured(1)),
                 qPrintable(startedAfter.constFirst()));
    }

    QVERIFY(run->sendSignal(SIGTERM));
    QCOMPARE(run->waitForExit(15000), 0);
}

void TestShake::displayOptionServesEveryTrigger_data()
{
    QTest::addColumn<bool>("debug");

    QTest::newRow("debug") << true;
    QTest::newRow("quiet") << false;
}

void TestShake::displayOptionServesEveryTrigger()
{
    QFETCH(bool, debug);

    // Only -display names the X server: the hotkey thread uses it as Qt does, and the shake goes on
    // working beside the hotkey.
    QProcessEnvironment env = fixture.environment();
    env.remove(QStringLiteral("DISPLAY"));
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-test"));
    QStringList arguments { QStringLiteral("-display"), fixture.x().display() };
    if (debug)
        arguments << QStringLiteral("--debug");
    auto run = ServiceFixture::startService(arguments, env);

    QVERIFY(pressHotkeyUntil(fixture.x(), *run, QStringLiteral("Animation started")));
    QVERIFY(waitForCount(*run, QStringLiteral("Animation finished"), 1));
    QVERIFY(fixture.x().xdotool(shakeGesture(400)));
    QVERIFY(waitForCount(*run, QStringLiteral("Mouse shake detected (alternations= 3 ) at position: "), 1));
    QVERIFY(waitForCount(*run, QStringLiteral("Animation finished"), 2));

    QVERIFY(run->sendSignal(SIGTERM));
    QCOMPARE(run->waitForExit(15000), 0);
    QCOMPARE(run->linesContaining(QStringLiteral("XOpenDisplay failed")), QStringList());
}

void TestShake::shakeAfterRest_data()
{
    QTest::addColumn<QStringList>("gesture");
    QTest::addColumn<bool>("buttonHeld");

    QTest::newRow("absolute moves over the root") << shakeGesture(400) << false;
    QTest::newRow("relative moves (raw motion)") << xdotoolMove(QPoint(400, 400)) + relativeSwings(6) << false;
    // The held button's grab sends motion over the root to the client, raw motion only to
    // clients of XInput 2.1 and later.
    QTest::newRow("relative moves with a button held on a client window") << relativeSwings(6) << true;
}

void TestShake::shakeAfterRest()
{
    QFETCH(QStringList, gesture);
    QFETCH(bool, buttonHeld);

    auto run = fixture.startService({});
    QVERIFY(countLines(*run, QStringLiteral("Settings loaded")) == 1);
    std::unique_ptr<GrabbingClient> client;
    if (buttonHeld) {
        client = std::make_unique<GrabbingClient>(fixture.x().display());
        QVERIFY(client->isReady());
        QVERIFY(fixture.x().xdotool(xdotoolMove(QPoint(400, 400)) << QStringLiteral("mousedown") << QStringLiteral("1")));
    }

    // With the pointer at rest the poll goes to sleep: the service stops being scheduled at all.
    QTRY_VERIFY_WITH_TIMEOUT(sleepsFor300Ms(run->pid()), 15000);

    QVERIFY(fixture.x().xdotool(gesture));
    QVERIFY(waitForCount(*run, QStringLiteral("Mouse shake detected (alternations= 3 ) at position: "), 1));
    QVERIFY(waitForCount(*run, QStringLiteral("Animation finished"), 1));
    if (buttonHeld)
        QVERIFY(fixture.x().xdotool({ QStringLiteral("mouseup"), QStringLiteral("1") }));

    // And it sleeps again once the pointer rests.
    QTRY_VERIFY_WITH_TIMEOUT(sleepsFor300Ms(run->pid()), 15000);

    QVERIFY(run->sendSignal(SIGTERM));
    QCOMPARE(run->waitForExit(15000), 0);
}

QTEST_GUILESS_MAIN(TestShake)

#include "tst_shake.moc"
