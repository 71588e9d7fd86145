// glintor-gnome-bench: glintor-service on GNOME's Wayland session beside plain X11, for the gnome section
// of scripts/bench. Not a test: it asserts nothing and prints figures as Markdown tables.
//
//   glintor-gnome-bench [--count N] [--seconds S]
//
// Two desktops at 1920×1080, both up at once and measured turn about: the tests' headless GNOME Shell
// with Glintor's extension as built (GNOME 42-44 flavour) and a full-screen native Wayland window under
// the pointer, where the service is an X11 client of the Shell's Xwayland; and a private Xvfb with
// xcompmgr and a private session bus. On each: Ctrl+Alt+M (the Shell's virtual keyboard there, XTEST
// here) and glintor-locate, N times each after a first animation, every trigger once the animation
// before it has ended; the service's RSS idle and after 11 animations; its wakeups at rest over S
// seconds; GNOME Shell's CPU over S seconds at rest with the extension enabled, then disabled, and its
// XWayland's RSS and CPU over the first of them.
// Then 100 clicks on GNOME with the pointer still, each at a moment 0-500 ms into the rings of a
// glintor-locate (a seeded draw, so that runs repeat), and those the window below did not get; and
// 100 more, each just after the Shell laid out its stage again (which any panel or window that
// changes size makes it do), when it picks anew what the resting pointer is over.
//
// A trigger's first ring frame is the first XDamage event on the service's overlay window that this
// program, a client of the same X server, receives, timed on its monotonic clock from the moment the
// trigger was sent: the same on both desktops, and it needs no screen pixels (the root window of
// Xwayland does not show what mutter composites).

#include "benchfigures.h"
#include "gnomeshell.h"
#include "serviceprocess.h"
#include "sessionbus.h"
#include "waylandserver.h"
#include "xserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusInterface>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xdamage.h>
#include <X11/keysym.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace BenchFigures;

namespace {

using Clock = std::chrono::steady_clock;

constexpr QPoint Pointer(960, 540);
const QString StartedLine = QStringLiteral("Animation started");

double msBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// Watches an X server, on a thread and a connection of its own, for the service's overlay window: a
// square override-redirect window made after the watch began. Every event is stamped as it is read.
class OverlayWatch final {
public:
    struct Frame {
        bool damaged = false;
        Clock::time_point mappedAt, damagedAt;
    };

    explicit OverlayWatch(const QString &displayName)
        : display(XOpenDisplay(QFile::encodeName(displayName).constData()))
    {
        int error = 0;
        if (!display || !XDamageQueryExtension(display, &damageEvent, &error) || ::pipe(wake) != 0) {
            std::fprintf(stderr, "no XDamage on %s\n", qPrintable(displayName));
            return;
        }
        XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
        XSync(display, False);
        thread = std::thread([this] { run(); });
    }
    ~OverlayWatch()
    {
        if (thread.joinable()) {
            const char stop = 0;
            (void)!::write(wake[1], &stop, 1);
            thread.join();
            ::close(wake[0]);
            ::close(wake[1]);
        }
        if (display)
            XCloseDisplay(display);
    }
    OverlayWatch(const OverlayWatch &) = delete;
    OverlayWatch &operator=(const OverlayWatch &) = delete;

    bool isOpen() const { return thread.joinable(); }

    // What is seen from now on belongs to the trigger about to be sent.
    void arm()
    {
        const std::lock_guard<std::mutex> lock(mutex);
        frame = Frame();
        armed = true;
        unmapsAtArm = unmaps;
    }
    Frame waitForFrame(int timeoutMs)
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return frame.damaged; });
        armed = false;
        return frame;
    }
    // The animation has ended once the window is unmapped again.
    bool waitForUnmap(int timeoutMs)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return unmaps > unmapsAtArm; });
    }

