// An ordinary application window for Wayland tests: sway tiles it over the whole output, so a test
// can tell whether a click went through Glintor's overlay to the window below. With --fullscreen
// it asks to cover the whole screen, which floating desktops such as GNOME do not do by themselves.
// Prints "shown W H" each time the compositor has it on screen at a new size, "press X Y" and
// "release X Y" (window coordinates) for the buttons, and "enter T" and "leave T" as the pointer
// comes and goes (T: the monotonic clock in ms). With --panel H it is a panel instead: a
// transparent strip H pixels high along the top of the output, on the top layer, with an exclusive
// zone of its height, as bars are. With --overlay it is a transparent surface over the whole output
// on the overlay layer, as launchers and logout screens are.

#include <LayerShellQt/Window>

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QRasterWindow>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <ctime>

namespace {

class ProbeWindow final : public QRasterWindow
{
public:
    explicit ProbeWindow(QColor fill)
        : colour(fill)
    {
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(QRect(QPoint(), size()), colour);
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
        // They tell when the compositor gave the pointer to another surface, where a lost press went.
        if (event->type() == QEvent::Enter || event->type() == QEvent::Leave) {
            timespec now {};
            clock_gettime(CLOCK_MONOTONIC, &now);
            std::printf("%s %.1f\n", event->type() == QEvent::Enter ? "enter" : "leave",
                double(now.tv_sec) * 1000 + double(now.tv_nsec) / 1e6);
            std::fflush(stdout);
        }
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

    void mouseReleaseEvent(QMouseEvent *event) override
    {
        std::printf("release %d %d\n", event->pos().x(), event->pos().y());
        std::fflush(stdout);
    }

private:
    QColor colour;
    QSize shownSize;
};

} // namespace

int main(int argc, char *argv[])
{
    // Qt 5 picks X11 unless told otherwise; this probe exists for the Wayland rig.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "wayland");
    const QByteArray mode = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    const int panelHeight = mode == "--panel" && argc > 2 ? QByteArray(argv[2]).toInt() : 0;
    const bool layered = panelHeight > 0 || mode == "--overlay";
    // What LayerShellQt::Shell::useLayerShell() does, deprecated since layer-shell-qt 6.6.
    if (layered)
        qputenv("QT_WAYLAND_SHELL_INTEGRATION", "layer-shell");
    QGuiApplication app(argc, argv);
    ProbeWindow probe(layered ? QColor(Qt::transparent) : QColor(0xe0, 0xe0, 0xe0));
    probe.setTitle(QStringLiteral("clickprobe"));
    // The size of the tile sway gives it, so the first frame is the final one: a frame callback
    // left over from a smaller frame would say "shown" too early.
    probe.resize(probe.screen()->size());
    if (layered) {
        using Layer = LayerShellQt::Window;
        QSurfaceFormat transparent = probe.format();
        transparent.setAlphaBufferSize(8);
        probe.setFormat(transparent);
        if (panelHeight > 0)
            probe.resize(probe.screen()->size().width(), panelHeight);
        probe.create();
        Layer *layer = Layer::get(&probe);
        layer->setLayer(panelHeight > 0 ? Layer::LayerTop : Layer::LayerOverlay);
        Layer::Anchors anchors = Layer::Anchors(Layer::AnchorTop) | Layer::AnchorLeft | Layer::AnchorRight;
        if (panelHeight == 0)
            anchors |= Layer::AnchorBottom;
        layer->setAnchors(anchors);
        layer->setExclusiveZone(panelHeight);
        layer->setKeyboardInteractivity(Layer::KeyboardInteractivityNone);
    }
    if (app.arguments().contains(QStringLiteral("--fullscreen")))
        probe.showFullScreen();
    else
        probe.show();
    return app.exec();
}
