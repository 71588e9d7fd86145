// glintor-service as a native Wayland client on a private headless sway, and beside weston, which
// lacks layer-shell: the real programs, a virtual pointer, a private session bus, grim's screenshots.

#include "locatebus.h"
#include "serviceprocess.h"
#include "sessionbus.h"
#include "waylandserver.h"
#include "xserver.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <csignal>
#include <functional>

namespace {

const QString StartedLine = QStringLiteral("Animation started at position: ");
const QString WaylandLine = QStringLiteral("On Wayland the compositor gives no program the keys");
// How far from the pointer a frame may paint: the largest radius and the paint margin.
constexpr int Reach = 160;

QString positionText(QPoint p)
{
    return QStringLiteral("QPoint(%1,%2)").arg(p.x()).arg(p.y());
}

bool background(QRgb pixel)
{
    const QRgb wanted = WaylandServer::backgroundColor;
    return qAbs(qRed(pixel) - qRed(wanted)) <= 12 && qAbs(qGreen(pixel) - qGreen(wanted)) <= 12
        && qAbs(qBlue(pixel) - qBlue(wanted)) <= 12;
}

// What a screenshot shows of an animation around centre (physical pixels), leaving out the cursor
// that sway draws down and right of the pointer.
struct Frame {
    QVector<QPoint> drawn;
    QVector<QRgb> colours;
    QRect bounds;

    Frame(const QImage &shot, QPoint centre, int scale)
    {
        const QRect cursor(centre, QSize(32, 32) * scale);
        const QRect area = QRect(centre - QPoint(Reach, Reach) * scale * 2, QSize(4 * Reach, 4 * Reach) * scale)
                               .intersected(shot.rect());
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                const QRgb pixel = shot.pixel(x, y);
                if (background(pixel) || cursor.contains(x, y))
                    continue;
                drawn << QPoint(x, y);
                colours << pixel;
                bounds |= QRect(x, y, 1, 1);
            }
        }
    }
    bool shown() const { return drawn.size() > 100; }
    int count(const std::function<bool(QRgb)> &test) const
    {
        return int(std::count_if(colours.begin(), colours.end(), test));
    }
};

// Hue sextants with a fair share of saturated pixels: particles of random hues fill several.
int hueSextants(const Frame &frame)
{
    int perSextant[6] = {};
    for (QRgb pixel : frame.colours) {
        const QColor colour(pixel);
        if (colour.hsvSaturation() > 120 && colour.value() > 120 && colour.hsvHue() >= 0)
            ++perSextant[colour.hsvHue() / 60];
    }
    return int(std::count_if(std::begin(perSextant), std::end(perSextant), [](int n) { return n >= 5; }));
}

// Whether this sway puts a layer's newer surfaces above its older ones: 1.10 and later do (wlroots'
// scene graph), 1.7 put the older ones above for the pointer.
bool newerLayerSurfacesAbove(const WaylandServer &server)
{
    const QByteArray answer
        = server.swaymsg({ QStringLiteral("-r"), QStringLiteral("-t"), QStringLiteral("get_version") });
    const QJsonObject version = QJsonDocument::fromJson(answer).object();
    const int major = version.value(QStringLiteral("major")).toInt();
    return major > 1 || (major == 1 && version.value(QStringLiteral("minor")).toInt() >= 10);
}

// The service's log and, once it has ended, how: for the message of a failed check.
QByteArray described(ProgramRun &run)
{
    QProcess &process = run.process();
    process.waitForFinished(200);
    QString text = run.lines().join(QLatin1Char('\n'));
    if (process.state() == QProcess::NotRunning)
        text
            += QStringLiteral("\n(ended: %1, status %2)")
                   .arg(process.exitStatus() == QProcess::NormalExit ? QStringLiteral("exit") : QStringLiteral("crash"))
                   .arg(process.exitCode());
    return text.toLocal8Bit();
}

// A process's main thread: its state and how often it has gone to sleep.
QByteArray schedulingOf(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    QByteArray seen;
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("State:") || line.startsWith("voluntary_ctxt_switches:"))
                seen += line;
        }
    }
    return seen;
}

// SIGSTOP, returning once it has taken effect (what is sent to the process then waits for it), or SIGCONT.
bool freeze(qint64 pid, bool frozen)
{
    return ::kill(pid_t(pid), frozen ? SIGSTOP : SIGCONT) == 0
        && (!frozen || QTest::qWaitFor([pid] { return schedulingOf(pid).contains("stopped"); }));
}

} // namespace

