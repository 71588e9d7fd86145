// glintor-bench: measures the overlay and the service. Not a test: it asserts nothing and prints
// figures (Markdown table rows) for scripts/bench, which starts the X servers and runs the modes:
//
//   regions                                bytes repainted per frame, first frame and steady state
//   paint    --effect E [--repeat R]       wall time of paintEvent per frame, rendered offscreen;
//                                          under callgrind (--toggle-collect=Glintor::paintEvent*)
//                                          the instructions per frame
//   cpu      --effect E --count N --xserver PID [--compositor PID]
//                                          CPU of this process, the X server and the compositor for
//                                          whole animations, median
//   latency  --count N                     trigger to first frame flushed, cold and warm
//   keypress --count N --runs R [--service [LABEL=]PATH]...
//                                          glintor-service seen from outside: an XTEST Ctrl+Alt+M
//                                          press until the root window's pixel at the pointer
//                                          changes (compositor included), first and warm presses,
//                                          and its RSS idle and after the 1 + N animations
//   locate   --count N --runs R [--service ...]
//                                          glintor-locate seen from outside: from the command's
//                                          exec until the root window's pixel at the pointer
//                                          changes, the first call after the service started and
//                                          warm calls; Ctrl+Alt+M measured the same way beside it
//   startup  --runs N [--service ...]      glintor-service: exec to its event loop
//   idle     --pid PID --xserver PID --seconds S
//                                          wakeups and CPU of a resting service and its X server
//   wayland  --count N --runs R --seconds S [--service PATH] [--pointer-helper PATH] [--log-dir DIR]
//            [--outputs N --output-size WxH] [--plain-runs N] [--clicks N [--click-probe PATH]]
//                                          glintor-service as a Wayland client (WAYLAND_DISPLAY, a
//                                          session bus; N outputs side by side, the pointer resting
//                                          on the last): glintor-locate's exec to the first ring
//                                          frame committed, read from WAYLAND_DEBUG=client logs,
//                                          step by step, how long the finding surfaces stay mapped,
//                                          the animations played, the log's own cost (services
//                                          without it: --plain-runs), surfaces left mapped, wakeups
//                                          and RSS; with --clicks, clicks at random moments 0–80 ms
//                                          after the calls on a clickprobe window below, and those
//                                          that did not reach it
//
// The overlay is the real Glintor with its real painting. --service names the glintor-service to
// run (default: the one beside this program); given several times, e.g. an older build's as
// before=PATH, the builds take turns run by run and each gets its own row.

#include "benchfigures.h"
#include "glintor.h"
#include "glintorsettings.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCommandLineParser>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <tuple>
#include <vector>

#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

using namespace BenchFigures;

namespace {

struct Effect {
    const char *name;
    int animationEffect; // the setting
    int colorMode;
};

const std::vector<Effect> Effects { { "ring, white", 1, 0 }, { "ring, red", 1, 1 }, { "ring, rainbow", 1, 2 },
    { "fireworks", 2, 1 }, { "stars", 3, 1 } };

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / 1e6, 'f', bytes < 10000000 ? 2 : 1) + QStringLiteral(" MB");
}

// Runs the event loop until done() holds, checked whenever the loop is about to sleep, or until
// the time is up. No polling: a resting loop costs nothing.
bool runUntil(const std::function<bool()> &done, int timeoutMs)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &loop, [&] {
        if (done())
            loop.quit();
    });
    timeout.start(timeoutMs);
    loop.exec();
    return done();
}

void restFor(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

void writeSettings(const Effect &effect)
{
    QSettings settings(GlintorSettings::Organization, GlintorSettings::Application);
    settings.clear();
    settings.setValue(GlintorSettings::Key::AnimationEffect, effect.animationEffect);
    settings.setValue(GlintorSettings::Key::ColorMode, effect.colorMode);
}

const Effect *findEffect(const QString &name)
{
    for (const Effect &effect : Effects) {
        if (name == QLatin1String(effect.name))
            return &effect;
    }
    return nullptr;
}

// A Glintor with repeatable particles and an effect choice that follows the settings at every start.
class BenchOverlay {
public:
    BenchOverlay()
        : random(20240611)
    {
        overlay.setClock([this] { return now += 20000; });
        overlay.setRandomSource([this](int bound) { return int(random.bounded(bound)); });
    }

    Glintor &widget() { return overlay; }

    // Starts an animation the way the hotkey thread does: a queued call by name.
    void trigger(const QPoint &position)
    {
        QMetaObject::invokeMethod(&overlay, "startAnimation", Qt::QueuedConnection, Q_ARG(QPoint, position));
    }

    bool runUntilFinished(int timeoutMs = 10000)
    {
        return runUntil([this] { return overlay.animating(); }, timeoutMs)
            && runUntil([this] { return !overlay.animating(); }, timeoutMs);
    }

private:
    Glintor overlay;
    QRandomGenerator random;
    qint64 now = 1700000000000;
};

// Records every paint event's region.
class PaintRecorder : public QObject {
public:
    std::vector<qint64> bytes; // region area x 4 per paint event
    std::function<void()> onPaint;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            qint64 area = 0;
            for (const QRect &rect : static_cast<QPaintEvent *>(event)->region())
                area += qint64(rect.width()) * rect.height();
            bytes.push_back(area * 4);
            if (onPaint)
                onPaint();
        }
        return QObject::eventFilter(watched, event);
    }
};

// ---- regions ----

int runRegions()
{
    for (const Effect &effect : { Effects[1], Effects[3], Effects[4] }) {
        writeSettings(effect);
        BenchOverlay bench;
        bench.widget().loadSettings();
        PaintRecorder recorder;
        bench.widget().installEventFilter(&recorder);
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        bench.trigger(screen.center());
        if (!bench.runUntilFinished() || recorder.bytes.size() < 3)
            return 1;
        const qint64 first = recorder.bytes.front();
        const std::vector<qint64> steady(recorder.bytes.begin() + 1, recorder.bytes.end());
        const QSize window = bench.widget().size();
        const qint64 windowBytes = qint64(window.width()) * window.height() * 4;
        out(QStringLiteral("| %1×%2 | %3 | %4 | %5 | %6 | %7× |")
                .arg(screen.width())
                .arg(screen.height())
                .arg(QLatin1String(effect.name))
                .arg(megabytes(first))
                .arg(megabytes(median(steady)))
                .arg(steady.size())
                .arg(QString::number(double(windowBytes) / double(median(steady)), 'f', 1)));
    }
    return 0;
}

// ---- paint ----

int runPaint(const Effect &effect, int repeat)
{
    writeSettings(effect);
    BenchOverlay bench;
    Glintor &overlay = bench.widget();
    overlay.loadSettings();
    const QRect square = overlay.animationRect();
    QImage image(square.size(), QImage::Format_ARGB32_Premultiplied);

    std::vector<double> nanoseconds;
    int frames = 0;
    for (int r = 0; r < repeat; ++r) {
        overlay.startAnimation(QPoint(overlay.width() / 2, overlay.height() / 2));
        while (overlay.animating()) {
            image.fill(Qt::transparent);
            QElapsedTimer timer;
            timer.start();
            overlay.render(&image, QPoint(), QRegion(square), QWidget::RenderFlags());
            nanoseconds.push_back(double(timer.nsecsElapsed()));
            ++frames;
            overlay.updateAnimation();
        }
    }
    out(QStringLiteral("| %1 | %2 | %3 |")
            .arg(QLatin1String(effect.name))
            .arg(frames)
            .arg(QString::number(median(nanoseconds) / 1000.0, 'f', 1) + QStringLiteral(" µs")));
    return 0;
}

// ---- cpu ----