private:
    void run()
    {
        for (;;) {
            while (XPending(display)) {
                XEvent event;
                XNextEvent(display, &event);
                handle(event, Clock::now());
            }
            pollfd fds[] = { { ConnectionNumber(display), POLLIN, 0 }, { wake[0], POLLIN, 0 } };
            if (::poll(fds, 2, -1) < 0 && errno != EINTR)
                return;
            if (fds[1].revents)
                return;
        }
    }

    void handle(const XEvent &event, Clock::time_point now)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (event.type == CreateNotify) {
            const XCreateWindowEvent &created = event.xcreatewindow;
            if (overlay == None && created.override_redirect && created.width == created.height
                && created.width >= 100) {
                overlay = created.window;
                damage = XDamageCreate(display, overlay, XDamageReportNonEmpty);
            }
        } else if (event.type == DestroyNotify && event.xdestroywindow.window == overlay) {
            overlay = None; // its damage went with it
        } else if (event.type == MapNotify && event.xmap.window == overlay) {
            if (armed)
                frame.mappedAt = now;
        } else if (event.type == UnmapNotify && event.xunmap.window == overlay) {
            ++unmaps;
            changed.notify_all();
        } else if (event.type == damageEvent + XDamageNotify
            && reinterpret_cast<const XDamageNotifyEvent &>(event).drawable == overlay) {
            // Emptied, so that the next drawing is reported again.
            XDamageSubtract(display, damage, None, None);
            XFlush(display);
            if (armed && !frame.damaged) {
                frame.damaged = true;
                frame.damagedAt = now;
                changed.notify_all();
            }
        }
    }

    Display *display;
    int damageEvent = 0;
    int wake[2] = { -1, -1 };
    std::thread thread;
    std::mutex mutex;
    std::condition_variable changed;
    Window overlay = None;
    Damage damage = None;
    bool armed = false;
    Frame frame;
    int unmaps = 0;
    int unmapsAtArm = 0;
};

enum Trigger { Hotkey, Locate };

// One desktop with the service on it, and its figures.
struct Side {
    QString name;
    QProcessEnvironment environment;
    std::unique_ptr<OverlayWatch> watch;
    std::unique_ptr<ProgramRun> service;
    std::function<bool()> pressHotkey;
    // Per trigger, ms after it was sent: the first damage, the overlay mapped, the service's log line.
    std::vector<double> frame[2], mapped[2], logged[2];
    int animations = 0;
    qint64 rssIdle = -1, rss11 = -1;
};

// The monotonic stamp QT_MESSAGE_PATTERN puts on the service's newest "Animation started" line, in
// ms; -1 without one.
double startedStamp(ProgramRun &service)
{
    static const QRegularExpression stamp(QStringLiteral("^qt\\[\\s*(\\d+)\\.(\\d+)\\]"));
    const QStringList lines = service.linesContaining(StartedLine);
    const QRegularExpressionMatch match = stamp.match(lines.value(lines.size() - 1));
    return match.hasMatch() ? match.captured(1).toDouble() * 1000 + match.captured(2).toDouble() : -1;
}

bool startService(Side &side, const QString &readyLine)
{
    QProcessEnvironment environment = side.environment;
    environment.insert(QStringLiteral("QT_MESSAGE_PATTERN"), QStringLiteral("qt[%{time boot}] %{message}"));
    side.service
        = std::make_unique<ProgramRun>(builtProgram(QStringLiteral("glintor-service")), QStringList(), environment);
    if (side.service->waitForLine(readyLine, 20000).isEmpty()) {
        std::fprintf(stderr, "glintor-service on %s was not ready:\n%s\n", qPrintable(side.name),
            qPrintable(side.service->lines().join(QLatin1Char('\n'))));
        return false;
    }
    // The hotkey is grabbed and the bus name taken just after.
    QThread::sleep(2);
    side.rssIdle = statusKb(side.service->pid(), "VmRSS");
    return true;
}

