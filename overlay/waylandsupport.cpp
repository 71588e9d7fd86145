#include "waylandsupport.h"

#include <LayerShellQt/Window>

#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

#include <algorithm>

namespace WaylandSupport {

using Layer = LayerShellQt::Window;

bool active()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

void useLayerShell()
{
    // Every window a layer surface from its creation on (the overlay's are created before they are
    // placed): what LayerShellQt::Shell::useLayerShell() does, deprecated since layer-shell-qt 6.6.
    qputenv("QT_WAYLAND_SHELL_INTEGRATION", "layer-shell");
    // Qt's Wayland platform loads Mesa (about 50 MB resident) to ask whether it may draw window
    // decorations, and for widgets' surfaces that may take GL. Layer surfaces have no decorations,
    // and Glintor paints with the raster engine only.
    qputenv("QT_WAYLAND_DISABLE_WINDOWDECORATION", "1");
    QCoreApplication::setAttribute(Qt::AA_ForceRasterWidgets);
    // A HiDPI session's scale factor would turn the compositor's positions and sizes into Qt's
    // scaled ones and move and grow the rings; the output's own scale keeps them sharp anyway.
    for (const char *scaling : { "QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS", "QT_AUTO_SCREEN_SCALE_FACTOR",
             "QT_ENABLE_HIGHDPI_SCALING", "QT_SCALE_FACTOR_ROUNDING_POLICY", "QT_DEVICE_PIXEL_RATIO" })
        qunsetenv(scaling);
}

std::vector<QScreen *> outputsUnder(const QRect &rect)
{
    std::vector<QScreen *> outputs;
    if (QScreen *centre = QGuiApplication::screenAt(rect.center()))
        outputs.push_back(centre);
    for (QScreen *output : QGuiApplication::screens()) {
        if (output->geometry().intersects(rect) && std::find(outputs.begin(), outputs.end(), output) == outputs.end())
            outputs.push_back(output);
    }
    return outputs;
}

void placeOverlay(QWindow *window, const QRect &rect, QScreen *output)
{
    // The screen decides the buffer's scale: the rings stay sharp on a scaled output.
    window->setScreen(output);
    Layer *layer = Layer::get(window);
    layer->setLayer(Layer::LayerOverlay);
    layer->setKeyboardInteractivity(Layer::KeyboardInteractivityNone);
    // -1: the margins count from the output's edge, not from the edge of a panel's zone.
    layer->setExclusiveZone(-1);
    layer->setAnchors(Layer::Anchors(Layer::AnchorTop) | Layer::AnchorLeft);
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // Plasma 6's layer-shell-qt (the Qt 6 one) takes the output from the window's screen by itself.
    layer->setDesiredOutput(output);
#endif
    layer->setScope(QStringLiteral("glintor"));
    const QPoint topLeft = rect.topLeft() - output->geometry().topLeft();
    layer->setMargins(QMargins(topLeft.x(), topLeft.y(), 0, 0));
    // QtWayland ignores WindowTransparentForInput on a layer surface, and an empty mask means no
    // mask at all; a mask wholly outside the window gives it an empty input region.
    window->setMask(QRegion(-1, -1, 1, 1));
}

} // namespace WaylandSupport