// Waits until the X server has handled what this process sent, and until it has rested a moment,
// so that an animation's cost is all counted in its own sample.
void settleXServer(Display *display)
{
    QCoreApplication::processEvents();
    if (display)
        XSync(display, False);
    restFor(300);
}

int runCpu(const Effect &effect, int count, qint64 xserverPid, qint64 compositorPid)
{
    writeSettings(effect);
    BenchOverlay bench;
    bench.widget().loadSettings();
    Display *display = XOpenDisplay(nullptr);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QPoint centre = screen.center();

    // One animation first: the window, its backing store and the X resources are made once.
    bench.trigger(centre);
    if (!bench.runUntilFinished())
        return 1;
    settleXServer(display);

    std::vector<double> self, xserver, compositor, total;
    for (int i = 0; i < count; ++i) {
        const qint64 s0 = cpuNanoseconds(QCoreApplication::applicationPid());
        const qint64 x0 = cpuNanoseconds(xserverPid);
        const qint64 c0 = cpuNanoseconds(compositorPid);
        bench.trigger(centre);
        if (!bench.runUntilFinished())
            return 1;
        settleXServer(display);
        const double s = (cpuNanoseconds(QCoreApplication::applicationPid()) - s0) / 1e6;
        const double x = (cpuNanoseconds(xserverPid) - x0) / 1e6;
        const double c = (cpuNanoseconds(compositorPid) - c0) / 1e6;
        self.push_back(s);
        xserver.push_back(x);
        compositor.push_back(c);
        total.push_back(s + x + c);
    }
    if (display)
        XCloseDisplay(display);
    out(QStringLiteral("| %1×%2 | %3 | %4 | %5 | %6 | %7 | %8 |")
            .arg(screen.width())
            .arg(screen.height())
            .arg(QLatin1String(effect.name))
            .arg(count)
            .arg(ms(median(self)))
            .arg(ms(median(xserver)))
            .arg(compositorPid > 0 ? ms(median(compositor)) : QStringLiteral("–"))
            .arg(ms(median(total))));
    return 0;
}

// ---- latency ----

int runLatency(int count)
{
    writeSettings(Effects[1]);
    BenchOverlay bench;
    Glintor &overlay = bench.widget();
    overlay.loadSettings();
    Display *display = XOpenDisplay(nullptr);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QPoint centre = screen.center();

    // The first frame counts as flushed once the event loop has sent everything to the X server
    // (Qt flushes its connection before the loop blocks) and a round trip has come back.
    PaintRecorder recorder;
    overlay.installEventFilter(&recorder);
    bool waitingForFrame = false;
    bool painted = false;
    double flushedAt = 0;
    QElapsedTimer clock;
    clock.start();
    recorder.onPaint = [&] {
        if (waitingForFrame)
            painted = true;
    };
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &overlay, [&] {
        if (!waitingForFrame || !painted)
            return;
        if (display)
            XSync(display, False);
        flushedAt = clock.nsecsElapsed() / 1e6;
        waitingForFrame = false;
    });

    const auto measure = [&]() -> double {
        painted = false;
        waitingForFrame = true;
        const double triggeredAt = clock.nsecsElapsed() / 1e6;
        bench.trigger(centre);
        runUntil([&] { return !waitingForFrame; }, 10000);
        const double latency = flushedAt - triggeredAt;
        bench.runUntilFinished();
        settleXServer(display);
        return latency;
    };

    const double cold = measure();
    measure();
    measure();
    std::vector<double> warm;
    for (int i = 0; i < count; ++i)
        warm.push_back(measure());
    if (display)
        XCloseDisplay(display);
    out(QStringLiteral("| %1×%2 | %3 | %4 | %5 | %6 |")
            .arg(screen.width())
            .arg(screen.height())
            .arg(ms(cold))
            .arg(count)
            .arg(ms(median(warm)))
            .arg(ms(worst(warm))));
    return 0;
}

// ---- the real service ----

bool g_glIntegrationSetHere = false;

// The services see the environment this program was given: each build decides about Qt's OpenGL
// integration as it does for a user.
void startService(QProcess &service, const QString &path, const QStringList &arguments)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (g_glIntegrationSetHere)
        environment.remove(QStringLiteral("QT_XCB_GL_INTEGRATION"));
    service.setProcessEnvironment(environment);
    service.setReadChannel(QProcess::StandardError);
    service.start(path, arguments);
}

// A glintor-service binary to measure, with the label of its rows.
struct ServiceBuild {
    QString label;
    QString path;
};

std::vector<ServiceBuild> serviceBuilds(const QStringList &values)
{
    std::vector<ServiceBuild> builds;
    for (const QString &value : values) {
        const int equals = value.indexOf(QLatin1Char('='));
        if (equals > 0)
            builds.push_back({ value.left(equals), value.mid(equals + 1) });
        else
            builds.push_back({ QStringLiteral("this build"), value });
    }
    if (builds.empty())
        builds.push_back({ QStringLiteral("this build"),
            QCoreApplication::applicationDirPath() + QStringLiteral("/glintor-service") });
    return builds;
}

// Reads what the service logs until text has been seen count times.
bool waitForLines(QProcess &process, QByteArray &seen, const QByteArray &text, int count, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (seen.count(text) < count) {
        if (deadline.hasExpired() || process.state() == QProcess::NotRunning)
            return false;
        process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        seen += process.readAllStandardError();
    }
    return true;
}

bool waitForLine(QProcess &process, QByteArray &seen, const QByteArray &text, int timeoutMs)
{
    return waitForLines(process, seen, text, 1, timeoutMs);
}

