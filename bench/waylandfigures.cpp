// The wayland mode: services with and without the debug log taking turns, their tables, then the clicks.

#include "waylandfigures.h"

#include "benchfigures.h"
#include "benchrig.h"
#include "waylandclicks.h"
#include "waylandlog.h"
#include "waylandservice.h"

#include <QFileInfo>
#include <QPoint>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <tuple>
#include <vector>

using namespace BenchFigures;

namespace {

struct WaylandRun {
    std::vector<LocateCall> calls;
    qint64 idleRss = -1, rss11 = -1, rssEnd = -1, peakRss = -1;
    double wakeupsPerSecond = 0, cpuPercent = 0;
    qint64 messagesAtRest = 0;
    int leftMapped = 0, surfacesMade = 0;
};

bool measureWaylandService(
    const QString &path, bool debugLog, int count, double restSeconds, const QString &logPath, WaylandRun &run)
{
    QProcess service;
    if (!startWaylandService(service, path, debugLog, logPath))
        return false;
    const qint64 pid = service.processId();
    run.idleRss = statusKb(pid, "VmRSS");
    for (int i = 0; i <= count; ++i) {
        LocateCall call;
        if (!locateOnce(logPath, service, i, call))
            return false;
        run.calls.push_back(call);
        if (i == 10)
            run.rss11 = statusKb(pid, "VmRSS");
        QThread::msleep(500);
    }

    QThread::sleep(2);
    const qint64 logBefore = QFileInfo(logPath).size();
    const qint64 linesBefore = countInFile(logPath, "\n");
    const AtRest rest = measureRest({ pid }, restSeconds);
    run.wakeupsPerSecond = rest.wakeupsPerSecond[0];
    run.cpuPercent = rest.cpuPercent[0];
    run.messagesAtRest = QFileInfo(logPath).size() > logBefore ? countInFile(logPath, "\n") - linesBefore : 0;
    run.rssEnd = statusKb(pid, "VmRSS");
    run.peakRss = statusKb(pid, "VmHWM");
    stopService(service);

    readCalls(logPath, run.calls);
    std::tie(run.leftMapped, run.surfacesMade) = surfacesLeftMapped(readWaylandLog(logPath));
    return true;
}

} // namespace

