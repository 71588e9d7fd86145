// An ordinary application window for Wayland tests: sway tiles it over the whole output, so a test
// can tell whether a click went through Glintor's overlay to the window below.
// Prints "shown W H" each time it is exposed at a new size, and "press X Y" (window coordinates)
// on every mouse press.

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QRasterWindow>

#include <cstdio>

namespace {

class ProbeWindow final : public QRasterWindow {
protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(QRect(QPoint(), size()), QColor(0xe0, 0xe0, 0xe0));
    }

    void exposeEvent(QExposeEvent *event) override
    {
        QRasterWindow::exposeEvent(event);
        // The compositor sizes the tile only after the first frame, so the size is part of the news.
        if (isExposed() && size() != shownSize) {
            shownSize = size();
            std::printf("shown %d %d\n", shownSize.width(), shownSize.height());
            std::fflush(stdout);
        }
    }

    void mousePressEvent(QMouseEvent *event) override
    {
        std::printf("press %d %d\n", event->pos().x(), event->pos().y());
        std::fflush(stdout);
    }

private:
    QSize shownSize;
};

} // namespace

int main(int argc, char *argv[])
{
    // Qt 5 picks X11 unless told otherwise; this probe exists for the Wayland rig.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "wayland");
    QGuiApplication app(argc, argv);
    ProbeWindow probe;
    probe.setTitle(QStringLiteral("clickprobe"));
    probe.resize(320, 240);
    probe.show();
    return app.exec();
}
