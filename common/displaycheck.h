#pragma once

#include <string>

class QString;

// What both programs check before they create their QApplication: Qt aborts with a core dump when
// its platform cannot reach a display, which under systemd means a restart loop. Checked first, a
// missing or stale display ends the program with one clear line instead.
namespace DisplayCheck {

// The exit status of a service whose display went away while it ran (the X server or the Wayland
// compositor ended, perhaps to restart): EX_TEMPFAIL, on which the user unit starts it again. Status
// 1, no display at start, is one the unit does not restart on.
constexpr int DisplayLostStatus = 75;

// The line both programs print, as is, when neither DISPLAY nor WAYLAND_DISPLAY is set.
constexpr const char *NoDisplayLine = "No graphical display found (DISPLAY or WAYLAND_DISPLAY unset). Exiting.\n";

// What the Wayland compositor that WAYLAND_DISPLAY names offers: Glintor can show the pointer on a
// Wayland desktop only through the layer-shell protocol. Asked once per display name (within 2 s)
// and remembered.
enum class WaylandDesktop {
    NoCompositor, // WAYLAND_DISPLAY unset, or no compositor answers there
    LayerShell,
    NoLayerShell
};
WaylandDesktop waylandDesktop();

// X11First: Qt's Wayland platform only when no X display is set (the settings window, the tools).
// LayerShellFirst: Qt's Wayland platform wherever the compositor offers layer-shell, even beside
// XWayland (the service, which must see the pointer over every window).
enum class PlatformChoice { X11First, LayerShellFirst };

// Chooses Qt's platform where the environment leaves it open (Qt's own choice would follow
// XDG_SESSION_TYPE) and makes sure the display Qt will use answers. Returns an empty string when Qt can start, else the line (ending in a newline) to print
// before exiting with status 1. A platform the user chose (-platform, QT_QPA_PLATFORM) is left
// alone, except that the service refuses Wayland without layer-shell, where it could show nothing.
std::string problem(int argc, char *argv[], PlatformChoice choice = PlatformChoice::X11First);

// Takes back the QT_QPA_PLATFORM (and, with Qt 6 on X11, the QT_ENABLE_HIGHDPI_SCALING=0) that
// problem() set to tell Qt its choice, once the application object exists: the programs that this
// one starts make their own choice.
void forgetPlatformChoice();

// Whether Qt is about to start on its Wayland platform: -platform or QT_QPA_PLATFORM say so,
// whether the user or problem() chose it.
bool qtPlatformIsWayland(int argc, char *argv[]);

// The folder of Qt's own plugins.
QString qtPluginsFolder();

} // namespace DisplayCheck
