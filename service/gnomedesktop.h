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

    // Asks the Shell for its stage's size, to learn how many of XWayland's pixels make one of the
    // Shell's logical ones.
    void askStageSize();

private:
    void sayWhatIsSeen() override;
    void extensionAppeared();
    void extensionGone();
    void grabHotkey();
    // The Shell's logical coordinates as Qt's: times XWayland's pixels per logical one, then divided
    // as Qt divides XWayland's (by a QT_SCALE_FACTOR or an Xft.dpi of the session).
    QPoint fromShell(const QPoint &logical) const;

    QDBusServiceWatcher *watcher;
    QTimer *grabRetry;
    // The extension is there and of this release: the Shell gives the pointer and the keys.
    bool active = false;
    // Counts the extension's comings and goings, so that an answer of an earlier one is dropped.
    int generation = 0;
    // The Shell's stage in its logical pixels, 0 until known. XWayland's screen is as wide, or since
    // GNOME 47 (the default since 50) wider by the highest output scale rounded up.
    int stageWidth = 0;
    QString accelerator; // the hotkey in the Shell's notation; empty: none
    std::optional<GrabSchedule> schedule;
};
