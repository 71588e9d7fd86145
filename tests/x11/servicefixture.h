#pragma once

#include "serviceprocess.h"
#include "xserver.h"

#include <QElapsedTimer>
#include <QPoint>
#include <QSettings>
#include <QTemporaryDir>
#include <QVariantMap>

#include <memory>

// What the trigger tests share: a private X server, a settings folder of their own (also this
// process's, so QSettings here writes the file the service reads) and the real service on them.
class ServiceFixture
{
public:
    ServiceFixture()
    {
        if (configDir.isValid())
            qputenv("XDG_CONFIG_HOME", configDir.path().toLocal8Bit());
    }

    bool isReady() const { return configDir.isValid() && xserver.isRunning(); }
    const XServer &x() const { return xserver; }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = xserver.environment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configDir.path());
        env.remove(QStringLiteral("QT_MESSAGE_PATTERN"));
        return env;
    }

    void writeSettings(const QVariantMap &values) const
    {
        QSettings settings(QStringLiteral("Glintor"), QStringLiteral("Settings"));
        settings.clear();
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            settings.setValue(it.key(), it.value());
        settings.sync();
    }

    std::unique_ptr<ProgramRun> startService(const QStringList &arguments) const
    {
        return startService(arguments, environment());
    }

    static std::unique_ptr<ProgramRun> startService(const QStringList &arguments, const QProcessEnvironment &env)
    {
        auto run = std::make_unique<ProgramRun>(builtProgram(QStringLiteral("glintor-service")), arguments, env);
        // The overlay logs this while it is built, just before the key handler and the hotkey thread.
        run->waitForLine(QStringLiteral("Settings loaded"), 15000);
        return run;
    }

private:
    QTemporaryDir configDir;
    XServer xserver;
};

inline QString pointText(const QPoint &point)
{
    return QStringLiteral("QPoint(%1,%2)").arg(point.x()).arg(point.y());
}

inline QStringList xdotoolMove(const QPoint &point)
{
    return { QStringLiteral("mousemove"), QString::number(point.x()), QString::number(point.y()) };
}

inline int countLines(ProgramRun &run, const QString &text)
{
    return run.linesContaining(text).size();
}

// Waits until at least n log lines contain text; false if the service ended or time ran out first.
inline bool waitForCount(ProgramRun &run, const QString &text, int n, int timeoutMs = 15000)
{
    QElapsedTimer timer;
    timer.start();
    while (countLines(run, text) < n) {
        if (timer.elapsed() > timeoutMs || run.process().state() == QProcess::NotRunning)
            return countLines(run, text) >= n;
        run.process().waitForReadyRead(50);
    }
    return true;
}

// Sideways swings 50 ms apart (the 20 ms poll sees every one of them), after a pause that lets
// earlier moves leave the shake window.
inline QStringList shakeGesture(int y, int left = 400, int right = 600, int swings = 6)
{
    QStringList args = xdotoolMove(QPoint(left, y));
    args << QStringLiteral("sleep") << QStringLiteral("0.8");
    for (int i = 0; i < swings; ++i)
        args << xdotoolMove(QPoint(i % 2 ? left : right, y)) << QStringLiteral("sleep") << QStringLiteral("0.05");
    return args;
}

// Presses Ctrl+Alt+M until run has logged line count times: the hotkey thread makes its grab shortly
// after start-up, and a service that took over makes it once the older one is gone.
inline bool pressHotkeyUntil(const XServer &x, ProgramRun &run, const QString &line, int count = 1)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 20000 && run.process().state() == QProcess::Running) {
        if (!x.xdotool({ QStringLiteral("key"), QStringLiteral("ctrl+alt+m") }))
            return false;
        if (waitForCount(run, line, count, 400))
            return true;
    }
    return false;
}
