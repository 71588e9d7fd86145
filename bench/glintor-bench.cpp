// glintor-bench: measures the overlay and the service. Not a test: it asserts nothing and prints
// figures (Markdown table rows) for scripts/bench, which starts the X servers and runs the modes:
//
//   regions  --size WxH [--whole]          bytes repainted per frame, first frame and steady state
//   paint    --effect E [--color C] [--repeat R]
//                                          wall time of paintEvent per frame, rendered offscreen;
//                                          under callgrind (--toggle-collect=Glintor::paintEvent*)
//                                          the instructions per frame
//   cpu      --effect E --count N --xserver PID [--compositor PID] [--whole]
//                                          CPU of this process, the X server and the compositor for
//                                          whole animations, median
//   latency  --count N                     trigger to first frame flushed, cold and warm
//   startup  --runs N                      glintor-service: exec to its event loop
//   memory   --size WxH                    glintor-service: peak and current RSS, idle and animating
//   idle     --pid PID --xserver PID --seconds S
//                                          wakeups and CPU of a resting service and its X server
//
// The overlay is the real Glintor with its real painting. "--whole" turns each of its repaints into
// a repaint of the whole screen-sized widget: the cost that the animation's square saves.

#include "glintor.h"
#include "glintorsettings.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCommandLineParser>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <X11/Xlib.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <vector>

#include <sys/types.h>

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

class WholeRepainter : public QObject {
protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::UpdateRequest && !repainting) {
            repainting = true;
            static_cast<QWidget *>(watched)->repaint();
            repainting = false;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool repainting = false;
};

// A Glintor with repeatable particles and an effect choice that follows the settings at every start.
class BenchOverlay {
public:
    explicit BenchOverlay(const QSize &size = QSize())
        : random(20240611)
    {
        overlay.setClock([this] { return now += 20000; });
        overlay.setRandomSource([this](int bound) { return int(random.bounded(bound)); });
        if (size.isValid() && overlay.size() != size)
            overlay.resize(size);
    }

    Glintor &widget() { return overlay; }

    // Makes every repaint cover the whole widget: each time Qt is about to repaint the overlay's
    // dirty square, the whole widget is repainted instead (the square is then clean).
    void repaintWholeWidget() { overlay.installEventFilter(&wholeRepainter); }

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
    WholeRepainter wholeRepainter;
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

int runRegions(const QSize &size)
{
    for (const bool whole : { false, true }) {
        for (const Effect &effect : { Effects[1], Effects[3], Effects[4] }) {
            writeSettings(effect);
            BenchOverlay bench(size);
            bench.widget().loadSettings();
            PaintRecorder recorder;
            bench.widget().installEventFilter(&recorder);
            const QSize widgetSize = bench.widget().size();
            bench.trigger(QPoint(widgetSize.width() / 2, widgetSize.height() / 2));
            QCoreApplication::processEvents();
            if (whole)
                bench.repaintWholeWidget();
            if (!bench.runUntilFinished())
                return 1;
            if (recorder.bytes.size() < 3)
                return 1;
            const qint64 first = recorder.bytes.front();
            const std::vector<qint64> steady(recorder.bytes.begin() + 1, recorder.bytes.end());
            const qint64 wholeBytes = qint64(widgetSize.width()) * widgetSize.height() * 4;
            out(QStringLiteral("| %1×%2 | %3 | %4 | %5 | %6 | %7× |")
                    .arg(widgetSize.width())
                    .arg(widgetSize.height())
                    .arg(QLatin1String(effect.name) + (whole ? QStringLiteral(", whole widget") : QString()))
                    .arg(megabytes(first))
                    .arg(megabytes(median(steady)))
                    .arg(steady.size())
                    .arg(QString::number(double(wholeBytes) / double(median(steady)), 'f', 1)));
        }
    }
    return 0;
}

// ---- paint ----

int runPaint(const Effect &effect, int repeat)
{
    writeSettings(effect);
    BenchOverlay bench(QSize(1920, 1080));
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

int runCpu(const Effect &effect, int count, qint64 xserverPid, qint64 compositorPid, bool whole)
{
    writeSettings(effect);
    BenchOverlay bench;
    bench.widget().loadSettings();
    Display *display = XOpenDisplay(nullptr);
    const QPoint centre(bench.widget().width() / 2, bench.widget().height() / 2);

    // One animation first: the window, its backing store and the X resources are made once.
    bench.trigger(centre);
    QCoreApplication::processEvents();
    if (whole)
        bench.repaintWholeWidget();
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
    const QSize size = bench.widget().size();
    out(QStringLiteral("| %1×%2 | %3 | %4 | %5 | %6 | %7 | %8 | %9 |")
            .arg(size.width())
            .arg(size.height())
            .arg(QLatin1String(effect.name))
            .arg(whole ? QStringLiteral("whole widget") : QStringLiteral("animation square"))
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
    const QPoint centre(overlay.width() / 2, overlay.height() / 2);

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
            .arg(overlay.width())
            .arg(overlay.height())
            .arg(ms(cold))
            .arg(count)
            .arg(ms(median(warm)))
            .arg(ms(worst(warm))));
    return 0;
}

// ---- the real service ----

QString servicePath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/glintor-service");
}

bool waitForLine(QProcess &process, QByteArray &seen, const QByteArray &text, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!seen.contains(text)) {
        if (deadline.hasExpired() || process.state() == QProcess::NotRunning)
            return false;
        process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        seen += process.readAllStandardError();
    }
    return true;
}

