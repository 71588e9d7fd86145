#include "waylandsupport.h"

#include <LayerShellQt/Shell>
#include <LayerShellQt/Window>

#include <QCursor>
#include <QDebug>
#include <QEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QRasterWindow>
#include <QScreen>
#include <QTimer>

namespace WaylandSupport {

namespace {

using Layer = LayerShellQt::Window;

// Puts the created window on the overlay layer of output, anchored by anchors, with no keyboard
// focus. Exclusive zone -1: the margins count from the output's edge, not from other surfaces' zones.
Layer *onOverlayLayer(QWindow *window, QScreen *output, Layer::Anchors anchors, const QString &scope)
{
    Layer *layer = Layer::get(window);
    layer->setLayer(Layer::LayerOverlay);
    layer->setKeyboardInteractivity(Layer::KeyboardInteractivityNone);
    layer->setExclusiveZone(-1);
    layer->setAnchors(anchors);
    layer->setDesiredOutput(output);
    layer->setScope(scope);
    return layer;
}

// Sits on the overlay layer of one output, sized by the compositor to all of it, and reports the
// first position the pointer shows over it.
class FinderSurface final : public QRasterWindow
{
public:
    FinderSurface(QScreen *output, std::function<void(const QPoint &)> report)
        : reportPosition(std::move(report))
    {
        QSurfaceFormat transparent = format();
        transparent.setAlphaBufferSize(8);
        setFormat(transparent);
        setScreen(output);
        setGeometry(output->geometry());
        // Any other cursor has Qt load the cursor theme when the pointer first enters, 40 ms before
        // the enter event is delivered; the pointer is hidden only for the surface's few milliseconds.
        setCursor(Qt::BlankCursor);
        create();
        onOverlayLayer(this, output,
            Layer::Anchors(Layer::AnchorTop) | Layer::AnchorBottom | Layer::AnchorLeft | Layer::AnchorRight,
            QStringLiteral("glintor-pointer"));
    }

protected:
    // The backing store clears a window with alpha to transparent before each paint: nothing to add.
    void paintEvent(QPaintEvent *) override { }

    // One transparent buffer is all the surface needs. Each repaint of a full-output buffer costs
    // milliseconds, and the pointer's enter event waits behind them in the event queue.
    void exposeEvent(QExposeEvent *event) override
    {
        if (painted)
            return;
        QRasterWindow::exposeEvent(event);
        painted = isExposed();
    }

    bool event(QEvent *event) override
    {
        // The enter event carries the position; a motion that comes first (an enter Qt folded away)
        // does as well.
        if (event->type() == QEvent::Enter || event->type() == QEvent::MouseMove) {
            const QPointF local = event->type() == QEvent::Enter ? static_cast<QEnterEvent *>(event)->localPos()
                                                                 : static_cast<QMouseEvent *>(event)->localPos();
            if (QScreen *output = screen())
                reportPosition(output->geometry().topLeft() + local.toPoint());
        }
        return QRasterWindow::event(event);
    }

private:
    std::function<void(const QPoint &)> reportPosition;
    bool painted = false;
};

} // namespace

bool active()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

void useLayerShell()
{
    LayerShellQt::Shell::useLayerShell();
    // Qt's Wayland platform loads Mesa (about 50 MB resident) to ask whether it may draw window
    // decorations, and for widgets' surfaces that may take GL. Layer surfaces have no decorations,
    // and Glintor paints with the raster engine only.
    qputenv("QT_WAYLAND_DISABLE_WINDOWDECORATION", "1");
    QCoreApplication::setAttribute(Qt::AA_ForceRasterWidgets);
}

void placeOverlay(QWindow *window, const QRect &rect)
{
    QScreen *output = QGuiApplication::screenAt(rect.center());
    if (!output)
        output = window->screen();
    // The screen decides the buffer's scale: the rings stay sharp on a scaled output.
    window->setScreen(output);
    Layer *layer = onOverlayLayer(
        window, output, Layer::Anchors(Layer::AnchorTop) | Layer::AnchorLeft, QStringLiteral("glintor"));
    const QPoint topLeft = rect.topLeft() - output->geometry().topLeft();
    layer->setMargins(QMargins(topLeft.x(), topLeft.y(), 0, 0));
    // QtWayland ignores WindowTransparentForInput on a layer surface, and an empty mask means no
    // mask at all; a mask wholly outside the window gives it an empty input region.
    window->setMask(QRegion(-1, -1, 1, 1));
}

PointerFinder::PointerFinder(QObject *parent)
    : QObject(parent)
    , limit(new QTimer(this))
{
    limit->setSingleShot(true);
    limit->setInterval(LimitMs);
    connect(limit, &QTimer::timeout, this, [this] {
        qInfo("The compositor did not say where the pointer is within %d ms (it is on no output, or the "
              "compositor sends no enter event): nothing to show",
            LimitMs);
        drop();
    });
}

PointerFinder::~PointerFinder() = default;

void PointerFinder::find(Found found)
{
    whenFound = std::move(found);
    if (searching())
        return;
    dropped.clear();
    for (QScreen *output : QGuiApplication::screens()) {
        surfaces.push_back(std::make_unique<FinderSurface>(output, [this](const QPoint &at) { entered(at); }));
        surfaces.back()->show();
    }
    limit->start();
}

void PointerFinder::entered(const QPoint &globalPosition)
{
    if (!searching())
        return;
    Found found = std::move(whenFound);
    drop();
    if (found)
        found(globalPosition);
}

void PointerFinder::drop()
{
    limit->stop();
    whenFound = nullptr;
    // Unmapped now, deleted once the event loop is back (the one that reported is still in its event
    // handler): their full-output buffers, 8 MB each at 1920x1080, must not stay behind.
    for (const std::unique_ptr<QWindow> &surface : surfaces)
        surface->hide();
    dropped = std::move(surfaces);
    surfaces.clear();
    QTimer::singleShot(0, this, [this] {
        if (!searching())
            dropped.clear();
    });
}

} // namespace WaylandSupport
