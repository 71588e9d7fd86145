// glintor-service when things go wrong around it: SIGTERM at random moments (while it starts up,
// while it animates, while the hotkey is held) must end it with status 0; an X server that dies
// under it must end it with a non-zero status and a log line, promptly and without spinning.

#include "servicefixture.h"
#include "soaksupport.h"

#include "glintorsettings.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QRandomGenerator>
#include <QThread>
#include <QtTest>

#include <algorithm>
#include <csignal>

#include <sys/types.h>

namespace {

const QString StartedLine = QStringLiteral("Animation started at position:");
const QString LostLine = QStringLiteral("Lost the connection to the X server. Exiting.");
const QString QtLostLine = QStringLiteral("The X11 connection broke");

// An Xvfb that the test may kill: the shared XServer helper outlives every test function.
class DisposableXServer {
public:
    DisposableXServer()
    {
        server.setProgram(QStringLiteral("Xvfb"));
        server.setArguments({ QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-noreset"),
            QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"),
            QStringLiteral("1280x800x24") });
        server.setStandardErrorFile(QProcess::nullDevice());
        server.start();
        if (!server.waitForStarted(5000))
            return;
        QByteArray number;
        QDeadlineTimer deadline(10000);
        while (!number.contains('\n') && !deadline.hasExpired() && server.state() == QProcess::Running) {
            if (server.waitForReadyRead(200))
                number += server.readAllStandardOutput();
        }
        if (!number.trimmed().isEmpty())
            displayName = QLatin1Char(':') + QString::fromLatin1(number.trimmed());
    }
    ~DisposableXServer()
    {
        if (server.state() != QProcess::NotRunning) {
            server.kill();
            server.waitForFinished(5000);
        }
    }
    DisposableXServer(const DisposableXServer &) = delete;
    DisposableXServer &operator=(const DisposableXServer &) = delete;

    bool isRunning() const { return !displayName.isEmpty() && server.state() == QProcess::Running; }
    QString display() const { return displayName; }
    bool kill(int sig) { return ::kill(pid_t(server.processId()), sig) == 0; }
    bool waitForExit() { return server.waitForFinished(10000); }

private:
    QProcess server;
    QString displayName;
};

QString describeTimes(QVector<qint64> milliseconds)
{
    if (milliseconds.isEmpty())
        return QStringLiteral("none");
    std::sort(milliseconds.begin(), milliseconds.end());
    return QStringLiteral("%1 runs, median %2 ms, worst %3 ms")
        .arg(milliseconds.size())
        .arg(milliseconds.at(milliseconds.size() / 2))
        .arg(milliseconds.constLast());
}

} // namespace

class TestServiceFaults : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void terminateAtRandomMoments_data();
    void terminateAtRandomMoments();
    void xServerDies_data();
    void xServerDies();

private:
    QProcessEnvironment serviceEnvironment(const QProcessEnvironment &base) const;
    bool pressUntilStarted(ProgramRun &run, const QString &display);

    ServiceFixture fixture;
    QTemporaryDir runtimeDir;
    QRandomGenerator random;
};

void TestServiceFaults::initTestCase()
{
    QVERIFY(fixture.isReady());
    QVERIFY(runtimeDir.isValid());
    // The moments are random, but the seed is logged so that a failure can be repeated.
    const quint32 seed = qEnvironmentVariableIsSet("GLINTOR_FAULT_SEED")
        ? quint32(qEnvironmentVariableIntValue("GLINTOR_FAULT_SEED"))
        : QRandomGenerator::global()->generate();
    random.seed(seed);
    qInfo("random moments from seed %u (set GLINTOR_FAULT_SEED to repeat them)", seed);
}

void TestServiceFaults::cleanup()
{
    fixture.x().xdotool({ QStringLiteral("keyup"), QStringLiteral("ctrl+alt+m") });
    fixture.x().run(QStringLiteral("xset"), { QStringLiteral("r"), QStringLiteral("rate") });
}

QProcessEnvironment TestServiceFaults::serviceEnvironment(const QProcessEnvironment &base) const
{
    QProcessEnvironment env = base;
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir.path());
    env.insert(QStringLiteral("QT_MESSAGE_PATTERN"), QString::fromLatin1(Soak::MessagePattern));
    return env;
}

