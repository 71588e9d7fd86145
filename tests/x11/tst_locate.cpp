// glintor-locate and the service's session bus interface end to end: the real programs on a
// private Xvfb and a private dbus-daemon.

#include "imagecheck.h"
#include "servicefixture.h"
#include "sessionbus.h"
#include "soaksupport.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QScopeGuard>
#include <QTemporaryFile>
#include <QtTest>

#include <csignal>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const QString StartedLine = QStringLiteral("Animation started at position: ");
const QString FinishedLine = QStringLiteral("Animation finished");

} // namespace

class TestLocate final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { fixture.writeSettings({}); }
    void locatePlaysAtPointer_data();
    void locatePlaysAtPointer();
    void withoutAnswer_data();
    void withoutAnswer();
    void busGoneServiceKeepsTriggers();
    void eachDisplayReachesItsService();
    void newestServiceKeepsTheName();
    void floodRestartsOneAnimation();

private:
    QProcessEnvironment environment(const XServer &x, const SessionBus &onBus) const
    {
        QProcessEnvironment env = onBus.environment(fixture.environment());
        env.insert(QStringLiteral("DISPLAY"), x.display());
        return env;
    }
    // Returns once the service holds its bus name: it asks for the name after its start-up lines,
    // once the display's selection is its own.
    std::unique_ptr<ProgramRun> startService(const XServer &x, const SessionBus &onBus) const
    {
        auto run = ServiceFixture::startService({ QStringLiteral("--debug") }, environment(x, onBus));
        const QDBusConnection watcher = QDBusConnection::connectToBus(onBus.address(), QStringLiteral("watcher"));
        const QString name = serviceName(x);
        const bool held
            = QTest::qWaitFor([&] { return watcher.interface()->servicePid(name).value() == run->pid(); }, 15000);
        QDBusConnection::disconnectFromBus(QStringLiteral("watcher"));
        QTest::qVerify(held, "the service holds its bus name", qPrintable(run->lines().join(QLatin1Char('\n'))),
            __FILE__, __LINE__);
        return run;
    }
    static QString serviceName(const XServer &x) { return QStringLiteral("org.glintor.Glintor.x11_") + x.display().mid(1); }
    // glintor-locate's exit status and output.
    QPair<int, QString> locate(const XServer &x, const QStringList &arguments = {}, QProcessEnvironment env = {}) const
    {
        QProcess command;
        command.setProcessEnvironment(env.isEmpty() ? environment(x, bus) : env);
        command.setProcessChannelMode(QProcess::MergedChannels);
        command.start(builtProgram(QStringLiteral("glintor-locate")), arguments);
        if (!command.waitForFinished(15000))
            command.kill();
        return { command.exitStatus() == QProcess::NormalExit ? command.exitCode() : -1,
            QString::fromLocal8Bit(command.readAll()) };
    }
    QDBusMessage callTo(
        const XServer &x, const QString &method, const QString &interface = QStringLiteral("org.glintor.Glintor")) const
    {
        return QDBusMessage::createMethodCall(serviceName(x), QStringLiteral("/org/glintor/Glintor"), interface, method);
    }

    ServiceFixture fixture;
    SessionBus bus;
    QDBusConnection connection { QString() };
};

void TestLocate::initTestCase()
{
    QVERIFY(fixture.isReady() && bus.isRunning());
    connection = QDBusConnection::connectToBus(bus.address(), QStringLiteral("test"));
    QVERIFY(connection.isConnected());
}

void TestLocate::locatePlaysAtPointer_data()
{
    QTest::addColumn<QVariantMap>("settings");
    QTest::addColumn<int>("calls");
    QTest::addColumn<bool>("plays");
    QTest::addColumn<int>("xftDpi"); // of the X resources; 0: none

    QTest::newRow("red rings") << QVariantMap { { "animationEffect", 1 } } << 1 << true << 0;
    QTest::newRow("a random effect kept for the next call") << QVariantMap { { "animationEffect", 0 } } << 2 << true << 0;
    QTest::newRow("animation switched off") << QVariantMap { { "enableAnimation", false } } << 1 << false << 0;
    // Qt 6 would scale by it, and place the rings by a pointer position halved.
    QTest::newRow("red rings, a HiDPI session's Xft.dpi") << QVariantMap { { "animationEffect", 1 } } << 1 << true << 192;
}