void stopService(QProcess &process)
{
    ::kill(pid_t(process.processId()), SIGTERM);
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

int runStartup(const std::vector<ServiceBuild> &builds, int runs)
{
    std::vector<std::vector<double>> times(builds.size());
    for (int i = 0; i < runs; ++i) {
        for (size_t b = 0; b < builds.size(); ++b) {
            QProcess service;
            QByteArray seen;
            QElapsedTimer timer;
            timer.start();
            startService(service, builds[b].path, { QStringLiteral("--debug") });
            // Logged right before the event loop starts.
            if (!waitForLine(service, seen, "Glintor服务已启动", 20000))
                return 1;
            times[b].push_back(timer.nsecsElapsed() / 1e6);
            stopService(service);
        }
    }
    for (size_t b = 0; b < builds.size(); ++b)
        out(QStringLiteral("| %1 | %2 | %3 | %4 |")
                .arg(builds[b].label)
                .arg(runs)
                .arg(ms(median(times[b])))
                .arg(ms(worst(times[b]))));
    return 0;
}

// ---- keypress ----

QRgb rootPixel(Display *display, const QPoint &at)
{
    XImage *image = XGetImage(display, DefaultRootWindow(display), at.x(), at.y(), 1, 1, AllPlanes, ZPixmap);
    if (!image)
        return 0;
    const QRgb pixel = QRgb(XGetPixel(image, 0, 0) & 0xffffff);
    XDestroyImage(image);
    return pixel;
}

// How an animation is asked for: Ctrl+Alt+M through XTEST, as a keyboard would, or glintor-locate
// as a key binding of a window manager runs it.
enum class Trigger { Keypress, Locate };

// Starts the trigger and returns the milliseconds until the root window's pixel at the pointer
// differs from what it showed before: for a key press the service's hotkey thread, for the command
// its exec, start-up and bus call; then the start of the animation, the window's map and first
// frame, and the compositor's work. Then waits for the animation to end and the screen to show the
// background again.
double timeTrigger(Display *display, QProcess &service, QByteArray &seen, const QPoint &pointer, Trigger trigger)
{
    const KeyCode keys[] = { XKeysymToKeycode(display, XK_Control_L), XKeysymToKeycode(display, XK_Alt_L),
        XKeysymToKeycode(display, XK_m) };
    const QRgb background = rootPixel(display, pointer);
    const int finished = seen.count("Animation finished");
    static const QByteArray locate = QFile::encodeName(QCoreApplication::applicationDirPath() + "/glintor-locate");
    char *const arguments[] = { const_cast<char *>(locate.constData()), nullptr };
    pid_t command = -1;

    QElapsedTimer timer;
    timer.start();
    if (trigger == Trigger::Keypress) {
        for (const KeyCode key : keys)
            XTestFakeKeyEvent(display, key, True, CurrentTime);
        XFlush(display);
    } else if (posix_spawn(&command, locate.constData(), nullptr, nullptr, arguments, environ) != 0) {
        return -1;
    }
    double latency = -1;
    while (timer.elapsed() < 5000) {
        if (rootPixel(display, pointer) != background) {
            latency = timer.nsecsElapsed() / 1e6;
            break;
        }
        // A busy poll would take a core from the X server and the compositor.
        ::usleep(500);
    }
    if (trigger == Trigger::Keypress) {
        for (int k = 2; k >= 0; --k)
            XTestFakeKeyEvent(display, keys[k], False, CurrentTime);
        XFlush(display);
    } else {
        int status = 0;
        if (::waitpid(command, &status, 0) != command || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            return -1;
    }

    if (!waitForLines(service, seen, "Animation finished", finished + 1, 10000))
        return -1;
    QDeadlineTimer cleared(2000);
    while (rootPixel(display, pointer) != background && !cleared.hasExpired())
        QThread::msleep(5);
    QThread::msleep(200);
    return latency;
}

struct KeypressFigures {
    std::vector<double> idleRss, animatedRss, peakRss, first, warm;
};

bool measureKeypresses(const ServiceBuild &build, Display *display, int count, KeypressFigures &figures,
    Trigger trigger = Trigger::Keypress)
{
    QProcess service;
    QByteArray seen;
    startService(service, build.path, QStringList());
    // Logged while the overlay is built; the hotkey thread makes its grab just after.
    if (!waitForLine(service, seen, "Settings loaded", 20000)) {
        std::fprintf(stderr, "%s did not start\n", qPrintable(build.path));
        return false;
    }
    QThread::sleep(2);
    const qint64 pid = service.processId();
    figures.idleRss.push_back(statusKb(pid, "VmRSS"));

    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QPoint pointer = screen.center();
    XWarpPointer(display, None, DefaultRootWindow(display), 0, 0, 0, 0, pointer.x(), pointer.y());
    XSync(display, False);

    bool ok = true;
    for (int i = 0; i <= count && ok; ++i) {
        const double latency = timeTrigger(display, service, seen, pointer, trigger);
        ok = latency >= 0;
        if (i == 0)
            figures.first.push_back(latency);
        else
            figures.warm.push_back(latency);
    }
    figures.animatedRss.push_back(statusKb(pid, "VmRSS"));
    figures.peakRss.push_back(statusKb(pid, "VmHWM"));
    stopService(service);
    if (!ok)
        std::fprintf(stderr, "%s: a %s drew nothing at the pointer within 5 s\n", qPrintable(build.path),
            trigger == Trigger::Keypress ? "press" : "glintor-locate call");
    return ok;
}

// The connection the timed triggers are typed and read through; null, said, without XTEST.
Display *openXTestDisplay(const char *mode)
{
    Display *display = XOpenDisplay(nullptr);
    int event, error, major, minor;
    if (display && XTestQueryExtension(display, &event, &error, &major, &minor))
        return display;
    std::fprintf(stderr, "%s needs an X server with XTEST\n", mode);
    return nullptr;
}

int runKeypress(const std::vector<ServiceBuild> &builds, int count, int runs)
{
    writeSettings(Effects[1]); // red rings: the first frame is red at the pointer
    Display *display = openXTestDisplay("keypress");
    if (!display)
        return 1;
    // The builds take turns, so that a change of load on the machine falls on all of them alike.
    std::vector<KeypressFigures> figures(builds.size());
    for (int run = 0; run < runs; ++run) {
        for (size_t b = 0; b < builds.size(); ++b) {
            if (!measureKeypresses(builds[b], display, count, figures[b]))
                return 1;
        }
    }
    XCloseDisplay(display);

    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    for (size_t b = 0; b < builds.size(); ++b) {
        const KeypressFigures &f = figures[b];
        out(QStringLiteral("| %1 | %2×%3 | %4 | %5 | %6 | %7 | %8 / %9 |")
                .arg(builds[b].label)
                .arg(screen.width())
                .arg(screen.height())
                .arg(megabytesOfKb(qint64(median(f.idleRss))))
                .arg(megabytesOfKb(qint64(median(f.animatedRss))))
                .arg(megabytesOfKb(qint64(median(f.peakRss))))
                .arg(ms(median(f.first)))
                .arg(ms(median(f.warm)))
                .arg(ms(worst(f.warm))));
    }
    return 0;
}

int runLocate(const std::vector<ServiceBuild> &builds, int count, int runs)
{
    writeSettings(Effects[1]); // red rings: the first frame is red at the pointer
    Display *display = openXTestDisplay("locate");
    if (!display)
        return 1;
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        std::fprintf(stderr, "locate needs a session bus (DBUS_SESSION_BUS_ADDRESS)\n");
        return 1;
    }
    // Fresh services for each trigger, taking turns, so that each first call meets a service that
    // has just started.
    const Trigger triggers[] = { Trigger::Locate, Trigger::Keypress };
    std::vector<KeypressFigures> figures(builds.size() * 2);
    for (int run = 0; run < runs; ++run) {
        for (size_t b = 0; b < builds.size(); ++b) {
            for (int t = 0; t < 2; ++t) {
                if (!measureKeypresses(builds[b], display, count, figures[b * 2 + t], triggers[t]))
                    return 1;
            }
        }
    }
    XCloseDisplay(display);

    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    for (size_t b = 0; b < builds.size(); ++b) {
        for (int t = 0; t < 2; ++t) {
            const KeypressFigures &f = figures[b * 2 + t];
            out(QStringLiteral("| %1 | %2×%3 | %4 | %5 | %6 | %7 / %8 |")
                    .arg(builds[b].label)
                    .arg(screen.width())
                    .arg(screen.height())
                    .arg(triggers[t] == Trigger::Locate ? QStringLiteral("glintor-locate")
                                                        : QStringLiteral("Ctrl+Alt+M"))
                    .arg(ms(median(f.first)))
                    .arg(QStringLiteral("%1 × %2").arg(runs).arg(count))
                    .arg(ms(median(f.warm)))
                    .arg(ms(worst(f.warm))));
        }
    }
    return 0;
}

int runIdle(qint64 pid, qint64 xserverPid, double seconds, const QString &label)
{
    const qint64 s0 = cpuNanoseconds(pid);
    const qint64 x0 = cpuNanoseconds(xserverPid);
    const qint64 sw0 = wakeups(pid);
    const qint64 xw0 = wakeups(xserverPid);
    QElapsedTimer timer;
    timer.start();
    QThread::msleep(qint64(seconds * 1000));
    const double elapsed = timer.nsecsElapsed() / 1e9;
    const double serviceCpu = (cpuNanoseconds(pid) - s0) / 1e9 / elapsed * 100;
    const double xCpu = (cpuNanoseconds(xserverPid) - x0) / 1e9 / elapsed * 100;
    const double serviceWakeups = (wakeups(pid) - sw0) / elapsed;
    const double xWakeups = (wakeups(xserverPid) - xw0) / elapsed;
    out(QStringLiteral("| %1 | %2 s | %3 | %4 | %5 % | %6 % |")
            .arg(label)
            .arg(QString::number(elapsed, 'f', 0))
            .arg(QString::number(serviceWakeups, 'f', 1))
            .arg(QString::number(xWakeups, 'f', 1))
            .arg(QString::number(serviceCpu, 'f', 3))
            .arg(QString::number(xCpu, 'f', 3)));
    return 0;
}

// ---- wayland ----

// The service's stderr under WAYLAND_DEBUG=client: libwayland's lines, "[   4242.421]  -> request" and
// "[   4242.421] event", and Qt's own, which QT_MESSAGE_PATTERN marks "qt[" with a monotonic time.
// libwayland 1.21 stamps its lines with CLOCK_REALTIME in microseconds cut to 32 bits (it wraps every
// 71.6 minutes), not CLOCK_MONOTONIC: on this machine its stamps were 8.8 million seconds away from
// /proc/uptime and matched the wall clock modulo 2^32 µs. Qt's %{time boot} is CLOCK_MONOTONIC.
struct WaylandLogLine {
    bool qt = false;
    quint32 stamp = 0; // libwayland: wall clock µs mod 2^32; Qt: monotonic ms
    QByteArray text;
};

std::vector<WaylandLogLine> readWaylandLog(const QString &path)
{
    std::vector<WaylandLogLine> lines;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    for (const QByteArray &raw : file.readAll().split('\n')) {
        WaylandLogLine line;
        QByteArray rest = raw;
        if (rest.startsWith("qt[")) {
            line.qt = true;
            rest = rest.mid(2);
        }
        const int close = rest.indexOf(']');
        if (!rest.startsWith('[') || close < 0)
            continue;
        const QList<QByteArray> parts = rest.mid(1, close - 1).trimmed().split('.');
        if (parts.size() != 2)
            continue;
        line.stamp = quint32(parts[0].toULongLong() * 1000 + parts[1].toULongLong());
        line.text = rest.mid(close + 1).trimmed();
        lines.push_back(std::move(line));
    }
    return lines;
}

quint32 wallClockMicroseconds()
{
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    return quint32(quint64(now.tv_sec) * 1000000u + quint64(now.tv_nsec) / 1000u);
}

quint32 monotonicMilliseconds()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return quint32(quint64(now.tv_sec) * 1000u + quint64(now.tv_nsec) / 1000000u);
}

