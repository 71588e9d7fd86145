// The systemctl runs behind UnitControl, each bounded in time, and the reading of their answers.

#include "unitcontrol.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QThread>

namespace {

const QString UnitName = QStringLiteral("glintor.service");
constexpr int RestartPauseMs = 500;
// A killed systemctl ends at once; this only bounds the wait for its exit to be reported.
constexpr int KilledExitWaitMs = 5000;

struct SystemctlRun {
    // True only when systemctl started, ended by itself within the wait and was not killed by a signal:
    // a missing, crashed or hung systemctl must never pass for a success.
    bool completed = false;
    int exitCode = -1;
    QByteArray output;

    bool succeeded() const { return completed && exitCode == 0; }
};

SystemctlRun runSystemctl(const QStringList &arguments, int timeoutMs)
{
    SystemctlRun run;
    QProcess process;
    process.start(QStringLiteral("systemctl"), QStringList { QStringLiteral("--user") } + arguments);
    if (process.waitForFinished(timeoutMs)) {
        run.completed = process.exitStatus() == QProcess::NormalExit;
        run.exitCode = process.exitCode();
        run.output = process.readAllStandardOutput();
    } else if (process.state() != QProcess::NotRunning) {
        // Hung: end it here, so that no stray systemctl outlives the wait.
        process.kill();
        process.waitForFinished(KilledExitWaitMs);
    }
    return run;
}

} // namespace

UnitControl::UnitControl(int timeoutMs)
    : systemctlTimeoutMs(timeoutMs)
{
}

void UnitControl::setSystemctlTimeout(int milliseconds)
{
    systemctlTimeoutMs = milliseconds;
}

bool UnitControl::start()
{
    return runSystemctl({ QStringLiteral("start"), UnitName }, systemctlTimeoutMs).succeeded();
}

bool UnitControl::stop()
{
    return runSystemctl({ QStringLiteral("stop"), UnitName }, systemctlTimeoutMs).succeeded();
}

bool UnitControl::restart()
{
    runSystemctl({ QStringLiteral("daemon-reload") }, systemctlTimeoutMs);
    runSystemctl({ QStringLiteral("stop"), UnitName }, systemctlTimeoutMs);
    QThread::msleep(RestartPauseMs);
    const bool started = runSystemctl({ QStringLiteral("start"), UnitName }, systemctlTimeoutMs).succeeded();
    if (!started) {
        // Only the service installed beside this program, never whatever the working directory holds.
        const QString service = QCoreApplication::applicationDirPath() + QStringLiteral("/glintor-service");
        if (QFileInfo(service).isExecutable())
            QProcess::startDetached(service, { QStringLiteral("--debug") });
    }
    return started;
}

bool UnitControl::isActive()
{
    const SystemctlRun run = runSystemctl({ QStringLiteral("is-active"), UnitName }, systemctlTimeoutMs);
    // Only the printed word counts; the text stops at a NUL byte, as a C string would.
    const QString state = run.completed ? QString::fromUtf8(run.output.trimmed().constData()) : QString();
    return state == QLatin1String("active");
}