void TestLocate::locatePlaysAtPointer()
{
    QFETCH(QVariantMap, settings);
    QFETCH(int, calls);
    QFETCH(bool, plays);
    QFETCH(int, xftDpi);

    QTemporaryFile resources;
    const auto forgetResources = qScopeGuard([&] {
        if (xftDpi)
            fixture.x().run(QStringLiteral("xrdb"), { QStringLiteral("-remove") });
    });
    if (xftDpi) {
        QVERIFY(resources.open());
        resources.write("Xft.dpi: " + QByteArray::number(xftDpi) + '\n');
        resources.flush();
        bool merged = false;
        fixture.x().run(QStringLiteral("xrdb"), { QStringLiteral("-merge"), resources.fileName() }, &merged);
        QVERIFY(merged);
    }
    fixture.writeSettings(settings);
    auto run = startService(fixture.x(), bus);
    const QPoint where(300, 200);
    QVERIFY(fixture.x().xdotool(xdotoolMove(where)));
    const QImage before = fixture.x().screenshot();
    // Red pixels where there were none, within the outer ring's reach of the pointer.
    const auto redRing = [&](const QImage &shot) {
        int red = 0;
        for (int y = where.y() - 160; y <= where.y() + 160; ++y) {
            for (int x = where.x() - 160; x <= where.x() + 160; ++x) {
                const QRgb pixel = shot.pixel(x, y);
                red += !sameColour(pixel, before.pixel(x, y), 8) && qRed(pixel) > 200 && qGreen(pixel) < 80;
            }
        }
        return red > 200;
    };
    // The rings last 0.6 s: a late screenshot calls again.
    const bool rings = settings.value(QStringLiteral("animationEffect")) == 1;
    QImage shot;
    for (int call = 0; call < calls || (rings && !redRing(shot) && call < 10); ++call) {
        QCOMPARE(locate(fixture.x()).first, 0);
        shot = fixture.x().screenshot();
    }
    if (rings || !plays)
        QCOMPARE(redRing(shot), rings);

    // Logged after every call before it has been handled.
    QCOMPARE(connection.call(callTo(fixture.x(), QStringLiteral("ReloadSettings"))).type(), QDBusMessage::ReplyMessage);
    QVERIFY(waitForCount(*run, QStringLiteral("Settings loaded"), 2));
    const QStringList started = run->linesContaining(StartedLine + pointText(where));
    QVERIFY(plays ? started.size() >= calls : started.isEmpty());
    for (const QString &line : started)
        QCOMPARE(line.section(QStringLiteral(" effect: "), 1), started.first().section(QStringLiteral(" effect: "), 1));
}

void TestLocate::withoutAnswer_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("change"); // of the environment or the service
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");

    QTest::newRow("help") << QStringList { "--help" } << "" << 0 << "Usage: glintor-locate [--help]\n";
    QTest::newRow("an unknown option") << QStringList { "--now" } << "" << 2
                                       << "glintor-locate: unknown argument --now\n";
    QTest::newRow("no service") << QStringList() << "" << 1 << "No glintor-service is running on this display.\n";
    QTest::newRow("no session bus") << QStringList() << "no bus" << 1 << "No D-Bus session bus: ";
    QTest::newRow("no display") << QStringList() << "no display" << 1 << "No display: ";
    QTest::newRow("a stopped service") << QStringList() << "stopped" << 1
                                       << "glintor-service did not answer within 1 s.\n";
    // Accepted by the kernel, never answered: libdbus would wait for ever.
    QTest::newRow("a bus that never answers") << QStringList() << "mute bus" << 1
                                              << "The D-Bus session bus did not answer.\n";
}

void TestLocate::withoutAnswer()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, change);
    QFETCH(int, exitCode);
    QFETCH(QString, output);

    QProcessEnvironment env = environment(fixture.x(), bus);
    if (change == QLatin1String("no bus"))
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent/bus"));
    if (change == QLatin1String("no display"))
        env.remove(QStringLiteral("DISPLAY"));
    QTemporaryDir muteDir;
    const int mute = ::socket(AF_UNIX, SOCK_STREAM, 0);
    auto closeMute = qScopeGuard([&] { ::close(mute); });
    if (change == QLatin1String("mute bus")) {
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        const QByteArray path = QFile::encodeName(muteDir.filePath(QStringLiteral("bus")));
        qstrncpy(address.sun_path, path.constData(), sizeof address.sun_path);
        QVERIFY(::bind(mute, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 && ::listen(mute, 4) == 0);
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=") + QFile::decodeName(path));
    }
    std::unique_ptr<ProgramRun> run = change == QLatin1String("stopped") ? startService(fixture.x(), bus) : nullptr;
    QVERIFY(!run || run->sendSignal(SIGSTOP));
    const QPair<int, QString> result = locate(fixture.x(), arguments, env);
    QCOMPARE(result.first, exitCode);
    QVERIFY2(result.second.startsWith(output), qPrintable(result.second));
    QVERIFY(exitCode != 1 || result.second.count(QLatin1Char('\n')) == 1);
}

