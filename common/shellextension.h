#pragma once

// Glintor's extension for GNOME Shell, through which the service sees the pointer, its motion and
// its hotkey on GNOME's Wayland session, and the settings window tells whether it is there.
namespace ShellExtension {

constexpr const char *Uuid = "glintor@glintor.org";
constexpr const char *BusName = "org.glintor.ShellExtension";
constexpr const char *ObjectPath = "/org/glintor/ShellExtension";
constexpr const char *Interface = "org.glintor.ShellExtension";
// GNOME Shell itself on the session bus.
constexpr const char *ShellBusName = "org.gnome.Shell";

} // namespace ShellExtension