// Sends one trigger, waits for its first frame and for the animation's end; counted ones go into the
// figures. A trigger that draws nothing is a figure too ("drawn n of m"), said with its reason; false only
// when the rig itself failed: the trigger could not be sent, or an animation never ended.
bool measure(Side &side, Trigger trigger, bool counted)
{
    static const QByteArray locate = QFile::encodeName(builtProgram(QStringLiteral("glintor-locate")));
    std::vector<QByteArray> variables;
    for (const QString &variable : side.environment.toStringList())
        variables.push_back(QFile::encodeName(variable));
    std::vector<char *> environment;
    for (QByteArray &variable : variables)
        environment.push_back(variable.data());
    environment.push_back(nullptr);
    char *const arguments[] = { const_cast<char *>(locate.constData()), nullptr };
    QCoreApplication::processEvents();
    const int startedBefore = side.service->linesContaining(StartedLine).size();

    side.watch->arm();
    const Clock::time_point sent = Clock::now();
    pid_t command = -1;
    const char *what = trigger == Hotkey ? "Ctrl+Alt+M" : "glintor-locate";
    const bool sentOk = trigger == Hotkey
        ? side.pressHotkey()
        : posix_spawn(&command, locate.constData(), nullptr, nullptr, arguments, environment.data()) == 0;
    if (!sentOk) {
        std::fprintf(stderr, "%s on %s: the trigger could not be sent\n", what, qPrintable(side.name));
        return false;
    }
    const OverlayWatch::Frame frame = side.watch->waitForFrame(5000);
    int status = 0;
    const bool answered
        = command < 0 || (::waitpid(command, &status, 0) == command && WIFEXITED(status) && WEXITSTATUS(status) == 0);
    if (!frame.damaged) {
        // Said with the service's last line (on GNOME: a Shell that did not answer in time); glintor-locate
        // said its own. A late animation ends before the next trigger.
        QThread::sleep(2);
        QCoreApplication::processEvents();
        const QStringList lines = side.service->lines();
        std::fprintf(stderr, "%s on %s: no frame within 5 s%s; the service's last line: %s\n", what,
            qPrintable(side.name), answered ? "" : " and the command failed",
            qPrintable(lines.value(lines.size() - 1)));
        return true;
    }
    if (!side.watch->waitForUnmap(10000)) {
        std::fprintf(stderr, "%s on %s: the animation did not end\n", what, qPrintable(side.name));
        return false;
    }
    if (++side.animations == 11)
        side.rss11 = statusKb(side.service->pid(), "VmRSS");
    if (counted) {
        side.frame[trigger].push_back(msBetween(sent, frame.damagedAt));
        side.mapped[trigger].push_back(msBetween(sent, frame.mappedAt));
        // Read from the service's pipe only when waited for.
        for (int i = 0; i < 20 && side.service->linesContaining(StartedLine).size() <= startedBefore; ++i)
            side.service->process().waitForReadyRead(50);
        if (side.service->linesContaining(StartedLine).size() > startedBefore) {
            const double sentMs = std::chrono::duration<double, std::milli>(sent.time_since_epoch()).count();
            side.logged[trigger].push_back(startedStamp(*side.service) - sentMs);
        }
    }
    // The compositor shows the background again before the next trigger.
    QThread::msleep(300);
    return true;
}

// One click through the rings, delayMs after their first frame, with the pointer still (after a
// relayout of the Shell's stage if asked): whether the full-screen window below got it. A call that
// draws nothing is no click; false then, with *drawn false.
bool clickThrough(Side &side, GnomeShell &shell, ClickProbe &probe, int delayMs, bool relayout, bool *drawn)
{
    QProcess locate;
    locate.setProcessEnvironment(side.environment);
    side.watch->arm();
    locate.start(builtProgram(QStringLiteral("glintor-locate")), QStringList());
    *drawn = side.watch->waitForFrame(5000).damaged;
    bool got = false;
    if (*drawn) {
        QThread::msleep(ulong(delayMs));
        QString picked;
        got = (!relayout || shell.relayout()) && shell.click(&picked) && probe.waitForPress(3000) == Pointer;
        if (!got)
            std::fprintf(stderr, "click %d ms into the rings reached no window; at the press: %s\n", delayMs,
                qPrintable(picked));
        side.watch->waitForUnmap(10000);
    }
    locate.waitForFinished(10000);
    if (!*drawn) {
        QCoreApplication::processEvents();
        const QStringList lines = side.service->lines();
        std::fprintf(stderr, "glintor-locate for a click: no frame within 5 s; the service's last line: %s\n",
            qPrintable(lines.value(lines.size() - 1)));
    }
    // The compositor shows the background again before the next call.
    QThread::msleep(300);
    return got;
}

// The rings at one scale of the output, from a screenshot in the output's pixels taken while the
// service stood still on a frame of glintor-locate's rings, against one taken just before.
struct Scaled {
    double scale = 0; // as the Shell took it; 0: refused
    int x11Scale = 1; // XWayland's pixels per logical pixel (mutter's UiScalingFactor)
    std::vector<double> dx, dy; // the rings' centre minus the pointer, output pixels
    std::vector<double> width; // the rings' width, output pixels
    std::vector<double> edge; // the outermost ring's outer edge, 10 to 90 % of its contrast, output pixels
};

int contrast(const QImage &shot, const QImage &before, QPoint at)
{
    const QRgb a = shot.pixel(at), b = before.pixel(at);
    return std::max({ std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b)) });
}

