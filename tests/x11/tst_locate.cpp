// glintor-locate and the service's session bus interface end to end: the real programs on a
// private Xvfb and a private dbus-daemon.

#include "imagecheck.h"
#include "servicefixture.h"
#include "sessionbus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QFile>
#include <QtTest>

#include <csignal>

namespace {

const QString StartedLine = QStringLiteral("Animation started at position: ");
const QString FinishedLine = QStringLiteral("Animation finished");
const QString NoServiceLine = QStringLiteral("No glintor-service is running on this display.");

struct CommandResult {
    int exitCode = -1;
    QString output;
};

qint64 residentKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = status.readAll();
    return text.mid(text.indexOf("VmRSS:") + 6).trimmed().split(' ').value(0).toLongLong();
}

} // namespace

class TestLocate final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { fixture.writeSettings({ { QStringLiteral("animationEffect"), 1 } }); }
    void locatePlaysAtPointer_data();
    void locatePlaysAtPointer();
    void withoutAnswer_data();
    void withoutAnswer();
    void busGoneServiceKeepsTriggers();
    void eachDisplayReachesItsService();
    void newestServiceAnswers();
    void floodRestartsOneAnimation();

private:
    QProcessEnvironment environment(const XServer &x) const
    {
        QProcessEnvironment env = bus.environment(fixture.environment());
        env.insert(QStringLiteral("DISPLAY"), x.display());
        return env;
    }
    QDBusMessage callTo(const XServer &x, const QString &interface, const QString &method) const
    {
        return QDBusMessage::createMethodCall(QStringLiteral("org.glintor.Glintor.x11_") + x.display().mid(1),
            QStringLiteral("/org/glintor/Glintor"), interface, method);
    }
    std::unique_ptr<ProgramRun> startService(const XServer &x)
    {
        auto run = ServiceFixture::startService({ QStringLiteral("--debug") }, environment(x));
        run->waitForLine(QStringLiteral("Glintor服务已启动"), 15000);
        return run;
    }
    CommandResult locate(const QProcessEnvironment &env, const QStringList &arguments = {}) const
    {
        QProcess command;
        command.setProcessEnvironment(env);
        command.setProcessChannelMode(QProcess::MergedChannels);
        command.start(builtProgram(QStringLiteral("glintor-locate")), arguments);
        if (!command.waitForFinished(15000))
            command.kill();
        return { command.exitStatus() == QProcess::NormalExit ? command.exitCode() : -1,
            QString::fromLocal8Bit(command.readAll()).trimmed() };
    }

    ServiceFixture fixture;
    SessionBus bus;
    QDBusConnection connection { QString() };
};

void TestLocate::initTestCase()
{
    QVERIFY(fixture.isReady());
    QVERIFY(bus.isRunning());
    connection = QDBusConnection::connectToBus(bus.address(), QStringLiteral("test"));
    QVERIFY(connection.isConnected());
}

void TestLocate::locatePlaysAtPointer_data()
{
    QTest::addColumn<QVariantMap>("settings");
    QTest::addColumn<int>("animations");

    QTest::newRow("red rings") << QVariantMap { { QStringLiteral("animationEffect"), 1 } } << 1;
    QTest::newRow("a random effect is kept for the next call")
        << QVariantMap { { QStringLiteral("animationEffect"), 0 } } << 2;
    QTest::newRow("animation switched off") << QVariantMap { { QStringLiteral("enableAnimation"), false } } << 0;
}

void TestLocate::locatePlaysAtPointer()
{
    QFETCH(QVariantMap, settings);
    QFETCH(int, animations);

    fixture.writeSettings(settings);
    auto run = startService(fixture.x());
    const QPoint where(300, 200);
    QVERIFY(fixture.x().xdotool(xdotoolMove(where)));
    const QImage before = fixture.x().screenshot();

    QCOMPARE(locate(environment(fixture.x())).exitCode, 0);
    if (animations == 1) {
        // The red ring closes in on the pointer: red pixels appear around it and nowhere else.
        const auto redNearPointer = [&](const QImage &shot) {
            int red = 0;
            for (int y = where.y() - 160; y <= where.y() + 160; ++y) {
                for (int x = where.x() - 160; x <= where.x() + 160; ++x)
                    red += !sameColour(shot.pixel(x, y), before.pixel(x, y), 8) && qRed(shot.pixel(x, y)) > 200
                        && qGreen(shot.pixel(x, y)) < 80;
            }
            return red > 200;
        };
        QImage shot = fixture.x().screenshot();
        for (int attempt = 0; attempt < 10 && !redNearPointer(shot); ++attempt) {
            QCOMPARE(locate(environment(fixture.x())).exitCode, 0);
            shot = fixture.x().screenshot();
        }
        QVERIFY(redNearPointer(shot));
    }
    for (int i = 1; i < animations; ++i)
        QCOMPARE(locate(environment(fixture.x())).exitCode, 0);
    // Logged after every call before it has been handled.
    QCOMPARE(
        connection.call(callTo(fixture.x(), QStringLiteral("org.glintor.Glintor"), QStringLiteral("ReloadSettings")))
            .type(),
        QDBusMessage::ReplyMessage);
    QVERIFY(waitForCount(*run, QStringLiteral("Settings loaded"), 2));
    const QStringList started = run->linesContaining(StartedLine + pointText(where));
    QVERIFY(animations ? started.size() >= animations : started.isEmpty());
    for (const QString &line : started)
        QCOMPARE(line.section(QStringLiteral(" effect: "), 1), started.first().section(QStringLiteral(" effect: "), 1));
    QVERIFY(run->sendSignal(SIGTERM));
    QCOMPARE(run->waitForExit(15000), 0);
}

