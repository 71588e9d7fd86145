#pragma once

// Clicks on a window under the resting pointer while glintor-locate calls find it on a Wayland
// compositor: which reach the window, and when those that do not were sent.

#include <vector>

class QPoint;
class QProcess;
class QString;
struct LocateCall;

// Clicks the clickprobe window under the resting pointer at a random moment 0–80 ms after each
// glintor-locate's exec (a seeded generator: runs repeat), and records whether the window got the
// click; a service, the probe and the pointer helper all with WAYLAND_DEBUG=client, read afterwards.
bool measureClicks(const QString &servicePath, const QString &probePath, QProcess &pointer, const QString &pointerLog,
    const QPoint &at, int clicks, const QString &logDir, std::vector<LocateCall> &calls);

// The clicks' table, and the moments of those lost.
void printClicks(const QString &screen, const std::vector<LocateCall> &clicked);
