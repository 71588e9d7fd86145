#pragma once

#include <QString>

// Where glintor-locate finds the service of its display on the session bus. QtCore only: the
// command links this and QtDBus, never Qt Gui, so that it starts in a few milliseconds.
namespace LocateBus {

// Also the AppStream component id.
constexpr const char *Id = "org.glintor.Glintor";
constexpr const char *ObjectPath = "/org/glintor/Glintor";
constexpr const char *Interface = "org.glintor.Glintor";

// The well-known name of the service on one display, so that services of one user on two displays
// never collide: "org.glintor.Glintor.x11_0" for ":0", ":0.0" and "unix:0"; a host part is kept, as
// a remote display is another server. An X display wins over a Wayland one, as in the service's
// choice of platform. Empty when neither names a display.
QString serviceName(const QString &x11Display, const QString &waylandDisplay);
// The same for this process's DISPLAY and WAYLAND_DISPLAY.
QString serviceName();

} // namespace LocateBus