bool TestServiceFaults::pressUntilStarted(ProgramRun &run, const QString &display)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    for (int attempt = 0; attempt < 10; ++attempt) {
        const int before = countLines(run, StartedLine);
        QProcess xdotool;
        xdotool.setProcessEnvironment(env);
        xdotool.start(QStringLiteral("xdotool"), { QStringLiteral("key"), QStringLiteral("ctrl+alt+m") });
        if (!xdotool.waitForFinished(10000))
            return false;
        if (waitForCount(run, StartedLine, before + 1, 2000))
            return true;
    }
    return false;
}

void TestServiceFaults::terminateAtRandomMoments_data()
{
    QTest::addColumn<QString>("moment");
    QTest::addColumn<int>("runs");
    QTest::addColumn<int>("spreadMs"); // the signal comes up to this long after the moment begins

    QTest::newRow("during start-up") << "start-up" << 30 << 150;
    QTest::newRow("during a fireworks animation") << "animation" << 8 << 1500;
    QTest::newRow("while the hotkey is held") << "held" << 6 << 500;
}

void TestServiceFaults::terminateAtRandomMoments()
{
    QFETCH(QString, moment);
    QFETCH(int, runs);
    QFETCH(int, spreadMs);

    fixture.writeSettings({ { GlintorSettings::Key::AnimationEffect, 2 } });
    const QProcessEnvironment env = serviceEnvironment(fixture.environment());
    QVector<qint64> exitTimes;
    int beforeMain = 0;

    for (int i = 0; i < runs; ++i) {
        ProgramRun run(builtProgram(QStringLiteral("glintor-service")), {}, env);
        QVERIFY(run.process().waitForStarted(5000));
        run.process().setReadChannel(QProcess::StandardError);

        if (moment == QLatin1String("animation") || moment == QLatin1String("held")) {
            QVERIFY(!run.waitForLine(QStringLiteral("Settings loaded"), 15000).isEmpty());
            QVERIFY(pressUntilStarted(run, fixture.x().display()));
        }
        if (moment == QLatin1String("held")) {
            bool ok = false;
            fixture.x().run(QStringLiteral("xset"),
                { QStringLiteral("r"), QStringLiteral("rate"), QStringLiteral("100"), QStringLiteral("50") }, &ok);
            QVERIFY(ok);
            const int before = countLines(run, StartedLine);
            QVERIFY(fixture.x().xdotool({ QStringLiteral("keydown"), QStringLiteral("ctrl+alt+m") }));
            // Held, the combination plays once; its repeats keep coming.
            QVERIFY(waitForCount(run, StartedLine, before + 1, 10000));
        }

        // The random moment itself: a pause is the point here, not a wait for something.
        QThread::usleep(random.bounded(spreadMs * 1000 + 1));
        const Soak::SignalState state = Soak::signalState(run.pid(), SIGTERM);
        QElapsedTimer sinceSignal;
        sinceSignal.start();
        QVERIFY(run.sendSignal(SIGTERM));
        QVERIFY2(run.process().waitForFinished(5000), "still running 5 s after SIGTERM");
        exitTimes << sinceSignal.elapsed();
        if (moment == QLatin1String("held"))
            QVERIFY(fixture.x().xdotool({ QStringLiteral("keyup"), QStringLiteral("ctrl+alt+m") }));

        if (state.readable && !state.caught) {
            // Before main installs its handler the default action applies. That window is only
            // the loading of the program itself: a process that already runs a second thread
            // (Qt's, the hotkey thread) must have its handler in place.
            QVERIFY2(state.threads <= 1, "SIGTERM not yet handled although the service was already running threads");
            ++beforeMain;
            continue;
        }
        QCOMPARE(run.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.process().exitCode(), 0);
        QVERIFY2(Soak::unhealthyLines(run.lines()).isEmpty(),
            qPrintable(Soak::unhealthyLines(run.lines()).join(QLatin1Char('\n'))));
    }
    qInfo("exit after SIGTERM: %s; %d of %d signals came before main had installed its handler",
        qPrintable(describeTimes(exitTimes)), beforeMain, runs);
}

