#pragma once

// glintor-service as a client of the Wayland compositor of WAYLAND_DISPLAY, driven through
// glintor-locate and a virtual pointer: its start with or without the debug log, one call at a time.

#include <QByteArray>

#include <functional>

class QElapsedTimer;
class QProcess;
class QString;
struct LocateCall;

// Starts the service with its stderr, stamped, in logPath; true once it is ready for calls.
bool startWaylandService(QProcess &service, const QString &path, bool debugLog, const QString &logPath);

// Runs glintor-locate once, calls meanwhile (if any) while it runs, and waits until the service's
// log shows the call ended: each call meets a service at rest.
bool locateOnce(const QString &logPath, const QProcess &service, int index, LocateCall &call,
    const std::function<bool(const QElapsedTimer &sinceExec)> &meanwhile = nullptr);

// The virtual pointer helper: one command, then its answer once the compositor has handled it.
bool pointerCommand(QProcess &pointer, const QByteArray &command);

int countInFile(const QString &path, const QByteArray &text);
