#pragma once

// Glintor's extension for GNOME Shell, through which the service sees the pointer, its motion and
// its hotkey on GNOME's Wayland session, and the settings window tells whether it is there.
namespace ShellExtension {

constexpr const char *Uuid = "glintor@glintor.org";
constexpr const char *BusName = "org.glintor.ShellExtension";
constexpr const char *ObjectPath = "/org/glintor/ShellExtension";
constexpr const char *Interface = "org.glintor.ShellExtension";
// GrabHotkey's answer to a combination without Ctrl, Alt or Super.
constexpr const char *NotAllowedError = "org.glintor.ShellExtension.Error.NotAllowed";
// GNOME Shell itself on the session bus.
constexpr const char *ShellBusName = "org.gnome.Shell";

// GNOME Shell is the Wayland compositor of this session: the compositor offers no layer-shell, and
// the Shell (or the extension) is on the session bus.
bool gnomeOnWayland();

enum class State {
    Active, // on the bus: the Shell loaded it
    Installed, // where the Shell finds extensions, but not loaded (not enabled, or not since the login)
    Missing,
};
State state();

} // namespace ShellExtension