class TestWaylandService final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void effectsCentredOnPointer_data();
    void effectsCentredOnPointer();
    void clickReachesWindowBelow();
    void clickAfterSecondTryReachesWindowBelow();
    void pointerOnAnotherOutput_data();
    void pointerOnAnotherOutput();
    void noPointerNoAnimation_data();
    void noPointerNoAnimation();
    void noSessionBus();
    void compositorGoneEndsForARestart();
    void compositorBindingAndNewestService_data();
    void compositorBindingAndNewestService();
    void withoutLayerShell_data();
    void withoutLayerShell();

private:
    QProcessEnvironment environment(const WaylandServer &server) const { return bus.environment(server.environment()); }
    // extra: "NAME=value" settings of the session's environment.
    std::unique_ptr<ProgramRun> startService(const WaylandServer &server, const QStringList &extra = {}) const;
    bool locate(const WaylandServer &server) const;
    // Triggers the service and returns a screenshot of the output (all of them when empty) taken
    // while a frame stands still: the service is stopped for the screenshot. Null when no frame showed.
    // whileStill runs then too.
    QImage frozenFrame(const WaylandServer &server, ProgramRun &service, const QString &output, QPoint pointer,
        int scale, const std::function<void()> &whileStill = {}) const;
    void writeSettings(int effect, int colour) const;

    SessionBus bus { SessionBus::Access::AnyUser };
    QDBusConnection connection { QString() };
};

void TestWaylandService::initTestCase()
{
    const QString missing = WaylandServer::missingTools(WaylandServer::Kind::Sway);
    if (!missing.isEmpty())
        QSKIP(qPrintable(missing));
    QVERIFY(bus.isRunning());
    connection = QDBusConnection::connectToBus(bus.address(), QStringLiteral("test"));
    QVERIFY(connection.isConnected());
}

void TestWaylandService::init()
{
    writeSettings(1, 1);
}

void TestWaylandService::writeSettings(int effect, int colour) const
{
    QSettings settings(QStringLiteral("Glintor"), QStringLiteral("Settings"));
    settings.clear();
    settings.setValue(QStringLiteral("animationEffect"), effect);
    settings.setValue(QStringLiteral("colorMode"), colour);
    settings.sync();
}

std::unique_ptr<ProgramRun> TestWaylandService::startService(const WaylandServer &server, const QStringList &extra) const
{
    QProcessEnvironment env = environment(server);
    for (const QString &setting : extra)
        env.insert(setting.section(QLatin1Char('='), 0, 0), setting.section(QLatin1Char('='), 1));
    auto run = std::make_unique<ProgramRun>(builtProgram(QStringLiteral("glintor-service")), QStringList(), env);
    const QString name = LocateBus::serviceName(true, QString(), server.waylandDisplay());
    // A newer service finds the name taken by the older one: its caller waits for the hand-over.
    (void)QTest::qWaitFor([&] { return connection.interface()->isServiceRegistered(name).value(); }, 15000);
    return run;
}

bool TestWaylandService::locate(const WaylandServer &server) const
{
    QProcess command;
    command.setProcessEnvironment(environment(server));
    command.setProcessChannelMode(QProcess::ForwardedChannels);
    command.start(builtProgram(QStringLiteral("glintor-locate")), QStringList());
    return command.waitForFinished(15000) && command.exitStatus() == QProcess::NormalExit && command.exitCode() == 0;
}

QImage TestWaylandService::frozenFrame(const WaylandServer &server, ProgramRun &service, const QString &output,
    QPoint pointer, int scale, const std::function<void()> &whileStill) const
{
    // A loaded machine may show a frame late, or end the animation before a screenshot: try again.
    for (int trigger = 0; trigger < 3; ++trigger) {
        const int before = service.linesContaining(StartedLine).size();
        if (!locate(server) || !QTest::qWaitFor([&] { return service.linesContaining(StartedLine).size() > before; }))
            return QImage();
        for (int attempt = 0; attempt < 10; ++attempt) {
            QTest::qWait(15);
            service.sendSignal(SIGSTOP);
            const QImage shot = output.isEmpty() ? server.screenshot() : server.screenshot(output);
            const bool shown = Frame(shot, pointer * scale, scale).shown();
            if (shown && whileStill)
                whileStill();
            service.sendSignal(SIGCONT);
            if (shown)
                return shot;
        }
    }
    return QImage();
}

