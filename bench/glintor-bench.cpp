// glintor-bench: measures the overlay and the service. Not a test: it asserts nothing and prints
// figures (Markdown table rows) for scripts/bench, which starts the X servers and runs the modes:
//
//   regions                                bytes repainted per frame, first frame and steady state
//   paint    --effect E [--repeat R]       wall time of paintEvent per frame, rendered offscreen;
//                                          under callgrind (--toggle-collect=Glintor::paintEvent*)
//                                          the instructions per frame
//   cpu      --effect E --count N --xserver PID [--compositor PID]
//                                          CPU of this process, the X server and the compositor for
//                                          whole animations, median
//   latency  --count N                     trigger to first frame flushed, cold and warm
//   keypress --count N --runs R [--service [LABEL=]PATH]...
//                                          glintor-service seen from outside: an XTEST Ctrl+Alt+M
//                                          press until the root window's pixel at the pointer
//                                          changes (compositor included), first and warm presses,
//                                          and its RSS idle and after the 1 + N animations
//   locate   --count N --runs R [--service ...]
//                                          glintor-locate seen from outside: from the command's
//                                          exec until the root window's pixel at the pointer
//                                          changes, the first call after the service started and
//                                          warm calls; Ctrl+Alt+M measured the same way beside it
//   startup  --runs N [--service ...]      glintor-service: exec to its event loop
//   idle     --pid PID --xserver PID --seconds S
//                                          wakeups and CPU of a resting service and its X server
//   wayland  --count N --runs R --seconds S [--service PATH] [--pointer-helper PATH] [--log-dir DIR]
//            [--outputs N --output-size WxH] [--plain-runs N] [--clicks N [--click-probe PATH]]
//                                          glintor-service as a Wayland client (WAYLAND_DISPLAY, a
//                                          session bus; N outputs side by side, the pointer resting
//                                          on the last): glintor-locate's exec to the first ring
//                                          frame committed, read from WAYLAND_DEBUG=client logs,
//                                          step by step, how long the finding surfaces stay mapped,
//                                          the animations played, the log's own cost (services
//                                          without it: --plain-runs), surfaces left mapped, wakeups
//                                          and RSS; with --clicks, clicks at random moments 0–80 ms
//                                          after the calls on a clickprobe window below, and those
//                                          that did not reach it
//
// The overlay is the real Glintor with its real painting. --service names the glintor-service to
// run (default: the one beside this program); given several times, e.g. an older build's as
// before=PATH, the builds take turns run by run and each gets its own row.
//
// Each mode lives with what it measures: overlayfigures.cpp (regions, paint, cpu, latency),
// x11service.cpp (keypress, locate, startup, idle), waylandfigures.cpp (wayland), which drives the
// service through waylandservice.cpp, reads its log in waylandlog.cpp and clicks in waylandclicks.cpp.
// benchrig.h holds what the modes share, benchfigures.h the statistics and /proc readings.

#include "benchrig.h"
#include "overlayfigures.h"
#include "waylandfigures.h"
#include "x11service.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>