void stopService(QProcess &process)
{
    ::kill(pid_t(process.processId()), SIGTERM);
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

int runStartup(int runs)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QProcess service;
        service.setReadChannel(QProcess::StandardError);
        QByteArray seen;
        QElapsedTimer timer;
        timer.start();
        service.start(servicePath(), { QStringLiteral("--debug") });
        // Logged right before the event loop starts.
        if (!waitForLine(service, seen, "Glintor服务已启动", 20000))
            return 1;
        times.push_back(timer.nsecsElapsed() / 1e6);
        stopService(service);
    }
    out(QStringLiteral("| %1 | %2 | %3 |").arg(runs).arg(ms(median(times))).arg(ms(worst(times))));
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

int runMemory()
{
    writeSettings(Effects[3]); // fireworks: the most particles and the longest animation
    QProcess service;
    service.setReadChannel(QProcess::StandardError);
    QByteArray seen;
    service.start(servicePath(), { QStringLiteral("--debug") });
    if (!waitForLine(service, seen, "Glintor服务已启动", 20000))
        return 1;
    QThread::sleep(2);
    const qint64 pid = service.processId();
    const qint64 idleHwm = statusKb(pid, "VmHWM");
    const qint64 idleRss = statusKb(pid, "VmRSS");

    // The hotkey grab is made on its own thread shortly after start-up: press until it answers.
    bool started = false;
    for (int attempt = 0; attempt < 10 && !started; ++attempt) {
        QProcess::execute(QStringLiteral("xdotool"), { QStringLiteral("key"), QStringLiteral("ctrl+alt+m") });
        started = waitForLine(service, seen, "Animation started", 2000);
    }
    if (!started || !waitForLine(service, seen, "Animation finished", 10000))
        return 1;
    const qint64 animatedHwm = statusKb(pid, "VmHWM");
    const qint64 animatedRss = statusKb(pid, "VmRSS");
    stopService(service);

    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    out(QStringLiteral("| %1×%2 | %3 MB | %4 MB | %5 MB | %6 MB |")
            .arg(screen.width())
            .arg(screen.height())
            .arg(QString::number(idleRss / 1024.0, 'f', 1))
            .arg(QString::number(idleHwm / 1024.0, 'f', 1))
            .arg(QString::number(animatedRss / 1024.0, 'f', 1))
            .arg(QString::number(animatedHwm / 1024.0, 'f', 1)));
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

QSize parseSize(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('x'));
    return parts.size() == 2 ? QSize(parts.at(0).toInt(), parts.at(1).toInt()) : QSize();
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

    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addPositionalArgument(
        QStringLiteral("mode"), QStringLiteral("regions, paint, cpu, latency, startup, memory or idle"));
    const QCommandLineOption size(QStringLiteral("size"), QStringLiteral("Overlay size."), QStringLiteral("WxH"));
    const QCommandLineOption whole(QStringLiteral("whole"), QStringLiteral("Repaint the whole widget every frame."));
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
    parser.addOptions({ size, whole, effect, repeat, count, runs, pid, xserver, compositor, seconds, label });
    parser.addHelpOption();
    parser.process(app);

    if (mode == QLatin1String("regions"))
        return runRegions(parseSize(parser.value(size)));
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
            parser.value(compositor).toLongLong(), parser.isSet(whole));
    }
    if (mode == QLatin1String("latency"))
        return runLatency(parser.value(count).toInt());
    if (mode == QLatin1String("startup"))
        return runStartup(parser.value(runs).toInt());
    if (mode == QLatin1String("memory"))
        return runMemory();
    if (mode == QLatin1String("idle"))
        return runIdle(parser.value(pid).toLongLong(), parser.value(xserver).toLongLong(),
            parser.value(seconds).toDouble(), parser.value(label));
    parser.showHelp(2);
}
