#pragma once

#include "grabschedule.h"
#include "x11desktop.h"

#include <optional>

class QDBusServiceWatcher;
class QTimer;

// GNOME's Wayland session. Its compositor offers no layer-shell, so the service runs through
// XWayland, which knows the pointer and the keys only while they are over X11 windows. While
// Glintor's extension for GNOME Shell is there (and of this release), the pointer, its motion and
// the hotkey come from the Shell instead, and the service reads no keys and no pointer from X11;
// without it the service works as on X11 and says where the extension stands (not installed, not
// enabled, out of date for this Shell, failed) and what to do. The overlay stays the X11 one, which
// the Shell shows above native Wayland windows.
class GnomeDesktop final : public X11Desktop {
    Q_OBJECT

public:
    GnomeDesktop(Glintor *overlay, LocateInterface *bus, bool debug);
    ~GnomeDesktop() override;

    bool start() override;
    void findPointer(Found found) override;

private slots:
    void hotkeyPressed();
    void pointerMoved(int x, int y);

private:
    void sayWhatIsSeen() override;
    void extensionAppeared();
    void extensionGone();
    void grabHotkey();
    // The Shell's logical coordinates, which XWayland's are at scale 1, as Qt's (a QT_SCALE_FACTOR
    // of the session's divides them).
    QPoint fromShell(const QPoint &position) const;

    QDBusServiceWatcher *watcher;
    QTimer *grabRetry;
    // The extension is there and of this release: the Shell gives the pointer and the keys.
    bool active = false;
    // Counts the extension's comings and goings, so that an answer of an earlier one is dropped.
    int generation = 0;
    QString accelerator; // the hotkey in the Shell's notation; empty: none
    std::optional<GrabSchedule> schedule;
};