// Walking in from outside what was drawn: over how many pixels the first line met rises from 10 to
// 90 % of its peak contrast; -1 when none was met.
double edgeRise(const QImage &shot, const QImage &before, QPoint from, QPoint step)
{
    std::vector<int> seen;
    int peak = 0;
    for (QPoint at = from; shot.rect().contains(at) && seen.size() < 80; at += step) {
        seen.push_back(contrast(shot, before, at));
        peak = std::max(peak, seen.back());
        if (peak > 10 && seen.back() < peak / 2)
            break;
    }
    const size_t top = size_t(std::max_element(seen.begin(), seen.end()) - seen.begin());
    if (peak <= 10 || seen.front() >= peak / 10)
        return -1;
    const auto crossing = [&](double level) {
        size_t i = 1;
        while (i < top && seen[i] < level)
            ++i;
        return double(i - 1) + (level - seen[i - 1]) / double(seen[i] - seen[i - 1]);
    };
    return crossing(0.9 * peak) - crossing(0.1 * peak);
}

// A new service at each scale, as after a login. It draws in XWayland's pixels, as on X11.
Scaled ringsAtScale(GnomeShell &shell, const QProcessEnvironment &environment, OverlayWatch &watch, double wanted)
{
    Scaled figures;
    figures.scale = shell.setScale(wanted);
    if (figures.scale <= 0)
        return figures;
    QDBusInterface x11(QStringLiteral("org.gnome.Mutter.X11"), QStringLiteral("/org/gnome/Mutter/X11"),
        QStringLiteral("org.gnome.Mutter.X11"), shell.connection());
    figures.x11Scale = x11.isValid() ? std::max(1, x11.property("UiScalingFactor").toInt()) : 1;

    Side side;
    side.name = QStringLiteral("GNOME at %1").arg(figures.scale);
    side.environment = environment;
    const QPoint pointer(480, 300); // logical: inside the output at every scale up to 2
    if (!startService(side, QStringLiteral("Glintor's extension for GNOME Shell is there"))
        || !shell.movePointer(pointer))
        return figures;
    for (int i = 0; i < 3; ++i) {
        const QImage before = shell.screenshot();
        QProcess locate;
        locate.setProcessEnvironment(environment);
        watch.arm();
        locate.start(builtProgram(QStringLiteral("glintor-locate")), QStringList());
        if (!watch.waitForFrame(5000).damaged) {
            std::fprintf(stderr, "glintor-locate at scale %g drew nothing\n", figures.scale);
            locate.waitForFinished(10000);
            continue;
        }
        QThread::msleep(100);
        side.service->sendSignal(SIGSTOP);
        const QImage shot = shell.screenshot();
        side.service->sendSignal(SIGCONT);
        watch.waitForUnmap(10000);
        locate.waitForFinished(10000);
        QThread::msleep(300);
        if (shot.isNull() || before.size() != shot.size())
            continue;
        QRect drawn;
        for (int y = 0; y < shot.height(); ++y) {
            for (int x = 0; x < shot.width(); ++x) {
                if (contrast(shot, before, QPoint(x, y)) > 12)
                    drawn |= QRect(x, y, 1, 1);
            }
        }
        if (drawn.isEmpty())
            continue;
        const QPointF centre = QRectF(drawn).center();
        figures.dx.push_back(centre.x() - pointer.x() * figures.scale);
        figures.dy.push_back(centre.y() - pointer.y() * figures.scale);
        figures.width.push_back(drawn.width());
        const QPoint middle = drawn.center();
        std::vector<double> edges;
        for (const auto &[from, step] : { std::pair { QPoint(drawn.left() - 4, middle.y()), QPoint(1, 0) },
                 std::pair { QPoint(drawn.right() + 4, middle.y()), QPoint(-1, 0) },
                 std::pair { QPoint(middle.x(), drawn.top() - 4), QPoint(0, 1) },
                 std::pair { QPoint(middle.x(), drawn.bottom() + 4), QPoint(0, -1) } }) {
            const double rise = edgeRise(shot, before, from, step);
            if (rise >= 0)
                edges.push_back(rise);
        }
        if (!edges.empty())
            figures.edge.push_back(median(edges));
    }
    side.service->sendSignal(SIGTERM);
    side.service->waitForExit(10000);
    return figures;
}

