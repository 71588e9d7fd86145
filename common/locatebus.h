#pragma once

#include <QString>
#include <QStringList>

// Where glintor-locate finds the service of its display on the session bus. QtCore only: the
// command links this and QtDBus, never Qt Gui, so that it starts in a few milliseconds.
namespace LocateBus {

// Also the AppStream component id.
constexpr const char *Id = "org.glintor.Glintor";
constexpr const char *ObjectPath = "/org/glintor/Glintor";
constexpr const char *Interface = "org.glintor.Glintor";

// The well-known name of the service on one display, so that services of one user on two displays
// never collide: "org.glintor.Glintor.x11_0" for ":0", ":0.0" and "unix:0" (a host part is kept, as
// a remote display is another server), "org.glintor.Glintor.wayland_" and the escaped name of a
// Wayland display. A service takes the name of the display it runs on: the Wayland one on Qt's
// Wayland platform, whatever DISPLAY says, else the X one (the Wayland one where no X display is
// named). Empty when neither names a display.
QString serviceName(bool onWayland, const QString &x11Display, const QString &waylandDisplay);
// The same for this process's DISPLAY and WAYLAND_DISPLAY.
QString serviceName(bool onWayland);

// The names a command run in a session tries, in order: the Wayland display's first, since it is the
// session's own (a DISPLAY beside it is XWayland's, or a stale value a user manager kept), then the
// X display's.
QStringList serviceNames(const QString &x11Display, const QString &waylandDisplay);
QStringList serviceNames();

} // namespace LocateBus