int runWayland(const QString &servicePath, const QString &pointerHelper, const WaylandLayout &layout, int count,
    int runs, int plainRuns, double restSeconds, int clicks, const QString &probePath, const QString &logDir)
{
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        std::fprintf(stderr, "wayland needs a compositor (WAYLAND_DISPLAY) and a session bus\n");
        return 1;
    }
    writeSettings(Effects[1]);
    // The headless seat has a pointer only while a virtual one is connected; it rests at one place,
    // on the last output. Its requests, the clicks', go to a debug log.
    const QPoint at((layout.count - 1) * layout.size.width() + 700, 500);
    const QString pointerLog = logDir + QStringLiteral("/virtualpointer.log");
    QProcess pointer;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("WAYLAND_DEBUG"), QStringLiteral("client"));
    pointer.setProcessEnvironment(environment);
    pointer.setStandardErrorFile(pointerLog);
    pointer.start(pointerHelper,
        { QStringLiteral("--extent"), QString::number(layout.count * layout.size.width()),
            QString::number(layout.size.height()) });
    if (!pointer.waitForStarted(5000) || !pointer.waitForReadyRead(10000) || pointer.readLine().trimmed() != "ready") {
        std::fprintf(stderr, "the virtual pointer %s did not start; its log: %s\n", qPrintable(pointerHelper),
            qPrintable(pointerLog));
        return 1;
    }
    if (!pointerCommand(pointer, QStringLiteral("move %1 %2").arg(at.x()).arg(at.y()).toLatin1()))
        return 1;

    // Services with and without the debug log take turns, so the log's own cost shows beside them.
    std::vector<WaylandRun> traced, plain;
    for (int r = 0; r < std::max(runs, plainRuns); ++r) {
        for (const bool debugLog : { true, false }) {
            if (r >= (debugLog ? runs : plainRuns))
                continue;
            WaylandRun run;
            const QString logPath
                = QStringLiteral("%1/service-%2-%3.log").arg(logDir).arg(r + 1).arg(debugLog ? "debug" : "plain");
            if (!measureWaylandService(servicePath, debugLog, count, restSeconds, logPath, run))
                return 1;
            (debugLog ? traced : plain).push_back(run);
        }
    }
    std::vector<LocateCall> clicked;
    if (clicks > 0 && !measureClicks(servicePath, probePath, pointer, pointerLog, at, clicks, logDir, clicked))
        return 1;
    pointer.write("quit\n");
    pointer.waitForFinished(3000);

    // Figures over all services: the first calls, and the warm ones.
    const auto collect = [](const std::vector<WaylandRun> &set, double LocateCall::*field, bool first) {
        std::vector<double> values;
        for (const WaylandRun &run : set) {
            for (size_t i = first ? 0 : 1; i < (first ? 1 : run.calls.size()); ++i) {
                if (run.calls[i].*field >= 0)
                    values.push_back(run.calls[i].*field);
            }
        }
        return values;
    };
    const auto steps = [&](double LocateCall::*field, double LocateCall::*from, bool first) {
        std::vector<double> values;
        for (const WaylandRun &run : traced) {
            for (size_t i = first ? 0 : 1; i < (first ? 1 : run.calls.size()); ++i) {
                const LocateCall &call = run.calls[i];
                if (call.*field >= 0 && (from == nullptr || call.*from >= 0))
                    values.push_back(call.*field - (from ? call.*from : 0.0));
            }
        }
        return values;
    };
    const QString calls = QStringLiteral("%1 × %2").arg(runs).arg(count);

    out(QStringLiteral("### glintor-locate's exec → the first ring frame committed (WAYLAND_DEBUG=client log)"));
    out(QString());
    out(QStringLiteral("| screen | first call after start | warm calls (services × calls) | warm, median / worst |"));
    out(QStringLiteral("|---|---|---|---|"));
    out(QStringLiteral("| %1 | %2 | %3 | %4 |")
            .arg(layout.label(), msOrNone(collect(traced, &LocateCall::firstFrame, true)), calls,
                msOrNone(collect(traced, &LocateCall::firstFrame, false), true)));
    out(QString());
    out(QStringLiteral("### Where the milliseconds go (medians, from the same log)"));
    out(QString());
    out(QStringLiteral("| step | first call | warm calls |"));
    out(QStringLiteral("|---|---|---|"));
    struct Step {
        const char *name;
        double LocateCall::*field;
        double LocateCall::*from;
    };
    const Step table[] = {
        { "exec → the finding surfaces asked for (glintor-locate, the bus call)", &LocateCall::finderMapped, nullptr },
        { "→ the first of them mapped (its commit after the attach of its buffer)", &LocateCall::finderShown,
            &LocateCall::finderMapped },
        { "→ wl_pointer.enter received", &LocateCall::pointerEntered, &LocateCall::finderShown },
        { "→ the overlay's layer surface asked for", &LocateCall::overlayMapped, &LocateCall::pointerEntered },
        { "→ its first frame committed", &LocateCall::firstFrame, &LocateCall::overlayMapped },
    };
    for (const Step &step : table)
        out(QStringLiteral("| %1 | %2 | %3 |")
                .arg(QString::fromUtf8(step.name), msOrNone(steps(step.field, step.from, true)),
                    msOrNone(steps(step.field, step.from, false))));
    out(QString());

    // Every call of the services with the debug log, the first ones too.
    std::vector<double> mapped;
    int locates = 0, played = 0, covers = 0, beforeDone = 0, syncsSeen = 0;
    for (const WaylandRun &run : traced) {
        for (const LocateCall &call : run.calls) {
            ++locates;
            played += call.animationStarted >= 0;
            covers = std::max(covers, call.covers);
            if (call.finderShown >= 0 && call.finderGone >= 0)
                mapped.push_back(call.finderGone - call.finderShown);
            syncsSeen += call.enterBeforeSyncDone >= 0;
            beforeDone += call.enterBeforeSyncDone == 1;
        }
    }
    out(QStringLiteral("### The finding surfaces: mapped from the commit after their buffer's attach to their destroy "
                       "(all calls, the same log)"));
    out(QString());
    out(QStringLiteral(
        "| screen | locates | animations played | finding surfaces per locate | mapped, median / worst | "
        "the enter before the sync's done |"));
    out(QStringLiteral("|---|---|---|---|---|---|"));
    out(QStringLiteral("| %1 | %2 | %3 of %2 | %4 | %5 | %6 of %7 |")
            .arg(layout.label())
            .arg(locates)
            .arg(played)
            .arg(covers)
            .arg(msOrNone(mapped, true))
            .arg(beforeDone)
            .arg(syncsSeen));

    if (!plain.empty()) {
        out(QString());
        out(QStringLiteral(
            "### The debug log's own cost: exec → \"Animation started\" (Qt's monotonic stamp, 1 ms steps)"));
        out(QString());
        out(QStringLiteral("| service's log | services | first call | warm calls, median / worst |"));
        out(QStringLiteral("|---|---|---|---|"));
        for (const bool debugLog : { true, false }) {
            const std::vector<WaylandRun> &set = debugLog ? traced : plain;
            out(QStringLiteral("| %1 | %2 | %3 | %4 |")
                    .arg(debugLog ? QStringLiteral("WAYLAND_DEBUG=client") : QStringLiteral("none"))
                    .arg(set.size())
                    .arg(msOrNone(collect(set, &LocateCall::animationStarted, true)),
                        msOrNone(collect(set, &LocateCall::animationStarted, false), true)));
        }
        out(QString());
        out(QStringLiteral("### At rest after the animations, and memory (services without the debug log; surfaces "
                           "and messages from the debug log)"));
        out(QString());
        out(QStringLiteral(
            "| Glintor layer surfaces left mapped | log lines at rest (debug log) | wakeups/s | CPU | RSS "
            "idle | RSS after 11 animations | RSS after %1 | peak RSS |")
                .arg(count + 1));
        out(QStringLiteral("|---|---|---|---|---|---|---|---|"));
        std::vector<double> wake, cpu, idle, rss11, rssEnd, peak;
        for (const WaylandRun &run : plain) {
            wake.push_back(run.wakeupsPerSecond);
            cpu.push_back(run.cpuPercent);
            idle.push_back(run.idleRss);
            rss11.push_back(run.rss11);
            rssEnd.push_back(run.rssEnd);
            peak.push_back(run.peakRss);
        }
        int left = 0, made = 0;
        qint64 messages = 0;
        for (const WaylandRun &run : traced) {
            left += run.leftMapped;
            made += run.surfacesMade;
            messages += run.messagesAtRest;
        }
        out(QStringLiteral("| %1 of %2 | %3 in %4 × %5 s | %6 | %7 % | %8 | %9 | %10 | %11 |")
                .arg(left)
                .arg(made)
                .arg(messages)
                .arg(traced.size())
                .arg(restSeconds)
                .arg(QString::number(median(wake), 'f', 2))
                .arg(QString::number(median(cpu), 'f', 3))
                .arg(megabytesOfKb(qint64(median(idle))))
                .arg(count >= 10 ? megabytesOfKb(qint64(median(rss11))) : QStringLiteral("–"))
                .arg(megabytesOfKb(qint64(median(rssEnd))))
                .arg(megabytesOfKb(qint64(median(peak)))));
    }

    if (!clicked.empty())
        printClicks(layout.label(), clicked);
    return 0;
}