void TestLocate::busGoneServiceKeepsTriggers()
{
    SessionBus ownBus;
    auto run = startService(fixture.x(), ownBus);
    const QProcessEnvironment env = environment(fixture.x(), ownBus);
    QCOMPARE(locate(fixture.x(), {}, env).first, 0);

    ownBus.stop();
    const QPair<int, QString> result = locate(fixture.x(), {}, env);
    QCOMPARE(result.first, 1);
    QVERIFY2(result.second.startsWith(QStringLiteral("No D-Bus session bus: ")), qPrintable(result.second));
    QVERIFY(pressHotkeyUntil(fixture.x(), *run, QStringLiteral("Hotkey Ctrl+Alt+M pressed")));
    QVERIFY(waitForCount(*run, StartedLine, 2));
    QVERIFY(run->sendSignal(SIGTERM));
    QCOMPARE(run->waitForExit(15000), 0);
}

void TestLocate::eachDisplayReachesItsService()
{
    XServer second;
    QVERIFY(second.isRunning());
    auto first = startService(fixture.x(), bus);
    auto other = startService(second, bus);
    QVERIFY(fixture.x().xdotool(xdotoolMove(QPoint(111, 222))) && second.xdotool(xdotoolMove(QPoint(333, 444))));

    QCOMPARE(locate(second).first, 0);
    QCOMPARE(locate(fixture.x()).first, 0);
    QVERIFY(waitForCount(*first, StartedLine + pointText(QPoint(111, 222)), 1));
    QVERIFY(waitForCount(*other, StartedLine + pointText(QPoint(333, 444)), 1));
    QCOMPARE(countLines(*first, StartedLine) + countLines(*other, StartedLine), 2);
}

void TestLocate::newestServiceKeepsTheName()
{
    auto older = startService(fixture.x(), bus);
    auto newer = startService(fixture.x(), bus);
    // The older one hands the display over and goes.
    QCOMPARE(older->waitForExit(15000), 0);
    QCOMPARE(locate(fixture.x()).first, 0);
    QVERIFY(waitForCount(*newer, StartedLine, 1));
    QCOMPARE(countLines(*older, StartedLine), 0);

    // Another client takes the name away and lets it go: the service has it again, and says so.
    const QString name = serviceName(fixture.x());
    QCOMPARE(connection.interface()->registerService(name, QDBusConnectionInterface::ReplaceExistingService).value(),
        QDBusConnectionInterface::ServiceRegistered);
    QVERIFY(!newer->waitForLine(QStringLiteral("Another client took the bus name ") + name).isEmpty());
    QVERIFY(connection.interface()->unregisterService(name));
    QVERIFY(!newer->waitForLine(QStringLiteral("Holding the bus name ") + name + QStringLiteral(" again")).isEmpty());
    QCOMPARE(locate(fixture.x()).first, 0);
    QVERIFY(waitForCount(*newer, StartedLine, 2));
}

void TestLocate::floodRestartsOneAnimation()
{
    auto run = startService(fixture.x(), bus);
    const QDBusMessage call = callTo(fixture.x(), QStringLiteral("Locate"));
    QCOMPARE(connection.call(call).type(), QDBusMessage::ReplyMessage);
    QVERIFY(waitForCount(*run, FinishedLine, 1));
    const qint64 residentBefore = Soak::statusField(run->pid(), "VmRSS");
    QVERIFY(residentBefore > 0);

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
    SOAK_VERIFY_RSS_GROWTH(residentBefore, Soak::statusField(run->pid(), "VmRSS"));

    QDBusMessage version
        = callTo(fixture.x(), QStringLiteral("Get"), QStringLiteral("org.freedesktop.DBus.Properties"));
    version.setArguments({ QStringLiteral("org.glintor.Glintor"), QStringLiteral("Version") });
    const QDBusMessage reply = connection.call(version);
    QCOMPARE(reply.arguments().value(0).value<QDBusVariant>().variant().toString(), QStringLiteral(GLINTOR_VERSION));
}

QTEST_GUILESS_MAIN(TestLocate)

#include "tst_locate.moc"
