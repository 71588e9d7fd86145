// Test driver: one overlay on a real X server, started the way the hotkey thread starts it (a
// queued call by name), plus an ordinary window that reports the clicks it receives.
//
// Commands, one per line on standard input:
//   target X Y W H   show a plain window with that geometry
//   start X Y        start one animation centred on (X, Y)
//   hold X Y         start one now and again every 400 ms, so the overlay stays up
//   release          stop holding
// Reports on standard error: "ready", "target painted", "target pressed at X Y", and the
// overlay's own log lines.

#include "glintor.h"

#include <QApplication>
#include <QDebug>
#include <QMouseEvent>
#include <QPainter>
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
        qInfo("target pressed at %d %d", event->globalPos().x(), event->globalPos().y());
    }

private:
    bool painted = false;
};

void startAt(Glintor *overlay, const QPoint &position)
{
    QMetaObject::invokeMethod(overlay, "startAnimation", Qt::QueuedConnection, Q_ARG(QPoint, position));
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Glintor overlay;
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
            }
        }
    });

    qInfo("ready");
    return app.exec();
}