void TestLocate::withoutAnswer_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("change"); // of the environment or the service
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");

    QTest::newRow("help") << QStringList { "--help" } << QString() << 0 << "Usage: glintor-locate [--help]";
    QTest::newRow("an unknown option") << QStringList { "--now" } << QString() << 2
                                       << "glintor-locate: unknown argument --now";
    QTest::newRow("no service on the display") << QStringList() << QString() << 1 << NoServiceLine;
    QTest::newRow("no session bus") << QStringList() << "no bus" << 1 << "No D-Bus session bus: ";
    QTest::newRow("no display") << QStringList() << "no display" << 1 << "No display: ";
    QTest::newRow("a service that does not answer")
        << QStringList() << "stopped service" << 1 << "glintor-service did not answer within 1 s.";
}

void TestLocate::withoutAnswer()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, change);
    QFETCH(int, exitCode);
    QFETCH(QString, output);

    QProcessEnvironment env = environment(fixture.x());
    if (change == QLatin1String("no bus"))
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent/bus"));
    if (change == QLatin1String("no display"))
        env.remove(QStringLiteral("DISPLAY"));
    std::unique_ptr<ProgramRun> run;
    if (change == QLatin1String("stopped service")) {
        run = startService(fixture.x());
        QVERIFY(run->sendSignal(SIGSTOP));
    }
    const CommandResult result = locate(env, arguments);
    if (run)
        run->sendSignal(SIGCONT);
    QCOMPARE(result.exitCode, exitCode);
    QVERIFY2(result.output.startsWith(output), qPrintable(result.output));
    if (exitCode == 1)
        QCOMPARE(result.output.count(QLatin1Char('\n')), 0);
}

void TestLocate::busGoneServiceKeepsTriggers()
{
    SessionBus ownBus;
    QProcessEnvironment env = ownBus.environment(environment(fixture.x()));
    auto run = ServiceFixture::startService({ QStringLiteral("--debug") }, env);
    QVERIFY(run->waitForLine(QStringLiteral("Glintor服务已启动"), 15000).size());
    QCOMPARE(locate(env).exitCode, 0);
    QVERIFY(waitForCount(*run, StartedLine, 1));

    ownBus.stop();
    const CommandResult result = locate(env);
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.output.startsWith(QStringLiteral("No D-Bus session bus: ")), qPrintable(result.output));
    QVERIFY(pressHotkeyUntil(fixture.x(), *run, QStringLiteral("Hotkey Ctrl+Alt+M pressed")));
    QVERIFY(waitForCount(*run, StartedLine, 2));
    QVERIFY(run->sendSignal(SIGTERM));
    QCOMPARE(run->waitForExit(15000), 0);
}

void TestLocate::eachDisplayReachesItsService()
{
    XServer second;
    QVERIFY(second.isRunning());
    auto first = startService(fixture.x());
    auto other = startService(second);
    QVERIFY(fixture.x().xdotool(xdotoolMove(QPoint(111, 222))));
    QVERIFY(second.xdotool(xdotoolMove(QPoint(333, 444))));

    QCOMPARE(locate(environment(second)).exitCode, 0);
    QCOMPARE(locate(environment(fixture.x())).exitCode, 0);
    QVERIFY(waitForCount(*first, StartedLine + pointText(QPoint(111, 222)), 1));
    QVERIFY(waitForCount(*other, StartedLine + pointText(QPoint(333, 444)), 1));
    QCOMPARE(countLines(*first, StartedLine), 1);
    QCOMPARE(countLines(*other, StartedLine), 1);
}

void TestLocate::newestServiceAnswers()
{
    auto older = startService(fixture.x());
    auto newer = startService(fixture.x());
    // The older one hands the display over and goes.
    QCOMPARE(older->waitForExit(15000), 0);
    QCOMPARE(locate(environment(fixture.x())).exitCode, 0);
    QVERIFY(waitForCount(*newer, StartedLine, 1));
    QCOMPARE(countLines(*older, StartedLine), 0);
}

void TestLocate::floodRestartsOneAnimation()
{
    auto run = startService(fixture.x());
    const QDBusMessage call = callTo(fixture.x(), QStringLiteral("org.glintor.Glintor"), QStringLiteral("Locate"));
    QCOMPARE(connection.call(call).type(), QDBusMessage::ReplyMessage);
    QVERIFY(waitForCount(*run, FinishedLine, 1));
    const qint64 residentBefore = residentKb(run->pid());

    for (int i = 0; i < 1000; ++i)
        QVERIFY(connection.send(call));
    // Calls are answered in order: once this one is, the flood has been handled. Meanwhile the
    // service's log is read, or it would wait on a full pipe.
    QDBusPendingCall last = connection.asyncCall(call);
    QVERIFY(waitForCount(*run, StartedLine, 1002));
    last.waitForFinished();
    QVERIFY2(!last.isError(), qPrintable(last.error().message()));
    QVERIFY(waitForCount(*run, FinishedLine, 2));
    QCOMPARE(countLines(*run, StartedLine), 1002);
    QVERIFY2(countLines(*run, FinishedLine) <= 3, qPrintable(QString::number(countLines(*run, FinishedLine))));
    QVERIFY2(residentKb(run->pid()) - residentBefore < 4096, qPrintable(QString::number(residentBefore)));

    QDBusMessage version
        = callTo(fixture.x(), QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    version.setArguments({ QStringLiteral("org.glintor.Glintor"), QStringLiteral("Version") });
    const QDBusMessage reply = connection.call(version);
    QCOMPARE(reply.arguments().value(0).value<QDBusVariant>().variant().toString(), QStringLiteral(GLINTOR_VERSION));
    QVERIFY(run->sendSignal(SIGTERM));
    QCOMPARE(run->waitForExit(15000), 0);
}

QTEST_GUILESS_MAIN(TestLocate)

#include "tst_locate.moc"
