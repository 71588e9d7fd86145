#pragma once

// What a WAYLAND_DEBUG=client log of glintor-service tells about each glintor-locate call: the finding
// surfaces, the pointer's enter, the overlay's first frame, and the clicks seen by other clients.

#include <QByteArray>
#include <QString>

#include <utility>
#include <vector>

// The service's stderr under WAYLAND_DEBUG=client: libwayland's lines, "[   4242.421]  -> request" and
// "[   4242.421] event", and Qt's own, which QT_MESSAGE_PATTERN marks "qt[" with a monotonic time.
// libwayland 1.21 stamps its lines with CLOCK_REALTIME in microseconds cut to 32 bits (it wraps every
// 71.6 minutes), not CLOCK_MONOTONIC: on this machine its stamps were 8.8 million seconds away from
// /proc/uptime and matched the wall clock modulo 2^32 µs. Qt's %{time boot} is CLOCK_MONOTONIC.
struct WaylandLogLine {
    bool qt = false;
    quint32 stamp = 0; // libwayland: wall clock µs mod 2^32; Qt: monotonic ms
    QByteArray text;
};

std::vector<WaylandLogLine> readWaylandLog(const QString &path);

// The clocks of the two kinds of stamps, now.
quint32 wallClockMicroseconds();
quint32 monotonicMilliseconds();

// One glintor-locate call: when it was started, in both clocks, and what the logs tell about it (ms
// after the exec; -1 when a log has no such line).
struct LocateCall {
    quint32 wallUs = 0;
    quint32 monotonicMs = 0;
    double untilMs = 5000; // where its lines end: the next call's exec, at most 5 s on
    double finderMapped = -1; // the first "glintor-pointer" layer surface asked for: the call arrived
    double finderShown = -1; // the first finding surface's commit after the attach of its buffer
    double pointerEntered = -1; // wl_pointer.enter on a finding surface
    double finderGone = -1; // the last shown finding surface destroyed
    int covers = 0; // finding surfaces asked for
    int enterBeforeSyncDone = -1; // 1 or 0: the enter came before or after the done of the finder's sync
    double overlayMapped = -1; // the "glintor" layer surface asked for
    double firstFrame = -1; // its first commit with a buffer attached
    double animationStarted = -1; // Qt's "Animation started" line
    // With a click: the virtual pointer's press request, the press reaching the window below, and
    // that window's leave and enter while the finding surfaces come and go.
    double clickSent = -1, clickReceived = -1, probeLeft = -1, probeEntered = -1;
    bool clickReached = false; // the window printed the press
};

// The call's first libwayland line from fromMs on that starts with prefix and holds part.
double firstLine(const std::vector<WaylandLogLine> &log, const LocateCall &call, const QByteArray &prefix,
    const QByteArray &part, double fromMs = 0);

// Reads each call's steps from the service's log, each up to the next call's exec.
void readCalls(const QString &logPath, std::vector<LocateCall> &calls);

// Layer surfaces of Glintor's two namespaces that the log shows made and never unmapped (the layer
// surface or its wl_surface destroyed, or a null buffer attached), and how many it made in all.
std::pair<int, int> surfacesLeftMapped(const std::vector<WaylandLogLine> &log);
