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
//                                          glintor-service as a Wayland client (WAYLAND_DISPLAY, a
//                                          session bus): glintor-locate's exec to the first ring
//                                          frame committed, read from WAYLAND_DEBUG=client logs, the
//                                          log's own cost, surfaces left mapped, wakeups and RSS
//
// The overlay is the real Glintor with its real painting. --service names the glintor-service to
// run (default: the one beside this program); given several times, e.g. an older build's as
// before=PATH, the builds take turns run by run and each gets its own row.

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

namespace {

struct Effect {
    const char *name;
    int animationEffect; // the setting
    int colorMode;
};

const std::vector<Effect> Effects { { "ring, white", 1, 0 }, { "ring, red", 1, 1 }, { "ring, rainbow", 1, 2 },
    { "fireworks", 2, 1 }, { "stars", 3, 1 } };

void out(const QString &line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

template <typename T> T median(std::vector<T> values)
{
    if (values.empty())
        return T();
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

template <typename T> T worst(const std::vector<T> &values)
{
    return values.empty() ? T() : *std::max_element(values.begin(), values.end());
}

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / 1e6, 'f', bytes < 10000000 ? 2 : 1) + QStringLiteral(" MB");
}

QString ms(double milliseconds)
{
    return QString::number(milliseconds, 'f', milliseconds < 10 ? 2 : 1) + QStringLiteral(" ms");
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

qint64 cpuNanoseconds(qint64 pid)
{
    if (pid <= 0)
        return 0;
    qint64 total = 0;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(tasks.filePath(task + QStringLiteral("/schedstat")));
        if (file.open(QIODevice::ReadOnly))
            total += file.readAll().split(' ').value(0).toLongLong();
    }
    return total;
}

qint64 wakeups(qint64 pid)
{
    qint64 total = 0;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(tasks.filePath(task + QStringLiteral("/schedstat")));
        if (file.open(QIODevice::ReadOnly))
            total += file.readAll().trimmed().split(' ').value(2).toLongLong();
    }
    return total;
}

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