void TestWaylandService::effectsCentredOnPointer_data()
{
    QTest::addColumn<int>("effect");
    QTest::addColumn<int>("colour");
    QTest::addColumn<QPoint>("pointer");
    QTest::addColumn<bool>("panel"); // a panel along the top, with an exclusive zone as bars have
    QTest::addColumn<QStringList>("session"); // settings of the session's environment

    QTest::newRow("red rings mid-screen") << 1 << 1 << QPoint(700, 400) << false << QStringList();
    QTest::newRow("white rings, top-left corner") << 1 << 0 << QPoint(0, 0) << false << QStringList();
    QTest::newRow("rainbow rings, bottom-right corner") << 1 << 2 << QPoint(1919, 1079) << false << QStringList();
    QTest::newRow("fireworks, top-right corner") << 2 << 1 << QPoint(1919, 0) << false << QStringList();
    QTest::newRow("stars, bottom-left corner") << 3 << 1 << QPoint(0, 1079) << false << QStringList();
    QTest::newRow("red rings, a HiDPI session's QT_SCALE_FACTOR") << 1 << 1 << QPoint(700, 400) << false
                                                               << QStringList { "QT_SCALE_FACTOR=2" };
    // The panel's exclusive zone must move neither the rings nor the pointer's search.
    QTest::newRow("red rings beside a panel") << 1 << 1 << QPoint(700, 60) << true << QStringList();
    QTest::newRow("red rings over a panel") << 1 << 1 << QPoint(700, 20) << true << QStringList();
}

void TestWaylandService::effectsCentredOnPointer()
{
    QFETCH(int, effect);
    QFETCH(int, colour);
    QFETCH(QPoint, pointer);
    QFETCH(bool, panel);
    QFETCH(QStringList, session);
    writeSettings(effect, colour);

    WaylandServer server;
    QVERIFY(server.isRunning());
    std::unique_ptr<ClickProbe> bar;
    if (panel) {
        bar = std::make_unique<ClickProbe>(server, ClickProbe::Kind::Panel);
        QVERIFY(bar->waitUntilShown(QSize(1920, ClickProbe::PanelHeight)));
    }
    VirtualPointer mouse(server, QSize(1920, 1080));
    QVERIFY(mouse.isReady() && mouse.moveTo(pointer));
    auto service = startService(server, session);
    QVERIFY(service->waitForLine(WaylandLine).size() > 0);

    const QImage shot = frozenFrame(server, *service, QString(), pointer, 1);
    QVERIFY2(
        !shot.isNull(), (described(*service) + (server.isRunning() ? "" : "\n(the compositor has gone)")).constData());
    QCOMPARE(service->linesContaining(StartedLine).constFirst().section(' ', 4, 4), positionText(pointer));

    // Every painted pixel lies within the animation's reach of the pointer: the square is centred on
    // it, and near an edge the output clips it rather than moving it.
    const Frame frame(shot, pointer, 1);
    for (const QPoint &pixel : frame.drawn)
        QVERIFY2((pixel - pointer).manhattanLength() <= 2 * Reach, qPrintable(positionText(pixel)));
    if (effect == 1) {
        // The outer ring reaches equally far on every side the output does not cut off.
        QVector<int> reaches;
        if (frame.bounds.left() > 0)
            reaches << pointer.x() - frame.bounds.left();
        if (frame.bounds.right() < shot.width() - 1)
            reaches << frame.bounds.right() - pointer.x();
        if (frame.bounds.top() > 0)
            reaches << pointer.y() - frame.bounds.top();
        if (frame.bounds.bottom() < shot.height() - 1)
            reaches << frame.bounds.bottom() - pointer.y();
        QVERIFY(reaches.size() >= 2);
        const auto [least, most] = std::minmax_element(reaches.begin(), reaches.end());
        QVERIFY2(*most - *least <= 3 && *most <= Reach, qPrintable(QStringLiteral("%1 .. %2").arg(*least).arg(*most)));
    }
    // The colour setting holds: a red fill, light rings, or several hues (the rainbow rings show
    // one hue a ring at a time, so they only show no red fill). The rings fade in as they close in, and
    // the screenshot may show the faint first frame: its red is measured against the background.
    const int reddish = frame.count([](QRgb p) { return qRed(p) > qBlue(p) + 20; });
    const QRgb ground = WaylandServer::backgroundColor;
    const int redFill = frame.count([ground](QRgb p) {
        return qRed(p) >= qRed(ground) + 24 && qBlue(p) <= qBlue(ground) - 24 && qGreen(p) < qGreen(ground);
    });
    if (effect == 1 && colour == 1)
        QVERIFY2(redFill > 100, qPrintable(QString::number(redFill)));
    else if (effect == 1 && colour == 0)
        QVERIFY(frame.count([](QRgb p) { return qRed(p) > 80 && qGreen(p) > 110 && qRed(p) <= qBlue(p); }) > 100);
    else if (effect == 1)
        QCOMPARE(reddish, 0);
    else
        QVERIFY2(hueSextants(frame) >= 2, qPrintable(QString::number(hueSextants(frame))));
}

