#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class Glintor;
class LocateInterface;
class QPoint;

// The desktop the service runs on answers the two questions every trigger asks: where the pointer is,
// and what triggers an animation besides glintor-locate. One is picked at start-up: X11, a Wayland
// compositor with layer-shell, or GNOME's Wayland session through the Glintor Shell extension. The
// rules (the shake, the Ctrl tap, the grab schedule) know no desktop.
class Desktop : public QObject {
    Q_OBJECT

public:
    using Found = std::function<void(const QPoint &globalPosition)>;

    // The desktop of this session; called once the application object and the overlay exist.
    static std::unique_ptr<Desktop> pick(Glintor *overlay, LocateInterface *bus, bool debug);
    ~Desktop() override;

    // Starts the desktop's own triggers and puts the service on the session bus when that is its
    // turn. False when the service cannot run here, after one line that says why.
    virtual bool start() = 0;
    // Stops what polls, as SIGINT and SIGTERM do before the event loop ends.
    virtual void stop() { }

    // Calls found with the pointer's position in the overlay's coordinates, or says why not in the
    // log and calls nothing.
    virtual void findPointer(Found found) = 0;

    // Plays the animation at the pointer, if animations are on; what names the trigger in the
    // debug log (nothing is logged for an empty one).
    void playAtPointer(const QString &what = QString());
    // Plays the given effect and colour once at the pointer, as "试一试" shows a choice.
    void tryAtPointer(int animationEffect, int colorMode);

signals:
    // A newer service took this display over: this one ends as on SIGTERM.
    void replaced();

protected:
    Desktop(Glintor *overlay, LocateInterface *bus, bool debug);

    Glintor *const overlay;
    LocateInterface *const bus;
    const bool debug;
};
