// An ordinary application window for Wayland tests: sway tiles it over the whole output, so a test
// can tell whether a click went through Glintor's overlay to the window below. With --fullscreen
// it asks to cover the whole screen, which floating desktops such as GNOME do not do by themselves.
// Prints "shown W H" each time the compositor has it on screen at a new size, and "press X Y"
// (window coordinates) on every mouse press.

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QRasterWindow>
#include <QScreen>
#include <QTimer>

#include <cstdio>

namespace {

class ProbeWindow final : public QRasterWindow
{
protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(QRect(QPoint(), size()), QColor(0xe0, 0xe0, 0xe0));
    }

    void exposeEvent(QExposeEvent *event) override
    {
        QRasterWindow::exposeEvent(event);
        // Exposed is not yet on screen. Ask for an update once the paint has been committed: Qt
        // delivers it when the compositor's frame callback for that commit comes.
        if (isExposed() && size() != shownSize)
            QTimer::singleShot(0, this, [this]() { requestUpdate(); });
    }

    bool event(QEvent *event) override
    {
        if (event->type() == QEvent::UpdateRequest && isExposed() && size() != shownSize) {
            shownSize = size();
            std::printf("shown %d %d\n", shownSize.width(), shownSize.height());
            std::fflush(stdout);
        }
        return QRasterWindow::event(event);
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
    // The size of the tile sway gives it, so the first frame is the final one: a frame callback
    // left over from a smaller frame would say "shown" too early.
    probe.resize(probe.screen()->size());
    if (app.arguments().contains(QStringLiteral("--fullscreen")))
        probe.showFullScreen();
    else
        probe.show();
    return app.exec();
}