void TestServiceFaults::xServerDies_data()
{
    QTest::addColumn<int>("serverSignal");
    QTest::addColumn<QString>("moment");

    QTest::newRow("server killed while idle") << int(SIGKILL) << "idle";
    QTest::newRow("server terminated while idle") << int(SIGTERM) << "idle";
    QTest::newRow("server killed during an animation") << int(SIGKILL) << "animation";
    QTest::newRow("server terminated during an animation") << int(SIGTERM) << "animation";
    QTest::newRow("server killed while the hotkey is held") << int(SIGKILL) << "held";
}

void TestServiceFaults::xServerDies()
{
    QFETCH(int, serverSignal);
    QFETCH(QString, moment);

    fixture.writeSettings({ { GlintorSettings::Key::AnimationEffect, 2 } });
    DisposableXServer server;
    QVERIFY(server.isRunning());
    QProcessEnvironment env = serviceEnvironment(fixture.environment());
    env.insert(QStringLiteral("DISPLAY"), server.display());
    ProgramRun run(builtProgram(QStringLiteral("glintor-service")), { QStringLiteral("--debug") }, env);
    run.process().setReadChannel(QProcess::StandardError);
    QVERIFY(!run.waitForLine(QStringLiteral("Glintor服务已启动"), 15000).isEmpty());
    // Even "idle" follows one animation, so that the hotkey thread holds its connection too.
    QVERIFY(pressUntilStarted(run, server.display()));
    if (moment == QLatin1String("idle"))
        QVERIFY(!run.waitForLine(QStringLiteral("Animation finished"), 10000).isEmpty());
    if (moment == QLatin1String("held")) {
        QProcessEnvironment xenv = QProcessEnvironment::systemEnvironment();
        xenv.insert(QStringLiteral("DISPLAY"), server.display());
        QProcess xdotool;
        xdotool.setProcessEnvironment(xenv);
        const int before = countLines(run, StartedLine);
        xdotool.start(QStringLiteral("xdotool"), { QStringLiteral("keydown"), QStringLiteral("ctrl+alt+m") });
        QVERIFY(xdotool.waitForFinished(10000));
        QVERIFY(waitForCount(run, StartedLine, before + 1, 10000));
    }

    const QStringList linesBefore = run.lines();
    QVERIFY2(Soak::unhealthyLines(linesBefore).isEmpty(),
        qPrintable(Soak::unhealthyLines(linesBefore).join(QLatin1Char('\n'))));
    const qint64 cpuBefore = Soak::cpuNanoseconds(run.pid());
    qint64 cpuLastSeen = cpuBefore;
    QElapsedTimer sinceKill;
    sinceKill.start();
    QVERIFY(server.kill(serverSignal));
    // Sample the service's CPU time while it goes down: a process spinning on a dead connection
    // would use one core for the whole wait.
    while (run.process().state() != QProcess::NotRunning && sinceKill.elapsed() < 5000) {
        const qint64 cpu = Soak::cpuNanoseconds(run.pid());
        if (cpu > 0)
            cpuLastSeen = cpu;
        run.process().waitForFinished(10);
    }
    const qint64 elapsedMs = sinceKill.elapsed();
    QVERIFY2(run.process().state() == QProcess::NotRunning, "still running 5 s after the X server went away");
    qInfo("ended %lld ms after the X server, using %lld ms of CPU meanwhile", elapsedMs,
        (cpuLastSeen - cpuBefore) / 1000000);

    // Not a crash: an exit of its own, with the status the user unit restarts on (the server may be
    // back in a moment) and a line that says why. Qt may warn about the requests that failed on the
    // dead connection on the way out.
    QCOMPARE(run.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.process().exitCode(), 75);
    const QStringList lines = run.lines();
    QVERIFY2(!lines.filter(LostLine).isEmpty() || !lines.filter(QtLostLine).isEmpty(),
        "no log line about the lost connection");
    QVERIFY(server.waitForExit());
}

QTEST_GUILESS_MAIN(TestServiceFaults)
#include "tst_servicefaults.moc"
