// The real glintor-service on a private X server under load: ten thousand hotkey presses, a
// thousand SIGUSR1 reloads while animations run, and the hotkey held down with key repeat. Every
// press and every reload is answered, nothing but the service's own lines is logged, the memory
// stays where it was after the first animation, and SIGTERM still ends it with status 0.

#include "servicefixture.h"
#include "soaksupport.h"

#include "glintorsettings.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QtTest>

#include <csignal>

namespace {

const QString StartedLine = QStringLiteral("Animation started at position:");
const QString FinishedLine = QStringLiteral("Animation finished");
const QString LoadedLine = QStringLiteral("Settings loaded - maxRadius:");
const QString HotkeyLine = QStringLiteral("Hotkey Ctrl+Alt+M pressed at position:");

} // namespace

class TestServiceSoak : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void hotkeyPresses_data();
    void hotkeyPresses();
    void reloadsWhileAnimating();
    void hotkeyHeldDown();

private:
    std::unique_ptr<ProgramRun> startService(const QStringList &arguments);
    // Presses Ctrl+Alt+M until the service answers (its grab is made shortly after start-up), then
    // waits for that animation to end.
    bool playFirstAnimation(ProgramRun &run);
    // Waits until `started` animations have started and the last of them has finished.
    bool waitUntilQuiet(ProgramRun &run, int started, int timeoutMs);
    void checkAndStop(ProgramRun &run, qint64 rssAfterFirst);

    ServiceFixture fixture;
    QTemporaryDir runtimeDir;
};

void TestServiceSoak::initTestCase()
{
    QVERIFY(fixture.isReady());
    QVERIFY(runtimeDir.isValid());
}

void TestServiceSoak::cleanup()
{
    // A press cut short must not leave a key down for the next test.
    fixture.x().xdotool({ QStringLiteral("keyup"), QStringLiteral("ctrl+alt+m") });
    fixture.x().run(QStringLiteral("xset"), { QStringLiteral("r"), QStringLiteral("rate") });
}

std::unique_ptr<ProgramRun> TestServiceSoak::startService(const QStringList &arguments)
{
    QProcessEnvironment env = fixture.environment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir.path());
    env.insert(QStringLiteral("QT_MESSAGE_PATTERN"), QString::fromLatin1(Soak::MessagePattern));
    auto run = ServiceFixture::startService(arguments, env);
    // The waits wake on new log lines, which come on standard error.
    run->process().setReadChannel(QProcess::StandardError);
    return run;
}

bool TestServiceSoak::playFirstAnimation(ProgramRun &run)
{
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (!fixture.x().xdotool({ QStringLiteral("key"), QStringLiteral("ctrl+alt+m") }))
            return false;
        if (waitForCount(run, StartedLine, 1, 2000))
            return waitUntilQuiet(run, countLines(run, StartedLine), 15000);
    }
    return false;
}

bool TestServiceSoak::waitUntilQuiet(ProgramRun &run, int started, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const QStringList lines = run.lines();
        const int startedNow = lines.filter(StartedLine).size();
        if (startedNow > started)
            return false;
        if (startedNow == started) {
            for (int i = lines.size() - 1; i >= 0; --i) {
                if (lines.at(i).contains(FinishedLine))
                    return true;
                if (lines.at(i).contains(StartedLine))
                    break;
            }
        }
        if (deadline.hasExpired() || run.process().state() == QProcess::NotRunning)
            return false;
        run.process().waitForReadyRead(50);
    }
}

void TestServiceSoak::checkAndStop(ProgramRun &run, qint64 rssAfterFirst)
{
    const qint64 rssAfterAll = Soak::statusField(run.pid(), "VmRSS");
    qInfo("RSS after the first animation %lld kB, after the soak %lld kB, peak %lld kB", rssAfterFirst, rssAfterAll,
        Soak::statusField(run.pid(), "VmHWM"));
    QVERIFY(rssAfterFirst > 0);
    QVERIFY(rssAfterAll > 0);
    SOAK_VERIFY_RSS_GROWTH(rssAfterFirst, rssAfterAll);
    // The service paints without OpenGL, so Qt's OpenGL integration (Mesa, libLLVM) stays out of it.
    QFile maps(QStringLiteral("/proc/%1/maps").arg(run.pid()));
    QVERIFY(maps.open(QIODevice::ReadOnly));
    const QByteArray mapped = maps.readAll();
    QVERIFY2(!mapped.contains("glx-integration") && !mapped.contains("libLLVM"), "Qt's OpenGL integration is loaded");

    QVERIFY(run.sendSignal(SIGTERM));
    QCOMPARE(run.waitForExit(10000), 0);
    QVERIFY2(Soak::unhealthyLines(run.lines()).isEmpty(),
        qPrintable(Soak::unhealthyLines(run.lines()).join(QLatin1Char('\n'))));
}

void TestServiceSoak::hotkeyPresses_data()
{
    QTest::addColumn<int>("presses");
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("10000 presses back to back") << Soak::rounds(10000) << 0 << QStringList();
    QTest::newRow("200 presses 10 ms apart, debug") << 200 << 10 << QStringList { QStringLiteral("--debug") };
}

