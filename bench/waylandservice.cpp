// glintor-service on a Wayland compositor: started with its log in a file, one glintor-locate call at a time.

#include "waylandservice.h"

#include "waylandlog.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QProcess>
#include <QThread>

#include <cstdio>

#include <spawn.h>
#include <sys/wait.h>

extern char **environ;

namespace {

// A call ends with its animation, or with the line that says the pointer was not found.
const QList<QByteArray> CallEnded { "Animation finished", "did not say where the pointer is" };

// Waits until the log holds the texts count times in all; the service writes to a file, so that a
// full pipe can never hold it up, and the timings come from the log's stamps, not from when this
// loop looks.
bool waitInFile(const QString &path, const QList<QByteArray> &texts, int count, int timeoutMs, const QProcess &service)
{
    const auto seen = [&] {
        int total = 0;
        for (const QByteArray &text : texts)
            total += countInFile(path, text);
        return total;
    };
    QDeadlineTimer deadline(timeoutMs);
    while (seen() < count) {
        if (deadline.hasExpired() || service.state() == QProcess::NotRunning)
            return false;
        QThread::msleep(10);
    }
    return true;
}

} // namespace

int countInFile(const QString &path, const QByteArray &text)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? int(file.readAll().count(text)) : 0;
}

bool startWaylandService(QProcess &service, const QString &path, bool debugLog, const QString &logPath)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_MESSAGE_PATTERN"), QStringLiteral("qt[%{time boot}] %{message}"));
    if (debugLog)
        environment.insert(QStringLiteral("WAYLAND_DEBUG"), QStringLiteral("client"));
    else
        environment.remove(QStringLiteral("WAYLAND_DEBUG"));
    service.setProcessEnvironment(environment);
    service.setStandardOutputFile(QProcess::nullDevice());
    service.setStandardErrorFile(logPath);
    service.start(path, QStringList());
    if (!waitInFile(logPath, { "Settings loaded" }, 1, 20000, service)) {
        std::fprintf(stderr, "%s did not start on Wayland; its log: %s\n", qPrintable(path), qPrintable(logPath));
        return false;
    }
    // Its bus name is taken right after the overlay is built.
    QThread::sleep(2);
    return true;
}

bool locateOnce(const QString &logPath, const QProcess &service, int index, LocateCall &call,
    const std::function<bool(const QElapsedTimer &sinceExec)> &meanwhile)
{
    static const QByteArray locate = QFile::encodeName(QCoreApplication::applicationDirPath() + "/glintor-locate");
    char *const arguments[] = { const_cast<char *>(locate.constData()), nullptr };
    QElapsedTimer sinceExec;
    sinceExec.start();
    call.monotonicMs = monotonicMilliseconds();
    call.wallUs = wallClockMicroseconds();
    pid_t command = -1;
    if (posix_spawn(&command, locate.constData(), nullptr, nullptr, arguments, environ) != 0)
        return false;
    const bool done = !meanwhile || meanwhile(sinceExec);
    int status = 0;
    if (::waitpid(command, &status, 0) != command || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || !done) {
        std::fprintf(stderr, "glintor-locate failed (call %d)\n", index + 1);
        return false;
    }
    if (!waitInFile(logPath, CallEnded, index + 1, 10000, service)) {
        std::fprintf(stderr, "call %d: nothing ended within 10 s; log: %s\n", index + 1, qPrintable(logPath));
        return false;
    }
    return true;
}

bool pointerCommand(QProcess &pointer, const QByteArray &command)
{
    pointer.write(command + '\n');
    pointer.waitForBytesWritten(1000);
    return pointer.waitForReadyRead(10000) && pointer.readLine().trimmed() == "ok";
}
