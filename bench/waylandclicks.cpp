// The Wayland click measurement: clicks on a window below during glintor-locate calls, and their table.

#include "waylandclicks.h"

#include "benchfigures.h"
#include "benchrig.h"
#include "waylandlog.h"
#include "waylandservice.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QPoint>
#include <QProcess>
#include <QRandomGenerator>
#include <QStringList>
#include <QThread>

#include <cstdio>
#include <ctime>

using namespace BenchFigures;

bool measureClicks(const QString &servicePath, const QString &probePath, QProcess &pointer, const QString &pointerLog,
    const QPoint &at, int clicks, const QString &logDir, std::vector<LocateCall> &calls)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("WAYLAND_DEBUG"), QStringLiteral("client"));
    const QString probeLog = logDir + QStringLiteral("/clickprobe.log");
    QProcess probe;
    probe.setProcessEnvironment(environment);
    probe.setStandardErrorFile(probeLog);
    probe.start(probePath, QStringList());
    QDeadlineTimer shown(10000);
    while (!probe.canReadLine() && !shown.hasExpired() && probe.state() != QProcess::NotRunning)
        probe.waitForReadyRead(100);
    if (!probe.readLine().startsWith("shown ")) {
        std::fprintf(stderr, "%s did not show its window; its log: %s\n", qPrintable(probePath), qPrintable(probeLog));
        return false;
    }
    // A window mapped under a resting pointer learns of it at the pointer's next motion.
    const QByteArray move = QStringLiteral("move %1 %2").arg(at.x()).arg(at.y()).toLatin1();
    const QByteArray nudge = QStringLiteral("move %1 %2").arg(at.x() + 1).arg(at.y()).toLatin1();
    if (!pointerCommand(pointer, nudge) || !pointerCommand(pointer, move))
        return false;

    const QString logPath = logDir + QStringLiteral("/service-clicks.log");
    QProcess service;
    if (!startWaylandService(service, servicePath, true, logPath))
        return false;
    probe.readAll();
    QRandomGenerator random(20261207);
    for (int i = 0; i < clicks; ++i) {
        const qint64 delayNs = qint64(random.bounded(80001)) * 1000;
        LocateCall call;
        const bool ok = locateOnce(logPath, service, i, call, [&](const QElapsedTimer &sinceExec) {
            const qint64 wait = delayNs - sinceExec.nsecsElapsed();
            if (wait > 0) {
                const timespec pause { time_t(wait / 1000000000), long(wait % 1000000000) };
                ::nanosleep(&pause, nullptr);
            }
            return pointerCommand(pointer, "click");
        });
        if (!ok)
            return false;
        // The press reached the window, if at all, long before the animation ended.
        while (probe.waitForReadyRead(100)) { }
        while (probe.canReadLine())
            call.clickReached = probe.readLine().startsWith("press ") || call.clickReached;
        calls.push_back(call);
        QThread::msleep(500);
    }
    stopService(service);
    probe.terminate();
    probe.waitForFinished(3000);

    readCalls(logPath, calls);
    const std::vector<WaylandLogLine> sent = readWaylandLog(pointerLog);
    const std::vector<WaylandLogLine> received = readWaylandLog(probeLog);
    for (LocateCall &call : calls) {
        // BTN_LEFT (272) pressed: the helper's request, and the event in the window.
        call.clickSent = firstLine(sent, call, "-> zwlr_virtual_pointer_v1@", ", 272, 1)");
        call.clickReceived = firstLine(received, call, "wl_pointer@", ", 272, 1)");
        call.probeLeft = firstLine(received, call, "wl_pointer@", ".leave(");
        if (call.probeLeft >= 0)
            call.probeEntered = firstLine(received, call, "wl_pointer@", ".enter(", call.probeLeft);
    }
    return true;
}

void printClicks(const QString &screen, const std::vector<LocateCall> &clicked)
{
    // A click is sent "while" something in the stamps of the processes that send and see it: the
    // compositor's own order may differ by a fraction of a millisecond.
    const auto within = [](double moment, double from, double to) {
        return moment >= 0 && from >= 0 && moment >= from && (to < 0 || moment <= to);
    };
    int reached = 0, whileMapped = 0, lostWhileMapped = 0, whileAway = 0, lostWhileAway = 0;
    std::vector<double> delivery, away;
    QStringList lost;
    for (const LocateCall &call : clicked) {
        reached += call.clickReached;
        const bool mappedThen = within(call.clickSent, call.finderShown, call.finderGone);
        const bool awayThen = within(call.clickSent, call.probeLeft, call.probeEntered);
        whileMapped += mappedThen;
        lostWhileMapped += mappedThen && !call.clickReached;
        whileAway += awayThen;
        lostWhileAway += awayThen && !call.clickReached;
        if (call.clickReached && call.clickSent >= 0 && call.clickReceived >= 0)
            delivery.push_back(call.clickReceived - call.clickSent);
        if (call.probeLeft >= 0 && call.probeEntered >= 0)
            away.push_back(call.probeEntered - call.probeLeft);
        if (!call.clickReached)
            lost << QStringLiteral("%1 (%2–%3; %4–%5)")
                        .arg(call.clickSent, 0, 'f', 2)
                        .arg(call.finderShown, 0, 'f', 2)
                        .arg(call.finderGone, 0, 'f', 2)
                        .arg(call.probeLeft, 0, 'f', 2)
                        .arg(call.probeEntered, 0, 'f', 2);
    }
    out(QString());
    out(QStringLiteral("### Clicks on a window under the pointer, each at a random moment 0–80 ms after a "
                       "glintor-locate's exec (service, window and pointer with WAYLAND_DEBUG=client)"));
    out(QString());
    out(QStringLiteral("| screen | clicks | reached the window | lost | sent while the finding surfaces were mapped "
                       "(lost of them) | sent between the window's leave and enter (lost of them) | press request → "
                       "the window's button event, median / worst | the window's leave → enter, median / worst "
                       "(locates with a leave) |"));
    out(QStringLiteral("|---|---|---|---|---|---|---|---|"));
    out(QStringLiteral("| %1 | %2 | %3 | %4 | %5 (%6) | %7 (%8) | %9 | %10 (%11) |")
            .arg(screen)
            .arg(clicked.size())
            .arg(reached)
            .arg(int(clicked.size()) - reached)
            .arg(whileMapped)
            .arg(lostWhileMapped)
            .arg(whileAway)
            .arg(lostWhileAway)
            .arg(msOrNone(delivery, true), msOrNone(away, true))
            .arg(away.size()));
    if (!lost.isEmpty()) {
        out(QString());
        out(QStringLiteral("Lost clicks, ms after the exec: press sent (finding surfaces mapped–destroyed; the "
                           "window's leave–enter): ")
            + lost.join(QStringLiteral(", ")));
    }
}
