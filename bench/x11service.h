#pragma once

// glintor-service on the X server of DISPLAY, seen from outside: start-up, a key press or a
// glintor-locate call until the pixels at the pointer change, memory, and the service at rest.

#include <QtGlobal>

#include <vector>

class QString;
struct ServiceBuild;

// Exec to the event loop, median and worst of runs starts per build.
int runStartup(const std::vector<ServiceBuild> &builds, int runs);
// An XTEST Ctrl+Alt+M press until the root window's pixel at the pointer changes (compositor
// included), first and warm presses, and the service's RSS idle and after the 1 + count animations.
int runKeypress(const std::vector<ServiceBuild> &builds, int count, int runs);
// glintor-locate from its exec until the pixel changes, the first call after the service started and
// warm calls; Ctrl+Alt+M measured the same way beside it.
int runLocate(const std::vector<ServiceBuild> &builds, int count, int runs);
// Wakeups and CPU of a resting service and its X server.
int runIdle(qint64 pid, qint64 xserverPid, double seconds, const QString &label);