struct Rest {
    double serviceWakeups = 0, serviceCpu = 0, shellWakeups = 0, shellCpu = 0, xwaylandCpu = 0;
    qint64 xwaylandRss = -1;
};

// The Shell's XWayland, which it starts for its X11 clients: here glintor-service and the frame watch.
// 0 if none.
qint64 xwaylandOf(qint64 shellPid)
{
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // pid (comm) state ppid ...
        const QByteArray line = stat.readAll();
        const int open = line.indexOf('(');
        const int close = line.lastIndexOf(')');
        if (line.mid(open + 1, close - open - 1) == "Xwayland"
            && line.mid(close + 2).split(' ').value(1).toLongLong() == shellPid)
            return entry.toLongLong();
    }
    return 0;
}

// Wakeups of a process's main thread alone, where GNOME Shell runs its extensions.
qint64 mainThreadWakeups(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/schedstat").arg(pid));
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().split(' ').value(2).toLongLong() : 0;
}

// Wakeups a second and CPU % of the services and of the Shell over the same seconds. The Shell's
// threads come and go, so its CPU is the whole process's.
void rest(double seconds, const std::vector<Side *> &sides, std::vector<Rest> &figures, qint64 shellPid)
{
    std::vector<ThreadCounts> wakeups0, cpu0;
    for (Side *side : sides) {
        wakeups0.push_back(threadSchedstat(side->service->pid(), 2));
        cpu0.push_back(threadSchedstat(side->service->pid(), 0));
    }
    const qint64 shellWakeups0 = mainThreadWakeups(shellPid);
    const qint64 shellCpu0 = processCpuNanoseconds(shellPid);
    const qint64 xwayland = xwaylandOf(shellPid);
    const qint64 xwaylandCpu0 = xwayland ? processCpuNanoseconds(xwayland) : 0;
    const Clock::time_point start = Clock::now();
    QThread::msleep(qint64(seconds * 1000));
    const double elapsed = msBetween(start, Clock::now()) / 1000;
    figures.assign(sides.size(), Rest());
    for (size_t i = 0; i < sides.size(); ++i) {
        figures[i].serviceWakeups = schedstatSince(sides[i]->service->pid(), 2, wakeups0[i]) / elapsed;
        figures[i].serviceCpu = schedstatSince(sides[i]->service->pid(), 0, cpu0[i]) / 1e7 / elapsed;
        figures[i].shellWakeups = (mainThreadWakeups(shellPid) - shellWakeups0) / elapsed;
        figures[i].shellCpu = (processCpuNanoseconds(shellPid) - shellCpu0) / 1e7 / elapsed;
        if (xwayland) {
            figures[i].xwaylandCpu = (processCpuNanoseconds(xwayland) - xwaylandCpu0) / 1e7 / elapsed;
            figures[i].xwaylandRss = statusKb(xwayland, "VmRSS");
        }
    }
}

QString perSecond(double value)
{
    return QString::number(value, 'f', 2);
}

QString percent(double value)
{
    return QString::number(value, 'f', 3) + QStringLiteral(" %");
}

// The Shell's CPU in its clock ticks' steps, so that a difference of a tick or two shows as such.
QString shellCpu(double value, double seconds)
{
    return percent(value) + QStringLiteral(" (%1 ms)").arg(qRound(value * seconds * 10));
}

} // namespace