qint64 statusKb(qint64 pid, const char *field)
{
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

QString megabytesOfKb(qint64 kb)
{
    return QString::number(kb / 1024.0, 'f', 1) + QStringLiteral(" MB");
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

// One glintor-locate call: when it was started, in both clocks, and what the log tells about it (ms
// after the exec; -1 when the log has no such line).
struct LocateCall {
    quint32 wallUs = 0;
    quint32 monotonicMs = 0;
    double finderMapped = -1; // the first "glintor-pointer" layer surface asked for: the call arrived
    double pointerEntered = -1; // wl_pointer.enter
    double overlayMapped = -1; // the "glintor" layer surface asked for
    double firstFrame = -1; // its first commit with a buffer attached
    double animationStarted = -1; // Qt's "Animation started" line
};

// Searches the log for the steps of one call, in order, within 5 s of its exec.
void readCall(const std::vector<WaylandLogLine> &log, LocateCall &call)
{
    const auto since = [&](const WaylandLogLine &line) {
        return line.qt ? double(qint32(line.stamp - call.monotonicMs))
                       : double(qint32(line.stamp - call.wallUs)) / 1000.0;
    };
    static const QRegularExpression overlaySurface(
        QStringLiteral("get_layer_surface\\(new id zwlr_layer_surface_v1@\\d+, wl_surface@(\\d+), .*\"glintor\"\\)$"));
    enum { Finder, Enter, Overlay, Attach, Commit, Done } step = Finder;
    QByteArray surface;
    for (const WaylandLogLine &line : log) {
        const double at = since(line);
        if (at < 0 || at > 5000)
            continue;
        if (line.qt) {
            if (call.animationStarted < 0 && line.text.startsWith("Animation started"))
                call.animationStarted = at;
            continue;
        }
        if (step == Finder && line.text.contains("get_layer_surface(") && line.text.endsWith("\"glintor-pointer\")")) {
            call.finderMapped = at;
            step = Enter;
        } else if (step == Enter && line.text.startsWith("wl_pointer@") && line.text.contains(".enter(")) {
            call.pointerEntered = at;
            step = Overlay;
        } else if (step == Overlay) {
            const QRegularExpressionMatch match = overlaySurface.match(QString::fromLatin1(line.text));
            if (match.hasMatch()) {
                surface = "wl_surface@" + match.captured(1).toLatin1();
                call.overlayMapped = at;
                step = Attach;
            }
        } else if (step == Attach && line.text.startsWith("-> " + surface + ".attach(wl_buffer@")) {
            step = Commit;
        } else if (step == Commit && line.text == "-> " + surface + ".commit()") {
            call.firstFrame = at;
            step = Done;
        }
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

// Waits until the log holds text count times; the service writes to a file, so that a full pipe can
// never hold it up, and the timings come from the log's stamps, not from when this loop looks.
bool waitInFile(const QString &path, const QByteArray &text, int count, int timeoutMs, const QProcess &service)
{
    QDeadlineTimer deadline(timeoutMs);
    while (countInFile(path, text) < count) {
        if (deadline.hasExpired() || service.state() == QProcess::NotRunning)
            return false;
        QThread::msleep(10);
    }
    return true;
}

bool measureWaylandService(
    const QString &path, bool debugLog, int count, double restSeconds, const QString &logPath, WaylandRun &run)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_MESSAGE_PATTERN"), QStringLiteral("qt[%{time boot}] %{message}"));
    if (debugLog)
        environment.insert(QStringLiteral("WAYLAND_DEBUG"), QStringLiteral("client"));
    else
        environment.remove(QStringLiteral("WAYLAND_DEBUG"));
    QProcess service;
    service.setProcessEnvironment(environment);
    service.setStandardOutputFile(QProcess::nullDevice());
    service.setStandardErrorFile(logPath);
    service.start(path, QStringList());
    if (!waitInFile(logPath, "Settings loaded", 1, 20000, service)) {
        std::fprintf(stderr, "%s did not start on Wayland; its log: %s\n", qPrintable(path), qPrintable(logPath));
        return false;
    }
    // Its bus name is taken right after the overlay is built.
    QThread::sleep(2);
    const qint64 pid = service.processId();
    run.idleRss = statusKb(pid, "VmRSS");

    static const QByteArray locate = QFile::encodeName(QCoreApplication::applicationDirPath() + "/glintor-locate");
    char *const arguments[] = { const_cast<char *>(locate.constData()), nullptr };
    for (int i = 0; i <= count; ++i) {
        LocateCall call;
        call.monotonicMs = monotonicMilliseconds();
        call.wallUs = wallClockMicroseconds();
        pid_t command = -1;
        if (posix_spawn(&command, locate.constData(), nullptr, nullptr, arguments, environ) != 0)
            return false;
        int status = 0;
        if (::waitpid(command, &status, 0) != command || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "glintor-locate failed (call %d)\n", i + 1);
            return false;
        }
        // Each call meets a service at rest: the animation before it has ended.
        if (!waitInFile(logPath, "Animation finished", i + 1, 10000, service)) {
            std::fprintf(stderr, "call %d: no animation ended within 10 s; log: %s\n", i + 1, qPrintable(logPath));
            return false;
        }
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

    const std::vector<WaylandLogLine> log = readWaylandLog(logPath);
    for (LocateCall &call : run.calls)
        readCall(log, call);
    std::tie(run.leftMapped, run.surfacesMade) = surfacesLeftMapped(log);
    return true;
}

QString msOrNone(const std::vector<double> &values, bool worstToo = false)
{
    if (values.empty())
        return QStringLiteral("–");
    return worstToo ? ms(median(values)) + QStringLiteral(" / ") + ms(worst(values)) : ms(median(values));
}

int runWayland(const QString &servicePath, const QString &pointerHelper, int count, int runs, double restSeconds,
    const QString &logDir)
{
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        std::fprintf(stderr, "wayland needs a compositor (WAYLAND_DISPLAY) and a session bus\n");
        return 1;
    }
    writeSettings(Effects[1]);
    // The headless seat has a pointer only while a virtual one is connected; it rests at one place.
    QProcess pointer;
    pointer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    pointer.start(pointerHelper, { QStringLiteral("--extent"), QStringLiteral("1920"), QStringLiteral("1080") });
    const auto answered = [&pointer](const QByteArray &expected) {
        return pointer.waitForReadyRead(10000) && pointer.readLine().trimmed() == expected;
    };
    if (!pointer.waitForStarted(5000) || !answered("ready")) {
        std::fprintf(stderr, "the virtual pointer %s did not start\n", qPrintable(pointerHelper));
        return 1;
    }
    pointer.write("move 700 500\n");
    if (!answered("ok"))
        return 1;

    // Services with and without the debug log take turns, so the log's own cost shows beside them.
    std::vector<WaylandRun> traced, plain;
    for (int r = 0; r < runs; ++r) {
        for (const bool debugLog : { true, false }) {
            WaylandRun run;
            const QString logPath
                = QStringLiteral("%1/service-%2-%3.log").arg(logDir).arg(r + 1).arg(debugLog ? "debug" : "plain");
            if (!measureWaylandService(servicePath, debugLog, count, restSeconds, logPath, run))
                return 1;
            (debugLog ? traced : plain).push_back(run);
        }
    }
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
    out(QStringLiteral("| 1920×1080 | %1 | %2 | %3 |")
            .arg(msOrNone(collect(traced, &LocateCall::firstFrame, true)), calls,
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
        { "exec → the pointer-finding surface asked for (glintor-locate, the bus call)", &LocateCall::finderMapped,
            nullptr },
        { "→ wl_pointer.enter received", &LocateCall::pointerEntered, &LocateCall::finderMapped },
        { "→ the overlay's layer surface asked for", &LocateCall::overlayMapped, &LocateCall::pointerEntered },
        { "→ its first frame committed", &LocateCall::firstFrame, &LocateCall::overlayMapped },
    };
    for (const Step &step : table)
        out(QStringLiteral("| %1 | %2 | %3 |")
                .arg(QString::fromUtf8(step.name), msOrNone(steps(step.field, step.from, true)),
                    msOrNone(steps(step.field, step.from, false))));
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
    out(QStringLiteral("### At rest after the animations, and memory (services without the debug log; surfaces and "
                       "messages from the debug log)"));
    out(QString());
    out(QStringLiteral("| Glintor layer surfaces left mapped | log lines at rest (debug log) | wakeups/s | CPU | RSS idle | "
                       "RSS after 11 animations | RSS after %1 | peak RSS |")
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
    parser.addOptions(
        { effect, repeat, count, runs, pid, xserver, compositor, seconds, label, service, pointerHelper, logDir });
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
    if (mode == QLatin1String("wayland"))
        return runWayland(serviceBuilds(parser.values(service)).front().path,
            parser.isSet(pointerHelper) ? parser.value(pointerHelper)
                                        : QCoreApplication::applicationDirPath() + QStringLiteral("/virtualpointer"),
            parser.value(count).toInt(), parser.value(runs).toInt(), parser.value(seconds).toDouble(),
            parser.value(logDir));
    parser.showHelp(2);
}