// One glintor-locate call: when it was started, in both clocks, and what the logs tell about it (ms
// after the exec; -1 when a log has no such line).
struct LocateCall {
    quint32 wallUs = 0;
    quint32 monotonicMs = 0;
    double untilMs = 5000; // where its lines end: the next call's exec, at most 5 s on
    double finderMapped = -1; // the first "glintor-pointer" layer surface asked for: the call arrived
    double finderShown = -1; // the first finding surface's commit after the attach of its buffer
    double pointerEntered = -1; // wl_pointer.enter on a finding surface
    double finderGone = -1; // the last shown finding surface destroyed
    int covers = 0; // finding surfaces asked for
    int enterBeforeSyncDone = -1; // 1 or 0: the enter came before or after the done of the finder's sync
    double overlayMapped = -1; // the "glintor" layer surface asked for
    double firstFrame = -1; // its first commit with a buffer attached
    double animationStarted = -1; // Qt's "Animation started" line
    // With a click: the virtual pointer's press request, the press reaching the window below, and
    // that window's leave and enter while the finding surfaces come and go.
    double clickSent = -1, clickReceived = -1, probeLeft = -1, probeEntered = -1;
    bool clickReached = false; // the window printed the press
};

double since(const WaylandLogLine &line, const LocateCall &call)
{
    return line.qt ? double(qint32(line.stamp - call.monotonicMs)) : double(qint32(line.stamp - call.wallUs)) / 1000.0;
}

// The call's first libwayland line from fromMs on that starts with prefix and holds part.
double firstLine(const std::vector<WaylandLogLine> &log, const LocateCall &call, const QByteArray &prefix,
    const QByteArray &part, double fromMs = 0)
{
    for (const WaylandLogLine &line : log) {
        const double at = since(line, call);
        if (!line.qt && at >= fromMs && at < call.untilMs && line.text.startsWith(prefix) && line.text.contains(part))
            return at;
    }
    return -1;
}

// Searches the service's log for the steps of one call. The finding surfaces live on a connection
// of their own, whose object ids may repeat Qt's: they are known by their namespace, and their
// mapping commit is the one the finder sends right after the attach of their buffer.
void readCall(const std::vector<WaylandLogLine> &log, LocateCall &call)
{
    static const QRegularExpression layerSurface(
        QStringLiteral("get_layer_surface\\(new id (zwlr_layer_surface_v1@\\d+), "
                       "(wl_surface@\\d+), .*\"(glintor|glintor-pointer)\"\\)$"));
    static const QRegularExpression syncRequest(
        QStringLiteral("^-> wl_display@1\\.sync\\(new id (wl_callback@\\d+)\\)$"));
    struct Cover {
        QByteArray layer, surface; // "-> zwlr_layer_surface_v1@N", "-> wl_surface@N"
        bool shown = false, gone = false;
    };
    std::vector<Cover> covers;
    QByteArray syncDone; // "wl_callback@N.done("
    QByteArray overlay;
    bool overlayAttached = false;
    for (size_t i = 0; i < log.size(); ++i) {
        const WaylandLogLine &line = log[i];
        const QByteArray &text = line.text;
        const double at = since(line, call);
        if (at < 0 || at >= call.untilMs)
            continue;
        if (line.qt) {
            if (call.animationStarted < 0 && text.startsWith("Animation started"))
                call.animationStarted = at;
            continue;
        }
        if (text.contains("get_layer_surface(")) {
            const QRegularExpressionMatch made = layerSurface.match(QString::fromLatin1(text));
            if (!made.hasMatch())
                continue;
            const QByteArray surface = "-> " + made.captured(2).toLatin1();
            if (made.captured(3) == QLatin1String("glintor-pointer")) {
                // The call's own search only: its surfaces are all asked for before an enter or a drop.
                if (call.pointerEntered < 0
                    && std::none_of(covers.begin(), covers.end(), [](const Cover &cover) { return cover.gone; })) {
                    covers.push_back({ "-> " + made.captured(1).toLatin1(), surface });
                    if (call.finderMapped < 0)
                        call.finderMapped = at;
                }
            } else if (call.pointerEntered >= 0 && overlay.isEmpty()) {
                overlay = surface;
                call.overlayMapped = at;
            }
            continue;
        }
        const auto cover = std::find_if(covers.begin(), covers.end(), [&](const Cover &each) {
            return !each.gone && (text.startsWith(each.surface + '.') || text.startsWith(each.layer + '.'));
        });
        if (cover != covers.end()) {
            if (!cover->shown && text == cover->surface + ".commit()" && i > 0
                && log[i - 1].text.startsWith(cover->surface + ".attach(wl_buffer@")) {
                cover->shown = true;
                if (call.finderShown < 0)
                    call.finderShown = at;
                // Once every surface is shown the finder asks for a sync, a few requests after the
                // last commit (its first try unmaps the surfaces and maps the hand-over first).
                for (size_t next = i + 1; next < std::min(log.size(), i + 16) && syncDone.isEmpty(); ++next) {
                    const QRegularExpressionMatch sync = syncRequest.match(QString::fromLatin1(log[next].text));
                    if (sync.hasMatch())
                        syncDone = sync.captured(1).toLatin1() + ".done(";
                }
            } else if (text == cover->layer + ".destroy()" || text == cover->surface + ".destroy()") {
                cover->gone = true;
                if (cover->shown)
                    call.finderGone = at;
            }
            continue;
        }
        if (!syncDone.isEmpty() && call.enterBeforeSyncDone < 0
            && (text.startsWith(syncDone) || text.startsWith("discarded " + syncDone))) {
            // The finder drops its sync with the surfaces when the enter comes: libwayland then
            // discards the done.
            call.enterBeforeSyncDone = text.startsWith("discarded") || call.pointerEntered >= 0 ? 1 : 0;
        } else if (call.pointerEntered < 0 && text.startsWith("wl_pointer@") && text.contains(".enter(")) {
            if (std::any_of(covers.begin(), covers.end(),
                    [&](const Cover &each) { return text.contains(", " + each.surface.mid(3) + ", "); }))
                call.pointerEntered = at;
        } else if (!overlay.isEmpty() && call.firstFrame < 0) {
            if (text.startsWith(overlay + ".attach(wl_buffer@"))
                overlayAttached = true;
            else if (overlayAttached && text == overlay + ".commit()")
                call.firstFrame = at;
        }
    }
    call.covers = int(covers.size());
}