void TestWaylandService::clickReachesWindowBelow()
{
    WaylandServer server;
    QVERIFY(server.isRunning());
    VirtualPointer mouse(server, QSize(1920, 1080));
    ClickProbe window(server);
    QVERIFY(mouse.isReady() && window.waitUntilShown(QSize(1920, 1080)));
    auto service = startService(server);
    QVERIFY(mouse.moveTo(QPoint(960, 540)));

    // A click at the rings' centre while they show goes to the window below them.
    bool clicked = false;
    QVERIFY(!frozenFrame(server, *service, QString(), QPoint(960, 540), 1, [&] { clicked = mouse.click(); }).isNull());
    QVERIFY(clicked);
    QCOMPARE(window.waitForPress(), QPoint(960, 540));
}

// A drag holds the pointer through the first try (sway refocuses at a map only while no button is
// held) and ends while the second waits. A click right after the pointer is found, before the rings
// map (which gives the window the pointer back anyway), still reaches the window: sway is frozen
// while the service answers the enter, then the service while sway handles the answer and the click.
void TestWaylandService::clickAfterSecondTryReachesWindowBelow()
{
    WaylandServer server;
    QVERIFY(server.isRunning());
    VirtualPointer mouse(server, QSize(1920, 1080));
    ClickProbe window(server);
    QVERIFY(mouse.isReady() && window.waitUntilShown(QSize(1920, 1080)));
    auto service = startService(server);
    const qint64 sway = server.processId();
    const qint64 glintor = service->pid();
    QVERIFY(mouse.moveTo(QPoint(960, 540)) && mouse.hold(true));
    QCOMPARE(window.waitForPress(), QPoint(960, 540));
    QVERIFY(locate(server));
    // Only the second try's 100 ms wait leaves the service asleep while sway has nothing for it.
    QVERIFY(QTest::qWaitFor([&] {
        const QByteArray before = schedulingOf(glintor);
        return before.contains("sleeping") && mouse.sync() && schedulingOf(glintor) == before;
    }));
    QVERIFY(freeze(glintor, true));
    QCOMPARE(service->linesContaining(StartedLine), QStringList());
    QVERIFY(mouse.hold(false) && mouse.sync() && freeze(sway, true) && freeze(glintor, false));
    QVERIFY2(!service->waitForLine(StartedLine).isEmpty(), described(*service).constData());
    // sway may read the click before what it had from the service: a sync first.
    QVERIFY(freeze(glintor, true) && freeze(sway, false) && mouse.sync() && mouse.click() && freeze(glintor, false));
    QCOMPARE(window.waitForPress(), QPoint(960, 540));
}

void TestWaylandService::pointerOnAnotherOutput_data()
{
    QTest::addColumn<int>("scale");
    QTest::addColumn<QPoint>("pointer");

    QTest::newRow("second output at x=1920") << 1 << QPoint(1920 + 500, 400);
    QTest::newRow("second output at scale 2") << 2 << QPoint(1920 + 300, 200);
    // The rings go on across the seam, onto the output the pointer is not on.
    QTest::newRow("at the seam, on the left output") << 1 << QPoint(1919, 400);
    QTest::newRow("at the seam, on the right output") << 1 << QPoint(1920, 400);
}