int main(int argc, char *argv[])
{
    // Settings of this run only, never the user's.
    QTemporaryDir configHome;
    if (!configHome.isValid())
        return 1;
    if (!qEnvironmentVariableIsSet("GLINTOR_BENCH_KEEP_CONFIG"))
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome.path()));
    // The overlay's own log lines would drown the figures.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &message) {
        if (type != QtDebugMsg && type != QtInfoMsg
            && !message.startsWith(QLatin1String("This plugin does not support")))
            std::fprintf(stderr, "%s\n", qPrintable(message));
    });

    // As glintor-service does, so that the in-process figures are the service's: without OpenGL.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION")) {
        qputenv("QT_XCB_GL_INTEGRATION", "none");
        g_glIntegrationSetHere = true;
    }
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    // The Wayland mode drives programs on a compositor and opens no window itself: no display needed.
    std::unique_ptr<QCoreApplication> application;
    if (mode == QLatin1String("wayland"))
        application = std::make_unique<QCoreApplication>(argc, argv);
    else
        application = std::make_unique<QApplication>(argc, argv);
    QCoreApplication &app = *application;
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("mode"),
        QStringLiteral("regions, paint, cpu, latency, keypress, locate, startup, idle or wayland"));
    const QCommandLineOption effect(
        QStringLiteral("effect"), QStringLiteral("Effect and colour."), QStringLiteral("name"));
    const QCommandLineOption repeat(
        QStringLiteral("repeat"), QStringLiteral("Animations to render."), QStringLiteral("n"), QStringLiteral("20"));
    const QCommandLineOption count(
        QStringLiteral("count"), QStringLiteral("Animations to measure."), QStringLiteral("n"), QStringLiteral("11"));
    const QCommandLineOption runs(
        QStringLiteral("runs"), QStringLiteral("Service starts."), QStringLiteral("n"), QStringLiteral("11"));
    const QCommandLineOption pid(QStringLiteral("pid"), QStringLiteral("Service process."), QStringLiteral("pid"));
    const QCommandLineOption xserver(
        QStringLiteral("xserver"), QStringLiteral("X server process."), QStringLiteral("pid"));
    const QCommandLineOption compositor(
        QStringLiteral("compositor"), QStringLiteral("Compositor process."), QStringLiteral("pid"));
    const QCommandLineOption seconds(
        QStringLiteral("seconds"), QStringLiteral("Idle time."), QStringLiteral("s"), QStringLiteral("60"));
    const QCommandLineOption label(QStringLiteral("label"), QStringLiteral("Row label."), QStringLiteral("text"));
    const QCommandLineOption service(QStringLiteral("service"),
        QStringLiteral("A glintor-service to run, as PATH or LABEL=PATH; may be given several times."),
        QStringLiteral("path"));
    const QCommandLineOption pointerHelper(QStringLiteral("pointer-helper"),
        QStringLiteral("The virtual pointer program (wayland)."), QStringLiteral("path"));
    const QCommandLineOption logDir(QStringLiteral("log-dir"), QStringLiteral("Where the services' logs go (wayland)."),
        QStringLiteral("dir"), QDir::tempPath());
    const QCommandLineOption outputs(QStringLiteral("outputs"),
        QStringLiteral("Outputs side by side from the origin, as sway has them (wayland)."), QStringLiteral("n"),
        QStringLiteral("1"));
    const QCommandLineOption outputSize(QStringLiteral("output-size"), QStringLiteral("Each output's size (wayland)."),
        QStringLiteral("WxH"), QStringLiteral("1920x1080"));
    const QCommandLineOption plainRuns(QStringLiteral("plain-runs"),
        QStringLiteral("Services without the debug log (wayland; default: --runs)."), QStringLiteral("n"));
    const QCommandLineOption clicks(QStringLiteral("clicks"),
        QStringLiteral("Clicks on a window below during glintor-locate calls (wayland)."), QStringLiteral("n"),
        QStringLiteral("0"));
    const QCommandLineOption clickProbe(QStringLiteral("click-probe"),
        QStringLiteral("The window program that reports its clicks (wayland)."), QStringLiteral("path"));
    parser.addOptions({ effect, repeat, count, runs, pid, xserver, compositor, seconds, label, service, pointerHelper,
        logDir, outputs, outputSize, plainRuns, clicks, clickProbe });
    parser.addHelpOption();
    parser.process(app);

    if (mode == QLatin1String("regions"))
        return runRegions();
    if (mode == QLatin1String("paint") || mode == QLatin1String("cpu")) {
        const Effect *chosen = findEffect(parser.value(effect));
        if (!chosen) {
            std::fprintf(
                stderr, "unknown effect; one of: ring, white | ring, red | ring, rainbow | fireworks | stars\n");
            return 2;
        }
        if (mode == QLatin1String("paint"))
            return runPaint(*chosen, parser.value(repeat).toInt());
        return runCpu(*chosen, parser.value(count).toInt(), parser.value(xserver).toLongLong(),
            parser.value(compositor).toLongLong());
    }
    if (mode == QLatin1String("latency"))
        return runLatency(parser.value(count).toInt());
    if (mode == QLatin1String("keypress"))
        return runKeypress(
            serviceBuilds(parser.values(service)), parser.value(count).toInt(), parser.value(runs).toInt());
    if (mode == QLatin1String("locate"))
        return runLocate(
            serviceBuilds(parser.values(service)), parser.value(count).toInt(), parser.value(runs).toInt());
    if (mode == QLatin1String("startup"))
        return runStartup(serviceBuilds(parser.values(service)), parser.value(runs).toInt());
    if (mode == QLatin1String("idle"))
        return runIdle(parser.value(pid).toLongLong(), parser.value(xserver).toLongLong(),
            parser.value(seconds).toDouble(), parser.value(label));
    if (mode == QLatin1String("wayland")) {
        const auto besideThis = [&](const QCommandLineOption &option, const char *program) {
            return parser.isSet(option) ? parser.value(option)
                                        : QCoreApplication::applicationDirPath() + QLatin1Char('/') + program;
        };
        const QStringList size = parser.value(outputSize).split(QLatin1Char('x'));
        WaylandLayout layout;
        layout.count = std::max(1, parser.value(outputs).toInt());
        if (size.size() == 2)
            layout.size = QSize(size[0].toInt(), size[1].toInt());
        return runWayland(serviceBuilds(parser.values(service)).front().path,
            besideThis(pointerHelper, "virtualpointer"), layout, parser.value(count).toInt(),
            parser.value(runs).toInt(), parser.value(parser.isSet(plainRuns) ? plainRuns : runs).toInt(),
            parser.value(seconds).toDouble(), parser.value(clicks).toInt(), besideThis(clickProbe, "clickprobe"),
            parser.value(logDir));
    }
    parser.showHelp(2);
}
