#pragma once

#include <vector>

class QRect;
class QScreen;
class QWindow;

// Glintor's Wayland code, for compositors that offer layer-shell: the overlay as a surface on the
// overlay layer (the pointer is found by PointerFinder).
namespace WaylandSupport {

// Whether Qt runs on its Wayland platform.
bool active();

// Makes every window of the process a layer surface, drawn without GL and without Qt's own scaling:
// the compositor's logical coordinates are the ones the windows are placed in. Must run before the
// QGuiApplication is made.
void useLayerShell();

// The outputs rect (global, logical coordinates) touches: the one that holds its centre first.
std::vector<QScreen *> outputsUnder(const QRect &rect);

// Shows nothing itself: prepares the created, hidden window to be mapped on the overlay layer of
// output, covering rect (global, logical coordinates), with no keyboard focus, no exclusive zone and
// an empty input region. Whatever of rect lies beyond the output is clipped by it.
void placeOverlay(QWindow *window, const QRect &rect, QScreen *output);

} // namespace WaylandSupport