void TestServiceSoak::hotkeyPresses()
{
    QFETCH(int, presses);
    QFETCH(int, delayMs);
    QFETCH(QStringList, arguments);

    fixture.writeSettings({});
    auto run = startService(arguments);
    QVERIFY(playFirstAnimation(*run));
    const qint64 rssAfterFirst = Soak::statusField(run->pid(), "VmRSS");
    const int startedBefore = countLines(*run, StartedLine);
    const int hotkeyBefore = countLines(*run, HotkeyLine);

    // One xdotool per thousand presses: a process per press would take longer than the presses,
    // and waiting for each thousand to be answered keeps the queue of starts (and so the memory
    // it leaves behind) small whatever the speed of the machine.
    for (int done = 0; done < presses; done += 1000) {
        const int chunk = qMin(1000, presses - done);
        QProcess presser;
        presser.setProcessEnvironment(fixture.x().environment());
        presser.start(QStringLiteral("xdotool"),
            { QStringLiteral("key"), QStringLiteral("--repeat"), QString::number(chunk), QStringLiteral("--delay"),
                QString::number(delayMs), QStringLiteral("ctrl+alt+m") });
        QVERIFY(presser.waitForStarted(5000));
        // Each press queues one start; each start replaces the animation before.
        QVERIFY2(waitUntilQuiet(*run, startedBefore + done + chunk, 120000),
            qPrintable(QStringLiteral("%1 of %2 presses answered")
                           .arg(countLines(*run, StartedLine) - startedBefore)
                           .arg(done + chunk)));
        QVERIFY(presser.waitForFinished(30000));
        QCOMPARE(presser.exitCode(), 0);
    }
    if (arguments.contains(QStringLiteral("--debug")))
        QCOMPARE(countLines(*run, HotkeyLine) - hotkeyBefore, presses);

    checkAndStop(*run, rssAfterFirst);
}

void TestServiceSoak::reloadsWhileAnimating()
{
    fixture.writeSettings({});
    auto run = startService({});
    QVERIFY(playFirstAnimation(*run));
    const qint64 rssAfterFirst = Soak::statusField(run->pid(), "VmRSS");
    const int startedBefore = countLines(*run, StartedLine);

    // Signals of one kind do not queue, so each reload is awaited before the next signal. Every
    // tenth reload starts a new animation first, so the reloads land on running animations.
    int lastEffect = 0;
    const int reloads = Soak::rounds(1000);
    for (int reload = 1; reload <= reloads; ++reload) {
        if (reload % 10 == 1) {
            const int started = countLines(*run, StartedLine);
            QVERIFY(fixture.x().xdotool({ QStringLiteral("key"), QStringLiteral("ctrl+alt+m") }));
            QVERIFY(waitForCount(*run, StartedLine, started + 1, 10000));
        }
        if (reload % 100 == 0) {
            lastEffect = (reload / 100) % 4;
            fixture.writeSettings({ { GlintorSettings::Key::AnimationEffect, lastEffect },
                { GlintorSettings::Key::ColorMode, reload / 100 % 3 } });
        }
        const int loaded = countLines(*run, LoadedLine);
        QVERIFY(run->sendSignal(SIGUSR1));
        QVERIFY2(waitForCount(*run, LoadedLine, loaded + 1, 10000),
            qPrintable(QStringLiteral("reload %1 not answered").arg(reload)));
    }
    QCOMPARE(countLines(*run, LoadedLine), reloads + 1);
    QVERIFY(
        run->lines().filter(LoadedLine).constLast().endsWith(QStringLiteral("animationEffect: %1").arg(lastEffect)));
    QCOMPARE(countLines(*run, StartedLine), startedBefore + reloads / 10);
    QVERIFY(waitUntilQuiet(*run, startedBefore + reloads / 10, 15000));

    checkAndStop(*run, rssAfterFirst);
}

void TestServiceSoak::hotkeyHeldDown()
{
    fixture.writeSettings({});
    auto run = startService({ QStringLiteral("--debug") });
    QVERIFY(playFirstAnimation(*run));
    const qint64 rssAfterFirst = Soak::statusField(run->pid(), "VmRSS");
    const int startedBefore = countLines(*run, StartedLine);

    // A fast repeat: 100 ms before the first repeat, then 50 a second.
    bool ok = false;
    fixture.x().run(QStringLiteral("xset"), { QStringLiteral("r"), QStringLiteral("on") }, &ok);
    QVERIFY(ok);
    fixture.x().run(QStringLiteral("xset"),
        { QStringLiteral("r"), QStringLiteral("rate"), QStringLiteral("100"), QStringLiteral("50") }, &ok);
    QVERIFY(ok);
    // Held for 3 s, about 150 repeats: one animation, and the next press after the release counts.
    QVERIFY(fixture.x().xdotool({ QStringLiteral("keydown"), QStringLiteral("ctrl+alt+m") }));
    const bool started = waitForCount(*run, StartedLine, startedBefore + 1, 10000);
    QTest::qWait(3000);
    QVERIFY(fixture.x().xdotool({ QStringLiteral("keyup"), QStringLiteral("ctrl+alt+m") }));
    QVERIFY(started);
    QCOMPARE(countLines(*run, StartedLine), startedBefore + 1);
    QVERIFY(fixture.x().xdotool({ QStringLiteral("key"), QStringLiteral("ctrl+alt+m") }));
    QVERIFY(waitForCount(*run, StartedLine, startedBefore + 2, 10000));
    QVERIFY(waitUntilQuiet(*run, startedBefore + 2, 15000));
    QCOMPARE(countLines(*run, HotkeyLine), startedBefore + 2);

    checkAndStop(*run, rssAfterFirst);
}

QTEST_GUILESS_MAIN(TestServiceSoak)
#include "tst_servicesoak.moc"
