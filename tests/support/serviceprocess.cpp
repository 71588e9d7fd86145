#include "serviceprocess.h"

#include <QElapsedTimer>

#include <csignal>
#include <sys/types.h>

ProgramRun::ProgramRun(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment)
{
    proc.setProcessEnvironment(environment);
    proc.setProcessChannelMode(QProcess::SeparateChannels);
    proc.start(program, arguments);
    proc.waitForStarted(5000);
}

ProgramRun::~ProgramRun()
{
    if (proc.state() != QProcess::NotRunning) {
        proc.kill();
        proc.waitForFinished(3000);
    }
}

void ProgramRun::collect()
{
    outBuffer += proc.readAllStandardOutput();
    errBuffer += proc.readAllStandardError();
    int newline;
    while ((newline = errBuffer.indexOf('\n')) >= 0) {
        logLines << QString::fromUtf8(errBuffer.left(newline));
        errBuffer.remove(0, newline + 1);
    }
}

QString ProgramRun::waitForLine(const QString &text, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    int checked = 0;
    for (;;) {
        collect();
        for (; checked < logLines.size(); ++checked) {
            if (logLines.at(checked).contains(text))
                return logLines.at(checked);
        }
        if (timer.elapsed() >= timeoutMs || proc.state() == QProcess::NotRunning)
            break;
        proc.waitForReadyRead(qMax<qint64>(1, qMin<qint64>(50, timeoutMs - timer.elapsed())));
    }
    collect();
    for (; checked < logLines.size(); ++checked) {
        if (logLines.at(checked).contains(text))
            return logLines.at(checked);
    }
    return QString();
}

QStringList ProgramRun::linesContaining(const QString &text)
{
    collect();
    return logLines.filter(text);
}

QStringList ProgramRun::lines()
{
    collect();
    return logLines;
}

QByteArray ProgramRun::standardOutput()
{
    collect();
    return outBuffer;
}

bool ProgramRun::sendSignal(int sig)
{
    return proc.processId() > 0 && ::kill(pid_t(proc.processId()), sig) == 0;
}

int ProgramRun::waitForExit(int timeoutMs)
{
    if (!proc.waitForFinished(timeoutMs) && proc.state() != QProcess::NotRunning)
        return -1;
    collect();
    return proc.exitStatus() == QProcess::NormalExit ? proc.exitCode() : -1;
}

QString builtProgram(const QString &name)
{
    return QStringLiteral(GLINTOR_BIN_DIR "/") + name;
}

QByteArray runToEnd(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment,
    bool *ok)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(program, arguments);
    const bool finished = process.waitForStarted(5000) && process.waitForFinished(20000);
    if (!finished) {
        process.kill();
        process.waitForFinished(1000);
    }
    if (ok)
        *ok = finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return process.readAllStandardOutput();
}