void TestWaylandService::pointerOnAnotherOutput()
{
    QFETCH(int, scale);
    QFETCH(QPoint, pointer);

    WaylandServer server;
    QVERIFY(server.isRunning());
    auto service = startService(server);
    // Plugged in while the service runs.
    const QString second = server.addOutput(QPoint(1920, 0), scale);
    QVERIFY(!second.isEmpty());
    VirtualPointer mouse(server);
    QVERIFY(mouse.isReady() && mouse.moveTo(pointer));

    // Near the seam the whole layout is looked at, else the second output alone.
    const bool seam = qAbs(pointer.x() - 1920) < Reach;
    const QPoint local = seam ? pointer : pointer - QPoint(1920, 0);
    const QImage shot = frozenFrame(server, *service, seam ? QString() : second, local, scale);
    QVERIFY2(
        !shot.isNull(), (described(*service) + (server.isRunning() ? "" : "\n(the compositor has gone)")).constData());
    QCOMPARE(service->linesContaining(StartedLine).constFirst().section(' ', 4, 4), positionText(pointer));
    // Centred on the pointer's pixel, with rings of the same logical size: twice the pixels at scale 2.
    const Frame frame(shot, local * scale, scale);
    const QPoint centre = frame.bounds.center();
    QVERIFY2((centre - local * scale).manhattanLength() <= 2 * scale, qPrintable(positionText(centre)));
    QVERIFY2(frame.bounds.width() > 200 * scale && frame.bounds.width() <= (2 * Reach + 1) * scale,
        qPrintable(QString::number(frame.bounds.width())));
    if (seam) {
        const int left = int(std::count_if(frame.drawn.begin(), frame.drawn.end(), [](QPoint p) { return p.x() < 1920; }));
        QVERIFY2(left > 100 && frame.drawn.size() - left > 100, qPrintable(QString::number(left)));
    }
}

void TestWaylandService::noPointerNoAnimation_data()
{
    QTest::addColumn<bool>("pointer");
    QTest::addColumn<QString>("why");

    QTest::newRow("no pointer on the seat") << false << "the seat has no pointer";
    // An older surface on the overlay layer (a launcher, a logout screen) takes the pointer's enter
    // where the compositor keeps older layer surfaces above newer ones.
    QTest::newRow("another program's surface over the output")
        << true << "within 100 ms of showing the surfaces that find it: the pointer is over another program's overlay "
                   "surface";
}

// Where the compositor does not say where the pointer is, nothing plays, and one line says why.
void TestWaylandService::noPointerNoAnimation()
{
    QFETCH(bool, pointer);
    QFETCH(QString, why);

    WaylandServer server;
    QVERIFY(server.isRunning());
    std::unique_ptr<VirtualPointer> mouse;
    std::unique_ptr<ClickProbe> cover;
    if (pointer) {
        mouse = std::make_unique<VirtualPointer>(server, QSize(1920, 1080));
        cover = std::make_unique<ClickProbe>(server, ClickProbe::Kind::Overlay);
        QVERIFY(mouse->isReady() && mouse->moveTo(QPoint(700, 400)) && cover->waitUntilShown(QSize(1920, 1080)));
    }
    auto service = startService(server);
    QVERIFY(locate(server));
    if (cover && newerLayerSurfacesAbove(server)) {
        // sway 1.10 stacks the finder's newer surfaces above the other program's: the pointer is found.
        QCOMPARE(service->waitForLine(StartedLine).section(' ', 4, 4), positionText(QPoint(700, 400)));
        return;
    }
    const QString line = QStringLiteral("The compositor did not say where the pointer is, so nothing is shown: ");
    QVERIFY2(service->waitForLine(line).startsWith(line + why), described(*service).constData());
    QCOMPARE(service->linesContaining(StartedLine), QStringList());
}

// On Wayland the bus is the only way to the service: without one it ends, and says why.
void TestWaylandService::noSessionBus()
{
    WaylandServer server;
    QVERIFY(server.isRunning());
    QProcessEnvironment env = server.environment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent/bus"));
    ProgramRun service(builtProgram(QStringLiteral("glintor-service")), {}, env);
    QCOMPARE(service.waitForExit(15000), 1);
    QVERIFY2(service.lines().constLast().endsWith(
                 QLatin1String("on Wayland glintor-locate is this service's only trigger. Exiting.")),
        qPrintable(service.lines().join('\n')));
}

// A compositor that ends (it crashed, or restarts itself, as KDE's can) ends the service with the
// status its user unit starts it again on.
void TestWaylandService::compositorGoneEndsForARestart()
{
    WaylandServer server;
    QVERIFY(server.isRunning());
    auto service = startService(server);
    server.kill();
    QCOMPARE(service->waitForExit(10000), 75);
}

void TestWaylandService::compositorBindingAndNewestService_data()
{
    QTest::addColumn<QStringList>("session"); // what the user manager passes the services

    QTest::newRow("the session's environment") << QStringList();
    // sway runs without XWayland here: a DISPLAY is one a user manager kept from another session.
    QTest::newRow("a stale DISPLAY beside WAYLAND_DISPLAY") << QStringList { "DISPLAY=:5" };
}

