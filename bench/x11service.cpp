// keypress, locate, startup and idle: glintor-service on an X server, seen from outside.

#include "x11service.h"

#include "benchfigures.h"
#include "benchrig.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QRgb>
#include <QScreen>
#include <QThread>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <cstdio>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

using namespace BenchFigures;

namespace {

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

} // namespace

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
    const AtRest rest = measureRest({ pid, xserverPid }, seconds);
    out(QStringLiteral("| %1 | %2 s | %3 | %4 | %5 % | %6 % |")
            .arg(label)
            .arg(QString::number(rest.seconds, 'f', 0))
            .arg(QString::number(rest.wakeupsPerSecond[0], 'f', 1))
            .arg(QString::number(rest.wakeupsPerSecond[1], 'f', 1))
            .arg(QString::number(rest.cpuPercent[0], 'f', 3))
            .arg(QString::number(rest.cpuPercent[1], 'f', 3)));
    return 0;
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
