#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <vector>

class QPoint;
class QRect;
class QTimer;
class QWindow;

// Glintor's Wayland code, for compositors that offer layer-shell: the overlay as a surface on the
// overlay layer, and the pointer found through short-lived layer surfaces, since Wayland tells a
// client where the pointer is only when it enters one of the client's own surfaces.
namespace WaylandSupport {

// Whether Qt runs on its Wayland platform.
bool active();

// Makes every window of the process a layer surface, drawn without GL. Must run before the
// QGuiApplication is made.
void useLayerShell();

// Shows nothing itself: prepares the created, hidden window to be mapped on the overlay layer of the
// output that holds rect's centre, covering rect (global, logical coordinates), with no keyboard
// focus, no exclusive zone and an empty input region. Whatever of rect lies beyond the output is
// clipped by it.
void placeOverlay(QWindow *window, const QRect &rect);

// Learns where the pointer is: maps a transparent layer surface over every output and takes the
// position from the pointer's enter event, then drops the surfaces at once, since a click in that
// moment lands on them.
class PointerFinder final : public QObject {
    Q_OBJECT

public:
    using Found = std::function<void(const QPoint &globalPosition)>;
    static constexpr int LimitMs = 500;

    explicit PointerFinder(QObject *parent = nullptr);
    ~PointerFinder() override;

    // Calls found with the pointer's global, logical position, or logs one line and calls nothing
    // when the compositor says nothing within LimitMs. A request while one runs joins it.
    void find(Found found);
    bool searching() const { return !surfaces.empty(); }

private:
    void entered(const QPoint &globalPosition);
    void drop();

    std::vector<std::unique_ptr<QWindow>> surfaces;
    std::vector<std::unique_ptr<QWindow>> dropped;
    Found whenFound;
    QTimer *limit;
};

} // namespace WaylandSupport
