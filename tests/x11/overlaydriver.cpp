// Test driver: one overlay on a real X server, started the way the hotkey thread starts it (a
// queued call by name), plus an ordinary window that reports the clicks it receives.
//
// Commands, one per line on standard input:
//   target X Y W H   show a plain window with that geometry
//   start X Y        start one animation centred on (X, Y)
//   hold X Y         start one now and again every 400 ms, so the overlay stays up
//   release          stop holding
//   frame EFFECT COLOUR TICKS X Y
//                    write the two settings, start one animation centred on (X, Y) with a fresh
//                    effect choice, stop its clock and step it TICKS times: the frame stays on
//                    the screen until the next command. Its random numbers come from a generator
//                    seeded with these five numbers: a command draws the same frame every run
//   finish           step the animation until it ends, then report "finish done"
// Reports on standard error: "ready", "target painted", "target pressed at X Y", the overlay's
// own log lines, and for each frame, in screen coordinates:
//   "frame N shaped S radius R centre X Y" (the rings' centre: a pixel corner), then one line
//   "frame N particle X Y LIFE #RRGGBB" per particle, then "frame N drawn".

#include "glintor.h"
#include "glintorsettings.h"

#include <QApplication>
#include <QDateTime>
#include <QDebug>
#include <QMouseEvent>
#include <QPainter>
#include <QRandomGenerator>
#include <QSettings>
#include <QSocketNotifier>
#include <QTimer>

#include <unistd.h>

namespace {

class TargetWindow : public QWidget {
public:
    TargetWindow() { setWindowTitle(QStringLiteral("overlay driver target")); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter(this).fillRect(rect(), QColor(40, 90, 200));
        if (!painted) {
            painted = true;
            qInfo("target painted");
        }
    }
    void mousePressEvent(QMouseEvent *event) override
    {
        #if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
        const QPoint at = event->globalPosition().toPoint();
#else
        const QPoint at = event->globalPos();
#endif
        qInfo("target pressed at %d %d", at.x(), at.y());
    }

private:
    bool painted = false;
};

void startAt(Glintor *overlay, const QPoint &position)
{
    QMetaObject::invokeMethod(overlay, "startAnimation", Qt::QueuedConnection, Q_ARG(QPoint, position));
}

void reportFrame(const Glintor &overlay, int number)
{
    const QPoint origin = overlay.geometry().topLeft();
    const QPoint centre = origin + overlay.centre();
    qInfo("frame %d shaped %d radius %d centre %d %d", number, overlay.drawsShaped() ? 1 : 0, overlay.radius(),
        centre.x(), centre.y());
    for (const Particle &particle : overlay.liveParticles()) {
        const QPointF at = origin + particle.position;
        // Life in full: a dot near the faint limit is drawn or not by the last bits of it.
        qInfo("frame %d particle %.3f %.3f %.17g %s", number, at.x(), at.y(), particle.life,
            qPrintable(particle.color.name()));
    }
    qInfo("frame %d drawn", number);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Glintor overlay;
    // Skipped forward by each frame command, so that the effect memory never holds its choice.
    qint64 clockSkip = 0;
    overlay.setClock([&clockSkip] { return QDateTime::currentMSecsSinceEpoch() + clockSkip; });
    QRandomGenerator random(1);
    overlay.setRandomSource([&random](int bound) { return int(random.bounded(bound)); });
    // The overlay's frame clock, its only timer.
    QTimer *frameClock = overlay.findChild<QTimer *>();
    int frames = 0;
    TargetWindow target;
    QPoint heldAt;
    QTimer holdTimer;
    holdTimer.setInterval(400);
    QObject::connect(&holdTimer, &QTimer::timeout, &overlay, [&] { startAt(&overlay, heldAt); });

    QByteArray pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &overlay, [&] {
        char buffer[256];
        const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (count <= 0) {
            QCoreApplication::quit();
            return;
        }
        pending.append(buffer, int(count));
        int newline;
        while ((newline = pending.indexOf('\n')) >= 0) {
            const QList<QByteArray> words = pending.left(newline).simplified().split(' ');
            pending.remove(0, newline + 1);
            const QByteArray command = words.value(0);
            const auto number = [&words](int i) { return words.value(i).toInt(); };
            if (command == "target") {
                target.setGeometry(number(1), number(2), number(3), number(4));
                target.show();
            } else if (command == "start") {
                startAt(&overlay, QPoint(number(1), number(2)));
            } else if (command == "hold") {
                heldAt = QPoint(number(1), number(2));
                startAt(&overlay, heldAt);
                holdTimer.start();
            } else if (command == "release") {
                holdTimer.stop();
            } else if (command == "frame") {
                holdTimer.stop();
                {
                    QSettings settings(GlintorSettings::Organization, GlintorSettings::Application);
                    settings.setValue(GlintorSettings::Key::AnimationEffect, number(1));
                    settings.setValue(GlintorSettings::Key::ColorMode, number(2));
                }
                overlay.loadSettings();
                quint32 seeds[5];
                for (int i = 0; i < 5; ++i)
                    seeds[i] = quint32(number(i + 1));
                random = QRandomGenerator(seeds, 5);
                clockSkip += 60000;
                overlay.startAnimation(QPoint(number(4), number(5)));
                frameClock->stop();
                for (int tick = 0; tick < number(3); ++tick)
                    overlay.updateAnimation();
                QGuiApplication::sync();
                reportFrame(overlay, ++frames);
            } else if (command == "finish") {
                holdTimer.stop();
                frameClock->stop();
                while (overlay.animating())
                    overlay.updateAnimation();
                QGuiApplication::sync();
                qInfo("finish done");
            }
        }
    });

    qInfo("ready");
    return app.exec();
}
