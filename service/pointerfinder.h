#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QPoint;

namespace WaylandSupport {

// Learns where the pointer is on a layer-shell compositor, which tells a client only when the
// pointer enters one of the client's own surfaces: maps a transparent surface over every output on
// the overlay layer and takes the position from the pointer's enter, then drops the surfaces at
// once, since a click in that moment lands on them. The surfaces live on a Wayland connection of
// the finder's own and hold a single transparent pixel that the compositor scales to the output,
// so a search costs the same on any number of outputs of any size.
class PointerFinder final : public QObject {
    Q_OBJECT

public:
    using Found = std::function<void(const QPoint &globalPosition)>;
    // How long after the compositor has the surfaces an enter may still come: it sends one at once
    // for a pointer over them, so a later one means something held the pointer (a drag, an open
    // menu) and it is elsewhere by now.
    static constexpr int LimitMs = 100;

    explicit PointerFinder(QObject *parent = nullptr);
    ~PointerFinder() override;

    // Calls found with the pointer's global, logical position, or logs one line that says why not
    // and calls nothing. A request while one runs joins it.
    void find(Found found);
    bool searching() const;

private:
    struct Connection;
    void giveUp(const QString &why);

    std::unique_ptr<Connection> connection;
    Found whenFound;
};

} // namespace WaylandSupport
