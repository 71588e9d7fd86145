// regions, paint, cpu and latency: the overlay measured in-process.

#include "overlayfigures.h"

#include "benchfigures.h"
#include "benchrig.h"
#include "glintor.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPaintEvent>
#include <QRandomGenerator>
#include <QScreen>

#include <X11/Xlib.h>

#include <functional>
#include <vector>

using namespace BenchFigures;

namespace {

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / 1e6, 'f', bytes < 10000000 ? 2 : 1) + QStringLiteral(" MB");
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

// Waits until the X server has handled what this process sent, and until it has rested a moment,
// so that an animation's cost is all counted in its own sample.
void settleXServer(Display *display)
{
    QCoreApplication::processEvents();
    if (display)
        XSync(display, False);
    restFor(300);
}

} // namespace

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