int main(int argc, char *argv[])
{
    // Each watch reads its X server on a thread of its own.
    XInitThreads();
    // A reader that went away must not end this before the Shell and the servers are stopped.
    std::signal(SIGPIPE, SIG_IGN);
    // Settings of this run only, never the user's; the services inherit them.
    QTemporaryDir configHome;
    if (!configHome.isValid())
        return 1;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome.path()));
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption count(QStringLiteral("count"), QStringLiteral("Triggers of each kind to measure."),
        QStringLiteral("n"), QStringLiteral("20"));
    const QCommandLineOption seconds(
        QStringLiteral("seconds"), QStringLiteral("Time at rest."), QStringLiteral("s"), QStringLiteral("60"));
    const QCommandLineOption features(QStringLiteral("mutter-features"),
        QStringLiteral("mutter's experimental features, before GNOME 50 (which has both by default)."),
        QStringLiteral("list"), QStringLiteral("scale-monitor-framebuffer,xwayland-native-scaling"));
    const QCommandLineOption clickCount(QStringLiteral("clicks"),
        QStringLiteral("Clicks of each kind through the rings."), QStringLiteral("n"), QStringLiteral("100"));
    parser.addOptions({ count, seconds, features, clickCount });
    parser.addHelpOption();
    parser.process(app);
    const int triggers = parser.value(count).toInt();
    const double restSeconds = parser.value(seconds).toDouble();
    const int clicks = parser.value(clickCount).toInt();

    if (!GnomeShell::missingTools().isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(GnomeShell::missingTools()));
        return 1;
    }
    // Red rings: the same effect at every trigger.
    {
        QSettings settings(QStringLiteral("Glintor"), QStringLiteral("Settings"));
        settings.setValue(QStringLiteral("animationEffect"), 1);
        settings.setValue(QStringLiteral("colorMode"), 1);
    }
    // Errors of the watches' requests on windows that went meanwhile do not matter.
    XSetErrorHandler([](Display *, XErrorEvent *) { return 0; });

    // GNOME: a native Wayland window over the whole screen under the pointer, as in the tests.
    GnomeShell shell(QStringList { QStringLiteral(GLINTOR_SHELL_EXTENSION_DIR) },
        parser.value(features).split(QLatin1Char(','), Qt::SkipEmptyParts));
    if (!shell.isReady()) {
        std::fprintf(stderr, "GNOME Shell did not start:\n%s\n", qPrintable(shell.logTail()));
        return 1;
    }
    QProcessEnvironment probeEnvironment = shell.environment();
    probeEnvironment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    probeEnvironment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("qt.qpa.wayland=false"));
    ClickProbe probe(probeEnvironment, { QStringLiteral("--fullscreen") });
    const bool fullScreen = probe.waitUntilShown(QSize(1920, 1080), 20000);
    // Full screen once the top bar has gone from above it (the probe paints 0xe0e0e0).
    for (int i = 0; fullScreen && i < 100 && (shell.screenshot().pixel(1900, 5) & 0xffffff) != 0xe0e0e0; ++i)
        QThread::msleep(200);
    if (!fullScreen || !shell.movePointer(Pointer)) {
        std::fprintf(stderr, "no full-screen Wayland window under the pointer on GNOME Shell\n");
        return 1;
    }
    Side gnome;
    gnome.name = QStringLiteral("GNOME");
    gnome.environment = shell.environment();
    qputenv("XAUTHORITY", QFile::encodeName(shell.xauthority()));
    gnome.watch = std::make_unique<OverlayWatch>(shell.x11Display());
    const QVector<quint32> ctrlAltM { XK_Control_L, XK_Alt_L, XK_m };
    gnome.pressHotkey = [&] { return shell.keys(ctrlAltM); };

    // X11: Xvfb with xcompmgr and a session bus of its own, as the locate section has them.
    XServer x11Server(QSize(1920, 1080));
    SessionBus bus;
    if (!x11Server.isRunning() || !x11Server.startCompositor() || !bus.isRunning()) {
        std::fprintf(stderr, "no Xvfb with xcompmgr and a session bus\n");
        return 1;
    }
    Side x11;
    x11.name = QStringLiteral("X11");
    x11.environment = bus.environment(x11Server.environment());
    for (const char *variable : { "XAUTHORITY", "XDG_CURRENT_DESKTOP", "XDG_SESSION_TYPE" })
        x11.environment.remove(QString::fromLatin1(variable));
    x11.watch = std::make_unique<OverlayWatch>(x11Server.display());
    const std::unique_ptr<Display, int (*)(Display *)> keyboard(
        XOpenDisplay(QFile::encodeName(x11Server.display()).constData()), XCloseDisplay);
    if (!gnome.watch->isOpen() || !x11.watch->isOpen() || !keyboard)
        return 1;
    XWarpPointer(keyboard.get(), None, DefaultRootWindow(keyboard.get()), 0, 0, 0, 0, Pointer.x(), Pointer.y());
    XSync(keyboard.get(), False);
    x11.pressHotkey = [&] {
        const KeySym keys[] = { XK_Control_L, XK_Alt_L, XK_m };
        for (const KeySym key : keys)
            XTestFakeKeyEvent(keyboard.get(), XKeysymToKeycode(keyboard.get(), key), True, CurrentTime);
        for (int k = 2; k >= 0; --k)
            XTestFakeKeyEvent(keyboard.get(), XKeysymToKeycode(keyboard.get(), keys[k]), False, CurrentTime);
        XFlush(keyboard.get());
        return true;
    };

    if (!startService(gnome, QStringLiteral("Glintor's extension for GNOME Shell is there"))
        || !startService(x11, QStringLiteral("Settings loaded")))
        return 1;

    // A first animation each (the window made, the keymap's first XTEST change), then turn about.
    Side *const sides[] = { &gnome, &x11 };
    for (Side *side : sides) {
        if (!measure(*side, Hotkey, false))
            return 1;
    }
    for (int i = 0; i < triggers; ++i) {
        for (const Trigger trigger : { Hotkey, Locate }) {
            for (Side *side : sides) {
                if (!measure(*side, trigger, true))
                    return 1;
            }
        }
    }

    // Clicks on GNOME, where the overlay is an X11 client of a Wayland compositor.
    std::mt19937 draw(20261208);
    std::uniform_int_distribution<int> moment(0, 500);
    int clicksLost[2] = {}, clicksSent[2] = {};
    for (const bool relayout : { false, true }) {
        for (int i = 0; i < clicks; ++i) {
            bool drawn = false;
            const bool got = clickThrough(gnome, shell, probe, moment(draw), relayout, &drawn);
            clicksSent[relayout] += drawn ? 1 : 0;
            clicksLost[relayout] += drawn && !got ? 1 : 0;
        }
    }

    // The rings at fractional and integer scales of the output, then back to 1.
    std::vector<Scaled> scaled;
    for (const double scale : { 1.0, 1.5, 2.0 })
        scaled.push_back(ringsAtScale(shell, gnome.environment, *gnome.watch, scale));
    shell.setScale(1);

    // At rest: the services and the Shell with the extension, then the Shell without it.
    QThread::sleep(2);
    std::vector<Rest> withExtension, withoutExtension;
    rest(restSeconds, { &gnome, &x11 }, withExtension, shell.processId());
    if (!shell.setExtensionEnabled(QStringLiteral(GLINTOR_SHELL_EXTENSION_UUID), false)) {
        std::fprintf(stderr, "the extension could not be disabled\n");
        return 1;
    }
    QThread::sleep(2);
    rest(restSeconds, { &gnome }, withoutExtension, shell.processId());

    for (Side *side : sides) {
        side->service->sendSignal(SIGTERM);
        side->service->waitForExit(10000);
    }

    out(QStringLiteral("### From the trigger to the first ring frame: the first XDamage event on the overlay "
                       "window, seen by a client of the same X server"));
    out(QString());
    out(QStringLiteral("| trigger | desktop | drawn | first frame, median / worst | → overlay mapped, median | "
                       "→ \"Animation started\" logged, median |"));
    out(QStringLiteral("|---|---|---|---|---|---|"));
    for (const Trigger trigger : { Hotkey, Locate }) {
        for (Side *side : sides) {
            out(QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 |")
                    .arg(
                        trigger == Hotkey ? QStringLiteral("Ctrl+Alt+M") : QStringLiteral("glintor-locate"), side->name)
                    .arg(QStringLiteral("%1 of %2").arg(side->frame[trigger].size()).arg(triggers))
                    .arg(msOrNone(side->frame[trigger], true), ms(median(side->mapped[trigger])),
                        side->logged[trigger].empty() ? QStringLiteral("–") : ms(median(side->logged[trigger]))));
        }
    }
    out(QString());
    for (const Trigger trigger : { Hotkey, Locate }) {
        const QString what = trigger == Hotkey ? QStringLiteral("Ctrl+Alt+M") : QStringLiteral("glintor-locate");
        // A goal on the medians of every trigger: one that drew nothing misses it.
        const bool allDrawn
            = int(gnome.frame[trigger].size()) == triggers && int(x11.frame[trigger].size()) == triggers;
        const double extra = median(gnome.frame[trigger]) - median(x11.frame[trigger]);
        if (!allDrawn)
            out(QStringLiteral("%1: not every trigger drew its rings (goal: within 10 ms of X11): not met.").arg(what));
        else
            out(QStringLiteral("%1: GNOME's median %2 %3 X11's (goal: within 10 ms): %4.")
                    .arg(what, ms(std::abs(extra)), extra >= 0 ? QStringLiteral("above") : QStringLiteral("below"),
                        extra <= 10 ? QStringLiteral("met") : QStringLiteral("not met")));
    }
    out(QString());
    out(QStringLiteral("### Clicks through the rings on GNOME, the pointer still"));
    out(QString());
    out(QStringLiteral("| clicks 0–500 ms into the rings of glintor-locate | reached no window (goal: none in %1) |")
            .arg(clicks));
    out(QStringLiteral("|---|---|"));
    for (const bool relayout : { false, true }) {
        out(QStringLiteral("| %1 | %2 of %3: %4 |")
                .arg(relayout ? QStringLiteral("just after the Shell laid out its stage again")
                              : QStringLiteral("the Shell left alone"))
                .arg(clicksLost[relayout])
                .arg(clicksSent[relayout])
                .arg(clicksLost[relayout] == 0 && clicksSent[relayout] == clicks ? QStringLiteral("met")
                                                                                 : QStringLiteral("not met")));
    }
    out(QString());
    out(QStringLiteral("### The rings at a scale of the output: glintor-locate, the pointer at (480, 300) logical, "
                       "a screenshot in the output's pixels 100 ms into the rings, medians of 3"));
    out(QString());
    out(QStringLiteral("| output scale | XWayland's pixels per logical one | rings' centre − pointer (px) | "
                       "rings' width (px) | outermost ring's outer edge, 10 → 90 % (px) |"));
    out(QStringLiteral("|---|---|---|---|---|"));
    for (const Scaled &figures : scaled) {
        const auto px = [](const std::vector<double> &values) {
            return values.empty() ? QStringLiteral("–") : QString::number(median(values), 'f', 1);
        };
        out(QStringLiteral("| %1 | %2 | %3, %4 | %5 | %6 |")
                .arg(figures.scale > 0 ? QString::number(figures.scale) : QStringLiteral("refused"))
                .arg(figures.x11Scale)
                .arg(px(figures.dx), px(figures.dy), px(figures.width), px(figures.edge)));
    }
    out(QString());
    out(QStringLiteral("### glintor-service at rest (%1 s) and its memory").arg(restSeconds));
    out(QString());
    out(QStringLiteral("| desktop | wakeups/s | CPU | RSS idle | RSS after 11 animations |"));
    out(QStringLiteral("|---|---|---|---|---|"));
    for (size_t i = 0; i < 2; ++i) {
        out(QStringLiteral("| %1 | %2 | %3 | %4 | %5 |")
                .arg(sides[i]->name, perSecond(withExtension[i].serviceWakeups), percent(withExtension[i].serviceCpu),
                    megabytesOfKb(sides[i]->rssIdle),
                    sides[i]->rss11 < 0 ? QStringLiteral("–") : megabytesOfKb(sides[i]->rss11)));
    }
    if (gnome.rss11 > 0 && x11.rss11 > 0) {
        const double extra = (gnome.rss11 - x11.rss11) / 1024.0;
        out(QString());
        out(QStringLiteral("RSS after 11 animations, GNOME − X11: %1 MB (goal: within 1 MB): %2.")
                .arg(QString::number(extra, 'f', 2), extra <= 1 ? QStringLiteral("met") : QStringLiteral("not met")));
    }
    out(QString());
    out(QStringLiteral("### GNOME Shell at rest (%1 s each), glintor-service running").arg(restSeconds));
    out(QString());
    out(QStringLiteral(
        "| Glintor's extension | GNOME Shell CPU (/proc stat, 10 ms ticks) | GNOME Shell's main thread, wakeups/s | "
        "glintor-service wakeups/s |"));
    out(QStringLiteral("|---|---|---|---|"));
    for (const Rest *figures : { &withExtension[0], &withoutExtension[0] })
        out(QStringLiteral("| %1 | %2 | %3 | %4 |")
                .arg(figures == &withExtension[0] ? QStringLiteral("enabled") : QStringLiteral("disabled"),
                    shellCpu(figures->shellCpu, restSeconds), perSecond(figures->shellWakeups),
                    perSecond(figures->serviceWakeups)));
    // The service's overlay is an X11 window: on a Shell that starts XWayland only for X11 clients
    // (GNOME 50 and later), the service is what keeps it running.
    const Rest &rested = withExtension[0];
    out(QString());
    out(rested.xwaylandRss < 0
            ? QStringLiteral("XWayland was not running.")
            : QStringLiteral(
                "XWayland at rest, its clients glintor-service and this bench's frame watch: RSS %1, CPU %2.")
                  .arg(megabytesOfKb(rested.xwaylandRss), shellCpu(rested.xwaylandCpu, restSeconds)));
    return 0;
}