// Reads each call's steps from the service's log, each up to the next call's exec.
void readCalls(const QString &logPath, std::vector<LocateCall> &calls)
{
    const std::vector<WaylandLogLine> log = readWaylandLog(logPath);
    for (size_t i = 0; i < calls.size(); ++i) {
        if (i + 1 < calls.size())
            calls[i].untilMs = std::min(5000.0, double(qint32(calls[i + 1].monotonicMs - calls[i].monotonicMs)));
        readCall(log, calls[i]);
    }
}

// Layer surfaces of Glintor's two namespaces that the log shows made and never unmapped (the layer
// surface or its wl_surface destroyed, or a null buffer attached), and how many it made in all.
std::pair<int, int> surfacesLeftMapped(const std::vector<WaylandLogLine> &log)
{
    static const QRegularExpression made(QStringLiteral("get_layer_surface\\(new id (zwlr_layer_surface_v1@\\d+), "
                                                        "(wl_surface@\\d+), .*\"(glintor|glintor-pointer)\"\\)$"));
    int madeCount = 0;
    int left = 0;
    for (size_t i = 0; i < log.size(); ++i) {
        const QRegularExpressionMatch match = made.match(QString::fromLatin1(log[i].text));
        if (log[i].qt || !match.hasMatch())
            continue;
        ++madeCount;
        const QByteArray layer = "-> " + match.captured(1).toLatin1();
        const QByteArray surface = "-> " + match.captured(2).toLatin1();
        const auto unmapped = std::find_if(log.begin() + qint64(i) + 1, log.end(), [&](const WaylandLogLine &line) {
            return line.text == layer + ".destroy()" || line.text == surface + ".destroy()"
                || line.text.startsWith(surface + ".attach(nil");
        });
        if (unmapped == log.end())
            ++left;
    }
    return { left, madeCount };
}

struct WaylandRun {
    std::vector<LocateCall> calls;
    qint64 idleRss = -1, rss11 = -1, rssEnd = -1, peakRss = -1;
    double wakeupsPerSecond = 0, cpuPercent = 0;
    qint64 messagesAtRest = 0;
    int leftMapped = 0, surfacesMade = 0;
};

int countInFile(const QString &path, const QByteArray &text)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? int(file.readAll().count(text)) : 0;
}

// A call ends with its animation, or with the line that says the pointer was not found.
const QList<QByteArray> CallEnded { "Animation finished", "did not say where the pointer is" };

// Waits until the log holds the texts count times in all; the service writes to a file, so that a
// full pipe can never hold it up, and the timings come from the log's stamps, not from when this
// loop looks.
bool waitInFile(const QString &path, const QList<QByteArray> &texts, int count, int timeoutMs, const QProcess &service)
{
    const auto seen = [&] {
        int total = 0;
        for (const QByteArray &text : texts)
            total += countInFile(path, text);
        return total;
    };
    QDeadlineTimer deadline(timeoutMs);
    while (seen() < count) {
        if (deadline.hasExpired() || service.state() == QProcess::NotRunning)
            return false;
        QThread::msleep(10);
    }
    return true;
}

bool startWaylandService(QProcess &service, const QString &path, bool debugLog, const QString &logPath)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_MESSAGE_PATTERN"), QStringLiteral("qt[%{time boot}] %{message}"));
    if (debugLog)
        environment.insert(QStringLiteral("WAYLAND_DEBUG"), QStringLiteral("client"));
    else
        environment.remove(QStringLiteral("WAYLAND_DEBUG"));
    service.setProcessEnvironment(environment);
    service.setStandardOutputFile(QProcess::nullDevice());
    service.setStandardErrorFile(logPath);
    service.start(path, QStringList());
    if (!waitInFile(logPath, { "Settings loaded" }, 1, 20000, service)) {
        std::fprintf(stderr, "%s did not start on Wayland; its log: %s\n", qPrintable(path), qPrintable(logPath));
        return false;
    }
    // Its bus name is taken right after the overlay is built.
    QThread::sleep(2);
    return true;
}

// Runs glintor-locate once, calls meanwhile (if any) while it runs, and waits until the service's
// log shows the call ended: each call meets a service at rest.
bool locateOnce(const QString &logPath, const QProcess &service, int index, LocateCall &call,
    const std::function<bool(const QElapsedTimer &sinceExec)> &meanwhile = nullptr)
{
    static const QByteArray locate = QFile::encodeName(QCoreApplication::applicationDirPath() + "/glintor-locate");
    char *const arguments[] = { const_cast<char *>(locate.constData()), nullptr };
    QElapsedTimer sinceExec;
    sinceExec.start();
    call.monotonicMs = monotonicMilliseconds();
    call.wallUs = wallClockMicroseconds();
    pid_t command = -1;
    if (posix_spawn(&command, locate.constData(), nullptr, nullptr, arguments, environ) != 0)
        return false;
    const bool done = !meanwhile || meanwhile(sinceExec);
    int status = 0;
    if (::waitpid(command, &status, 0) != command || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || !done) {
        std::fprintf(stderr, "glintor-locate failed (call %d)\n", index + 1);
        return false;
    }
    if (!waitInFile(logPath, CallEnded, index + 1, 10000, service)) {
        std::fprintf(stderr, "call %d: nothing ended within 10 s; log: %s\n", index + 1, qPrintable(logPath));
        return false;
    }
    return true;
}

bool measureWaylandService(
    const QString &path, bool debugLog, int count, double restSeconds, const QString &logPath, WaylandRun &run)
{
    QProcess service;
    if (!startWaylandService(service, path, debugLog, logPath))
        return false;
    const qint64 pid = service.processId();
    run.idleRss = statusKb(pid, "VmRSS");
    for (int i = 0; i <= count; ++i) {
        LocateCall call;
        if (!locateOnce(logPath, service, i, call))
            return false;
        run.calls.push_back(call);
        if (i == 10)
            run.rss11 = statusKb(pid, "VmRSS");
        QThread::msleep(500);
    }

    QThread::sleep(2);
    const qint64 logBefore = QFileInfo(logPath).size();
    const qint64 linesBefore = countInFile(logPath, "\n");
    const qint64 cpu0 = cpuNanoseconds(pid);
    const qint64 wakeups0 = wakeups(pid);
    QElapsedTimer timer;
    timer.start();
    QThread::msleep(qint64(restSeconds * 1000));
    const double elapsed = timer.nsecsElapsed() / 1e9;
    run.wakeupsPerSecond = (wakeups(pid) - wakeups0) / elapsed;
    run.cpuPercent = (cpuNanoseconds(pid) - cpu0) / 1e9 / elapsed * 100;
    run.messagesAtRest = QFileInfo(logPath).size() > logBefore ? countInFile(logPath, "\n") - linesBefore : 0;
    run.rssEnd = statusKb(pid, "VmRSS");
    run.peakRss = statusKb(pid, "VmHWM");
    stopService(service);

    readCalls(logPath, run.calls);
    std::tie(run.leftMapped, run.surfacesMade) = surfacesLeftMapped(readWaylandLog(logPath));
    return true;
}

