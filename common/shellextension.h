#pragma once

#include <QString>
#include <QStringList>

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

// Where the extension stands, as GNOME Shell tells it (org.gnome.Shell.Extensions.GetExtensionInfo).
struct Status {
    enum Kind {
        NotInstalled, // nowhere the Shell looks for extensions
        NotLoaded, // installed after the Shell started, which reads extensions at the login
        NotEnabled,
        OutOfDate, // it does not declare this Shell's release, so the Shell does not load it
        Failed, // the Shell could not load or enable it
        Active,
    };
    Kind kind = NotInstalled;
    QString shellVersion; // GNOME Shell's, e.g. "51.0"; empty where the Shell did not say
    QStringList declaredVersions; // the releases the installed extension declares (its shell-version)
    QString error; // why it failed, in the Shell's words
};

// Asks GNOME Shell, waiting up to timeoutMs. Where the Shell does not answer: what the session bus
// and the extension folders show, as state() does.
Status status(int timeoutMs);
// One line for the user: where the extension stands, and what to do about it.
QString describe(const Status &status);

} // namespace ShellExtension
