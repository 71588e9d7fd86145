#pragma once

#include <string>

// What both programs check before they create their QApplication: Qt aborts with a core dump when
// its platform cannot reach a display, which under systemd means a restart loop. Checked first, a
// missing or stale display ends the program with one clear line instead.
namespace DisplayCheck {

// The line both programs print, as is, when neither DISPLAY nor WAYLAND_DISPLAY is set.
constexpr const char *NoDisplayLine = "No graphical display found (DISPLAY or WAYLAND_DISPLAY unset). Exiting.\n";

// Chooses Qt's platform where the environment leaves it open (Qt's Wayland platform when only a
// Wayland display is set and the plugin is installed) and makes sure the X display Qt will use
// answers. Returns an empty string when Qt can start, else the line (ending in a newline) to print
// before exiting with status 1. A platform the user chose (-platform, QT_QPA_PLATFORM other than
// xcb) is left alone.
std::string problem(int argc, char *argv[]);

} // namespace DisplayCheck