// The virtual pointer helper: one command, then its answer once the compositor has handled it.
bool pointerCommand(QProcess &pointer, const QByteArray &command)
{
    pointer.write(command + '\n');
    pointer.waitForBytesWritten(1000);
    return pointer.waitForReadyRead(10000) && pointer.readLine().trimmed() == "ok";
}

// Clicks the clickprobe window under the resting pointer at a random moment 0–80 ms after each
// glintor-locate's exec (a seeded generator: runs repeat), and records whether the window got the
// click; a service, the probe and the pointer helper all with WAYLAND_DEBUG=client, read afterwards.
bool measureClicks(const QString &servicePath, const QString &probePath, QProcess &pointer, const QString &pointerLog,
    const QPoint &at, int clicks, const QString &logDir, std::vector<LocateCall> &calls)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("WAYLAND_DEBUG"), QStringLiteral("client"));
    const QString probeLog = logDir + QStringLiteral("/clickprobe.log");
    QProcess probe;
    probe.setProcessEnvironment(environment);
    probe.setStandardErrorFile(probeLog);
    probe.start(probePath, QStringList());
    QDeadlineTimer shown(10000);
    while (!probe.canReadLine() && !shown.hasExpired() && probe.state() != QProcess::NotRunning)
        probe.waitForReadyRead(100);
    if (!probe.readLine().startsWith("shown ")) {
        std::fprintf(stderr, "%s did not show its window; its log: %s\n", qPrintable(probePath), qPrintable(probeLog));
        return false;
    }
    // A window mapped under a resting pointer learns of it at the pointer's next motion.
    const QByteArray move = QStringLiteral("move %1 %2").arg(at.x()).arg(at.y()).toLatin1();
    const QByteArray nudge = QStringLiteral("move %1 %2").arg(at.x() + 1).arg(at.y()).toLatin1();
    if (!pointerCommand(pointer, nudge) || !pointerCommand(pointer, move))
        return false;

    const QString logPath = logDir + QStringLiteral("/service-clicks.log");
    QProcess service;
    if (!startWaylandService(service, servicePath, true, logPath))
        return false;
    probe.readAll();
    QRandomGenerator random(20261207);
    for (int i = 0; i < clicks; ++i) {
        const qint64 delayNs = qint64(random.bounded(80001)) * 1000;
        LocateCall call;
        const bool ok = locateOnce(logPath, service, i, call, [&](const QElapsedTimer &sinceExec) {
            const qint64 wait = delayNs - sinceExec.nsecsElapsed();
            if (wait > 0) {
                const timespec pause { time_t(wait / 1000000000), long(wait % 1000000000) };
                ::nanosleep(&pause, nullptr);
            }
            return pointerCommand(pointer, "click");
        });
        if (!ok)
            return false;
        // The press reached the window, if at all, long before the animation ended.
        while (probe.waitForReadyRead(100)) { }
        while (probe.canReadLine())
            call.clickReached = probe.readLine().startsWith("press ") || call.clickReached;
        calls.push_back(call);
        QThread::msleep(500);
    }
    stopService(service);
    probe.terminate();
    probe.waitForFinished(3000);

    readCalls(logPath, calls);
    const std::vector<WaylandLogLine> sent = readWaylandLog(pointerLog);
    const std::vector<WaylandLogLine> received = readWaylandLog(probeLog);
    for (LocateCall &call : calls) {
        // BTN_LEFT (272) pressed: the helper's request, and the event in the window.
        call.clickSent = firstLine(sent, call, "-> zwlr_virtual_pointer_v1@", ", 272, 1)");
        call.clickReceived = firstLine(received, call, "wl_pointer@", ", 272, 1)");
        call.probeLeft = firstLine(received, call, "wl_pointer@", ".leave(");
        if (call.probeLeft >= 0)
            call.probeEntered = firstLine(received, call, "wl_pointer@", ".enter(", call.probeLeft);
    }
    return true;
}

// The outputs sway was given: count of them side by side, each size (logical pixels).
struct WaylandLayout {
    int count = 1;
    QSize size { 1920, 1080 };
    QString label() const
    {
        const QString one = QStringLiteral("%1×%2").arg(size.width()).arg(size.height());
        return count == 1 ? one : QStringLiteral("%1 × %2").arg(count).arg(one);
    }
};