void TestWaylandService::compositorBindingAndNewestService()
{
    QFETCH(QStringList, session);

    WaylandServer server;
    QVERIFY(server.isRunning());
    VirtualPointer mouse(server, QSize(1920, 1080));
    QVERIFY(mouse.isReady() && mouse.moveTo(QPoint(500, 500)));
    auto older = startService(server, session);
    auto newer = startService(server, session);

    // The newest service of the display takes the bus name; the older one steps aside.
    QVERIFY(!older->waitForLine(QStringLiteral("Another glintor-service took over this display. Exiting.")).isEmpty());
    QVERIFY2(older->waitForExit(10000) == 0, described(*older).constData());

    // sway runs its bindings as its own user: give it a copy of the command it may run.
    QTemporaryDir commandDir(QStringLiteral("/tmp/glintor-binding-XXXXXX"));
    QVERIFY(QFile::setPermissions(commandDir.path(), QFile::permissions(commandDir.path()) | QFile::ExeOther));
    const QString command = commandDir.filePath(QStringLiteral("glintor-locate"));
    QVERIFY(QFile::copy(builtProgram(QStringLiteral("glintor-locate")), command));
    bool bound = false;
    server.swaymsg({ QStringLiteral("bindsym Ctrl+Alt+m exec env -u DISPLAY WAYLAND_DISPLAY=%1 "
                                    "DBUS_SESSION_BUS_ADDRESS=%2 %3")
                           .arg(server.waylandDisplay(), bus.address().section(',', 0, 0), command) },
        &bound);
    QVERIFY(bound);
    QVERIFY(server.wtype({ "-M", "ctrl", "-M", "alt", "m", "-m", "alt", "-m", "ctrl" }));
    QCOMPARE(newer->waitForLine(StartedLine, 10000).section(' ', 4, 4), positionText(QPoint(500, 500)));
}

void TestWaylandService::withoutLayerShell_data()
{
    QTest::addColumn<bool>("weston");
    QTest::addColumn<bool>("xDisplay");
    QTest::addColumn<QString>("platform");
    QTest::addColumn<QString>("line");

    QTest::newRow("weston, XWayland's display beside it")
        << true << true << QString()
        << "This Wayland compositor offers no layer-shell: glintor-service runs through XWayland and sees the "
           "pointer and the keys only while they are over X11 windows";
    QTest::newRow("weston, no X display")
        << true << false << QString()
        << "The Wayland compositor offers no layer-shell, and there is no X display (DISPLAY unset) to run through "
           "instead: glintor-service cannot show the pointer on this desktop. Exiting.";
    QTest::newRow("weston, Wayland chosen")
        << true << true << "wayland"
        << "The Wayland compositor offers no layer-shell, which glintor-service needs to show the pointer on "
           "Wayland; without QT_QPA_PLATFORM=wayland it runs through XWayland. Exiting.";
    QTest::newRow("sway, X11 chosen") << false << true << "xcb"
                                      << "Running through XWayland as QT_QPA_PLATFORM chose: glintor-service sees "
                                         "the pointer and the keys only while they are over X11 windows";
}

// Where the service cannot be a layer-shell client it stays on X11 and says once what it cannot
// see, or, with no X display to use, ends with one line.
void TestWaylandService::withoutLayerShell()
{
    QFETCH(bool, weston);
    QFETCH(bool, xDisplay);
    QFETCH(QString, platform);
    QFETCH(QString, line);
    const auto kind = weston ? WaylandServer::Kind::Weston : WaylandServer::Kind::Sway;
    const QString missing = WaylandServer::missingTools(kind);
    if (!missing.isEmpty())
        QSKIP(qPrintable(missing));

    WaylandServer server(kind);
    QVERIFY(server.isRunning());
    XServer x;
    QProcessEnvironment env = environment(server);
    if (xDisplay)
        env.insert(QStringLiteral("DISPLAY"), x.display());
    if (!platform.isEmpty())
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
    ProgramRun service(builtProgram(QStringLiteral("glintor-service")), {}, env);
    const bool exits = line.endsWith(QLatin1String("Exiting."));
    if (exits) {
        QCOMPARE(service.waitForExit(15000), 1);
        QCOMPARE(service.lines(), QStringList { line });
        return;
    }
    // Said as the desktop's triggers start, after the overlay is made.
    QVERIFY(!service.waitForLine(line, 15000).isEmpty());
    QVERIFY(service.sendSignal(SIGTERM));
    QCOMPARE(service.waitForExit(10000), 0);
    QCOMPARE(service.linesContaining(line).size(), 1);
}

QTEST_GUILESS_MAIN(TestWaylandService)
#include "tst_waylandservice.moc"