int runWayland(const QString &servicePath, const QString &pointerHelper, const WaylandLayout &layout, int count,
    int runs, int plainRuns, double restSeconds, int clicks, const QString &probePath, const QString &logDir)
{
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        std::fprintf(stderr, "wayland needs a compositor (WAYLAND_DISPLAY) and a session bus\n");
        return 1;
    }
    writeSettings(Effects[1]);
    // The headless seat has a pointer only while a virtual one is connected; it rests at one place,
    // on the last output. Its requests, the clicks', go to a debug log.
    const QPoint at((layout.count - 1) * layout.size.width() + 700, 500);
    const QString pointerLog = logDir + QStringLiteral("/virtualpointer.log");
    QProcess pointer;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("WAYLAND_DEBUG"), QStringLiteral("client"));
    pointer.setProcessEnvironment(environment);
    pointer.setStandardErrorFile(pointerLog);
    pointer.start(pointerHelper,
        { QStringLiteral("--extent"), QString::number(layout.count * layout.size.width()),
            QString::number(layout.size.height()) });
    if (!pointer.waitForStarted(5000) || !pointer.waitForReadyRead(10000) || pointer.readLine().trimmed() != "ready") {
        std::fprintf(stderr, "the virtual pointer %s did not start; its log: %s\n", qPrintable(pointerHelper),
            qPrintable(pointerLog));
        return 1;
    }
    if (!pointerCommand(pointer, QStringLiteral("move %1 %2").arg(at.x()).arg(at.y()).toLatin1()))
        return 1;

    // Services with and without the debug log take turns, so the log's own cost shows beside them.
    std::vector<WaylandRun> traced, plain;
    for (int r = 0; r < std::max(runs, plainRuns); ++r) {
        for (const bool debugLog : { true, false }) {
            if (r >= (debugLog ? runs : plainRuns))
                continue;
            WaylandRun run;
            const QString logPath
                = QStringLiteral("%1/service-%2-%3.log").arg(logDir).arg(r + 1).arg(debugLog ? "debug" : "plain");
            if (!measureWaylandService(servicePath, debugLog, count, restSeconds, logPath, run))
                return 1;
            (debugLog ? traced : plain).push_back(run);
        }
    }
    std::vector<LocateCall> clicked;
    if (clicks > 0 && !measureClicks(servicePath, probePath, pointer, pointerLog, at, clicks, logDir, clicked))
        return 1;
    pointer.write("quit\n");
    pointer.waitForFinished(3000);

    // Figures over all services: the first calls, and the warm ones.
    const auto collect = [](const std::vector<WaylandRun> &set, double LocateCall::*field, bool first) {
        std::vector<double> values;
        for (const WaylandRun &run : set) {
            for (size_t i = first ? 0 : 1; i < (first ? 1 : run.calls.size()); ++i) {
                if (run.calls[i].*field >= 0)
                    values.push_back(run.calls[i].*field);
            }
        }
        return values;
    };
    const auto steps = [&](double LocateCall::*field, double LocateCall::*from, bool first) {
        std::vector<double> values;
        for (const WaylandRun &run : traced) {
            for (size_t i = first ? 0 : 1; i < (first ? 1 : run.calls.size()); ++i) {
                const LocateCall &call = run.calls[i];
                if (call.*field >= 0 && (from == nullptr || call.*from >= 0))
                    values.push_back(call.*field - (from ? call.*from : 0.0));
            }
        }
        return values;
    };
    const QString calls = QStringLiteral("%1 × %2").arg(runs).arg(count);

    out(QStringLiteral("### glintor-locate's exec → the first ring frame committed (WAYLAND_DEBUG=client log)"));
    out(QString());
    out(QStringLiteral("| screen | first call after start | warm calls (services × calls) | warm, median / worst |"));
    out(QStringLiteral("|---|---|---|---|"));
    out(QStringLiteral("| %1 | %2 | %3 | %4 |")
            .arg(layout.label(), msOrNone(collect(traced, &LocateCall::firstFrame, true)), calls,
                msOrNone(collect(traced, &LocateCall::firstFrame, false), true)));
    out(QString());
    out(QStringLiteral("### Where the milliseconds go (medians, from the same log)"));
    out(QString());
    out(QStringLiteral("| step | first call | warm calls |"));
    out(QStringLiteral("|---|---|---|"));
    struct Step {
        const char *name;
        double LocateCall::*field;
        double LocateCall::*from;
    };
    const Step table[] = {
        { "exec → the finding surfaces asked for (glintor-locate, the bus call)", &LocateCall::finderMapped, nullptr },
        { "→ the first of them mapped (its commit after the attach of its buffer)", &LocateCall::finderShown,
            &LocateCall::finderMapped },
        { "→ wl_pointer.enter received", &LocateCall::pointerEntered, &LocateCall::finderShown },
        { "→ the overlay's layer surface asked for", &LocateCall::overlayMapped, &LocateCall::pointerEntered },
        { "→ its first frame committed", &LocateCall::firstFrame, &LocateCall::overlayMapped },
    };
    for (const Step &step : table)
        out(QStringLiteral("| %1 | %2 | %3 |")
                .arg(QString::fromUtf8(step.name), msOrNone(steps(step.field, step.from, true)),
                    msOrNone(steps(step.field, step.from, false))));
    out(QString());

    // Every call of the services with the debug log, the first ones too.
    std::vector<double> mapped;
    int locates = 0, played = 0, covers = 0, beforeDone = 0, syncsSeen = 0;
    for (const WaylandRun &run : traced) {
        for (const LocateCall &call : run.calls) {
            ++locates;
            played += call.animationStarted >= 0;
            covers = std::max(covers, call.covers);
            if (call.finderShown >= 0 && call.finderGone >= 0)
                mapped.push_back(call.finderGone - call.finderShown);
            syncsSeen += call.enterBeforeSyncDone >= 0;
            beforeDone += call.enterBeforeSyncDone == 1;
        }
    }
    out(QStringLiteral("### The finding surfaces: mapped from the commit after their buffer's attach to their destroy "
                       "(all calls, the same log)"));
    out(QString());
    out(QStringLiteral(
        "| screen | locates | animations played | finding surfaces per locate | mapped, median / worst | "
        "the enter before the sync's done |"));
    out(QStringLiteral("|---|---|---|---|---|---|"));
    out(QStringLiteral("| %1 | %2 | %3 of %2 | %4 | %5 | %6 of %7 |")
            .arg(layout.label())
            .arg(locates)
            .arg(played)
            .arg(covers)
            .arg(msOrNone(mapped, true))
            .arg(beforeDone)
            .arg(syncsSeen));

    if (!plain.empty()) {
        out(QString());
        out(QStringLiteral(
            "### The debug log's own cost: exec → \"Animation started\" (Qt's monotonic stamp, 1 ms steps)"));
        out(QString());
        out(QStringLiteral("| service's log | services | first call | warm calls, median / worst |"));
        out(QStringLiteral("|---|---|---|---|"));
        for (const bool debugLog : { true, false }) {
            const std::vector<WaylandRun> &set = debugLog ? traced : plain;
            out(QStringLiteral("| %1 | %2 | %3 | %4 |")
                    .arg(debugLog ? QStringLiteral("WAYLAND_DEBUG=client") : QStringLiteral("none"))
                    .arg(set.size())
                    .arg(msOrNone(collect(set, &LocateCall::animationStarted, true)),
                        msOrNone(collect(set, &LocateCall::animationStarted, false), true)));
        }
        out(QString());
        out(QStringLiteral("### At rest after the animations, and memory (services without the debug log; surfaces "
                           "and messages from the debug log)"));
        out(QString());
        out(QStringLiteral(
            "| Glintor layer surfaces left mapped | log lines at rest (debug log) | wakeups/s | CPU | RSS "
            "idle | RSS after 11 animations | RSS after %1 | peak RSS |")
                .arg(count + 1));
        out(QStringLiteral("|---|---|---|---|---|---|---|---|"));
        std::vector<double> wake, cpu, idle, rss11, rssEnd, peak;
        for (const WaylandRun &run : plain) {
            wake.push_back(run.wakeupsPerSecond);
            cpu.push_back(run.cpuPercent);
            idle.push_back(run.idleRss);
            rss11.push_back(run.rss11);
            rssEnd.push_back(run.rssEnd);
            peak.push_back(run.peakRss);
        }
        int left = 0, made = 0;
        qint64 messages = 0;
        for (const WaylandRun &run : traced) {
            left += run.leftMapped;
            made += run.surfacesMade;
            messages += run.messagesAtRest;
        }
        out(QStringLiteral("| %1 of %2 | %3 in %4 × %5 s | %6 | %7 % | %8 | %9 | %10 | %11 |")
                .arg(left)
                .arg(made)
                .arg(messages)
                .arg(traced.size())
                .arg(restSeconds)
                .arg(QString::number(median(wake), 'f', 2))
                .arg(QString::number(median(cpu), 'f', 3))
                .arg(megabytesOfKb(qint64(median(idle))))
                .arg(count >= 10 ? megabytesOfKb(qint64(median(rss11))) : QStringLiteral("–"))
                .arg(megabytesOfKb(qint64(median(rssEnd))))
                .arg(megabytesOfKb(qint64(median(peak)))));
    }

    if (clicked.empty())
        return 0;
    // A click is sent "while" something in the stamps of the processes that send and see it: the
    // compositor's own order may differ by a fraction of a millisecond.
    const auto within = [](double moment, double from, double to) {
        return moment >= 0 && from >= 0 && moment >= from && (to < 0 || moment <= to);
    };
    int reached = 0, whileMapped = 0, lostWhileMapped = 0, whileAway = 0, lostWhileAway = 0;
    std::vector<double> delivery, away;
    QStringList lost;
    for (const LocateCall &call : clicked) {
        reached += call.clickReached;
        const bool mappedThen = within(call.clickSent, call.finderShown, call.finderGone);
        const bool awayThen = within(call.clickSent, call.probeLeft, call.probeEntered);
        whileMapped += mappedThen;
        lostWhileMapped += mappedThen && !call.clickReached;
        whileAway += awayThen;
        lostWhileAway += awayThen && !call.clickReached;
        if (call.clickReached && call.clickSent >= 0 && call.clickReceived >= 0)
            delivery.push_back(call.clickReceived - call.clickSent);
        if (call.probeLeft >= 0 && call.probeEntered >= 0)
            away.push_back(call.probeEntered - call.probeLeft);
        if (!call.clickReached)
            lost << QStringLiteral("%1 (%2–%3; %4–%5)")
                        .arg(call.clickSent, 0, 'f', 2)
                        .arg(call.finderShown, 0, 'f', 2)
                        .arg(call.finderGone, 0, 'f', 2)
                        .arg(call.probeLeft, 0, 'f', 2)
                        .arg(call.probeEntered, 0, 'f', 2);
    }
    out(QString());
    out(QStringLiteral("### Clicks on a window under the pointer, each at a random moment 0–80 ms after a "
                       "glintor-locate's exec (service, window and pointer with WAYLAND_DEBUG=client)"));
    out(QString());
    out(QStringLiteral("| screen | clicks | reached the window | lost | sent while the finding surfaces were mapped "
                       "(lost of them) | sent between the window's leave and enter (lost of them) | press request → "
                       "the window's button event, median / worst | the window's leave → enter, median / worst "
                       "(locates with a leave) |"));
    out(QStringLiteral("|---|---|---|---|---|---|---|---|"));
    out(QStringLiteral("| %1 | %2 | %3 | %4 | %5 (%6) | %7 (%8) | %9 | %10 (%11) |")
            .arg(layout.label())
            .arg(clicked.size())
            .arg(reached)
            .arg(int(clicked.size()) - reached)
            .arg(whileMapped)
            .arg(lostWhileMapped)
            .arg(whileAway)
            .arg(lostWhileAway)
            .arg(msOrNone(delivery, true), msOrNone(away, true))
            .arg(away.size()));
    if (!lost.isEmpty()) {
        out(QString());
        out(QStringLiteral("Lost clicks, ms after the exec: press sent (finding surfaces mapped–destroyed; the "
                           "window's leave–enter): ")
            + lost.join(QStringLiteral(", ")));
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    // Settings of this run only, never the user's.
    QTemporaryDir configHome;
    if (!configHome.isValid())
        return 1;
    if (!qEnvironmentVariableIsSet("GLINTOR_BENCH_KEEP_CONFIG"))
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome.path()));
    // The overlay's own log lines would drown the figures.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &message) {
        if (type != QtDebugMsg && type != QtInfoMsg
            && !message.startsWith(QLatin1String("This plugin does not support")))
            std::fprintf(stderr, "%s\n", qPrintable(message));
    });

    // As glintor-service does, so that the in-process figures are the service's: without OpenGL.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION")) {
        qputenv("QT_XCB_GL_INTEGRATION", "none");
        g_glIntegrationSetHere = true;
    }
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    // The Wayland mode drives programs on a compositor and opens no window itself: no display needed.
    std::unique_ptr<QCoreApplication> application;
    if (mode == QLatin1String("wayland"))
        application = std::make_unique<QCoreApplication>(argc, argv);
    else
        application = std::make_unique<QApplication>(argc, argv);
    QCoreApplication &app = *application;
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("mode"),
        QStringLiteral("regions, paint, cpu, latency, keypress, locate, startup, idle or wayland"));
    const QCommandLineOption effect(
        QStringLiteral("effect"), QStringLiteral("Effect and colour."), QStringLiteral("name"));
    const QCommandLineOption repeat(
        QStringLiteral("repeat"), QStringLiteral("Animations to render."), QStringLiteral("n"), QStringLiteral("20"));
    const QCommandLineOption count(
        QStringLiteral("count"), QStringLiteral("Animations to measure."), QStringLiteral("n"), QStringLiteral("11"));
    const QCommandLineOption runs(
        QStringLiteral("runs"), QStringLiteral("Service starts."), QStringLiteral("n"), QStringLiteral("11"));
    const QCommandLineOption pid(QStringLiteral("pid"), QStringLiteral("Service process."), QStringLiteral("pid"));
    const QCommandLineOption xserver(
        QStringLiteral("xserver"), QStringLiteral("X server process."), QStringLiteral("pid"));
    const QCommandLineOption compositor(
        QStringLiteral("compositor"), QStringLiteral("Compositor process."), QStringLiteral("pid"));
    const QCommandLineOption seconds(
        QStringLiteral("seconds"), QStringLiteral("Idle time."), QStringLiteral("s"), QStringLiteral("60"));
    const QCommandLineOption label(QStringLiteral("label"), QStringLiteral("Row label."), QStringLiteral("text"));
    const QCommandLineOption service(QStringLiteral("service"),
        QStringLiteral("A glintor-service to run, as PATH or LABEL=PATH; may be given several times."),
        QStringLiteral("path"));
    const QCommandLineOption pointerHelper(QStringLiteral("pointer-helper"),
        QStringLiteral("The virtual pointer program (wayland)."), QStringLiteral("path"));
    const QCommandLineOption logDir(QStringLiteral("log-dir"), QStringLiteral("Where the services' logs go (wayland)."),
        QStringLiteral("dir"), QDir::tempPath());
    const QCommandLineOption outputs(QStringLiteral("outputs"),
        QStringLiteral("Outputs side by side from the origin, as sway has them (wayland)."), QStringLiteral("n"),
        QStringLiteral("1"));
    const QCommandLineOption outputSize(QStringLiteral("output-size"), QStringLiteral("Each output's size (wayland)."),
        QStringLiteral("WxH"), QStringLiteral("1920x1080"));
    const QCommandLineOption plainRuns(QStringLiteral("plain-runs"),
        QStringLiteral("Services without the debug log (wayland; default: --runs)."), QStringLiteral("n"));
    const QCommandLineOption clicks(QStringLiteral("clicks"),
        QStringLiteral("Clicks on a window below during glintor-locate calls (wayland)."), QStringLiteral("n"),
        QStringLiteral("0"));
    const QCommandLineOption clickProbe(QStringLiteral("click-probe"),
        QStringLiteral("The window program that reports its clicks (wayland)."), QStringLiteral("path"));
    parser.addOptions({ effect, repeat, count, runs, pid, xserver, compositor, seconds, label, service, pointerHelper,
        logDir, outputs, outputSize, plainRuns, clicks, clickProbe });
    parser.addHelpOption();
    parser.process(app);

    if (mode == QLatin1String("regions"))
        return runRegions();
    if (mode == QLatin1String("paint") || mode == QLatin1String("cpu")) {
        const Effect *chosen = findEffect(parser.value(effect));
        if (!chosen) {
            std::fprintf(
                stderr, "unknown effect; one of: ring, white | ring, red | ring, rainbow | fireworks | stars\n");
            return 2;
        }
        if (mode == QLatin1String("paint"))
            return runPaint(*chosen, parser.value(repeat).toInt());
        return runCpu(*chosen, parser.value(count).toInt(), parser.value(xserver).toLongLong(),
            parser.value(compositor).toLongLong());
    }
    if (mode == QLatin1String("latency"))
        return runLatency(parser.value(count).toInt());
    if (mode == QLatin1String("keypress"))
        return runKeypress(
            serviceBuilds(parser.values(service)), parser.value(count).toInt(), parser.value(runs).toInt());
    if (mode == QLatin1String("locate"))
        return runLocate(
            serviceBuilds(parser.values(service)), parser.value(count).toInt(), parser.value(runs).toInt());
    if (mode == QLatin1String("startup"))
        return runStartup(serviceBuilds(parser.values(service)), parser.value(runs).toInt());
    if (mode == QLatin1String("idle"))
        return runIdle(parser.value(pid).toLongLong(), parser.value(xserver).toLongLong(),
            parser.value(seconds).toDouble(), parser.value(label));
    if (mode == QLatin1String("wayland")) {
        const auto besideThis = [&](const QCommandLineOption &option, const char *program) {
            return parser.isSet(option) ? parser.value(option)
                                        : QCoreApplication::applicationDirPath() + QLatin1Char('/') + program;
        };
        const QStringList size = parser.value(outputSize).split(QLatin1Char('x'));
        WaylandLayout layout;
        layout.count = std::max(1, parser.value(outputs).toInt());
        if (size.size() == 2)
            layout.size = QSize(size[0].toInt(), size[1].toInt());
        return runWayland(serviceBuilds(parser.values(service)).front().path,
            besideThis(pointerHelper, "virtualpointer"), layout, parser.value(count).toInt(),
            parser.value(runs).toInt(), parser.value(parser.isSet(plainRuns) ? plainRuns : runs).toInt(),
            parser.value(seconds).toDouble(), parser.value(clicks).toInt(), besideThis(clickProbe, "clickprobe"),
            parser.value(logDir));
    }
    parser.showHelp(2);
}
