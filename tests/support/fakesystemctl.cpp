#include "fakesystemctl.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <csignal>
#include <sys/types.h>

namespace {

// @STATE@ is replaced by the stand-in's folder; the unit's command line lives in unit.sh there.
const char ScriptTemplate[] = R"SH(#!/bin/sh
# Stand-in for "systemctl --user", written by a Glintor test.
state='@STATE@'
printf '%s\n' "$*" >> "$state/calls.log"
if [ "$1" != --user ]; then
    echo "stand-in systemctl: only --user calls are expected" >&2
    exit 1
fi
command=$2
unit=$3

answer=$state/answers/$command
if [ -f "$answer" ]; then
    [ -f "$answer.out" ] && cat "$answer.out"
    read -r action code < "$answer"
    case $action in
    exit) exit "$code" ;;
    hang) echo $$ > "$state/hung.pid"; exec sleep 3600 ;;
    crash) ulimit -c 0; kill -SEGV $$; exit 0 ;;
    esac
    exit 0
fi

running() {
    [ -f "$state/unit.pid" ] || return 1
    pid=$(cat "$state/unit.pid")
    [ -r "/proc/$pid/stat" ] || return 1
    # An ended process that nobody has reaped yet is not running.
    ! grep -q ') Z ' "/proc/$pid/stat"
}

case $command in
daemon-reload)
    exit 0 ;;
is-active)
    if [ "$unit" = glintor.service ] && running; then
        echo active
        exit 0
    fi
    echo inactive
    exit 3 ;;
start)
    if [ "$unit" != glintor.service ]; then
        echo "Failed to start $unit: Unit $unit not found." >&2
        exit 5
    fi
    conf=${XDG_CONFIG_HOME:-$HOME/.config}/Glintor/Settings.conf
    if [ -f "$conf" ]; then cp "$conf" "$state/settings-at-start"; else : > "$state/settings-at-start"; fi
    running && exit 0
    sh "$state/unit.sh" < /dev/null >> "$state/unit.log" 2>&1 &
    echo $! > "$state/unit.pid"
    exit 0 ;;
stop)
    if [ "$unit" != glintor.service ]; then
        echo "Failed to stop $unit: Unit $unit not loaded." >&2
        exit 5
    fi
    if running; then
        kill "$pid"
        tries=0
        while running && [ $tries -lt 100 ]; do sleep 0.05; tries=$((tries + 1)); done
        running && kill -KILL "$pid"
    fi
    rm -f "$state/unit.pid"
    exit 0 ;;
*)
    echo "Unknown command verb $command." >&2
    exit 1 ;;
esac
)SH";

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

qint64 readPid(const QString &path)
{
    return readFile(path).trimmed().toLongLong();
}

void killAndWait(qint64 pid)
{
    if (pid <= 0 || !FakeSystemctl::processExists(pid))
        return;
    ::kill(pid_t(pid), SIGKILL);
    QElapsedTimer timer;
    timer.start();
    while (FakeSystemctl::processExists(pid) && timer.elapsed() < 3000)
        QThread::msleep(10);
}

} // namespace

FakeSystemctl::FakeSystemctl(const QString &unitCommand)
{
    if (!dir.isValid())
        return;
    QDir(dir.path()).mkpath(QStringLiteral("bin"));
    QDir(dir.path()).mkpath(QStringLiteral("answers"));
    QByteArray script(ScriptTemplate);
    script.replace("@STATE@", QFile::encodeName(dir.path()));
    const QString scriptPath = path(QStringLiteral("bin/systemctl"));
    valid = writeFile(scriptPath, script) && writeFile(path(QStringLiteral("unit.sh")), unitCommand.toUtf8() + '\n')
        && QFile::setPermissions(scriptPath, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

FakeSystemctl::~FakeSystemctl()
{
    if (pathInstalled)
        qputenv("PATH", savedPath);
    killAndWait(unitPid());
    killAndWait(hungPid());
}

QString FakeSystemctl::path(const QString &name) const
{
    return dir.path() + QLatin1Char('/') + name;
}

QString FakeSystemctl::binDirectory() const
{
    return path(QStringLiteral("bin"));
}

void FakeSystemctl::installOnPath()
{
    if (!pathInstalled) {
        savedPath = qgetenv("PATH");
        pathInstalled = true;
    }
    qputenv("PATH", QFile::encodeName(binDirectory()) + ':' + savedPath);
}

QProcessEnvironment FakeSystemctl::environment(QProcessEnvironment environment) const
{
    const QString path = environment.value(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
    environment.insert(QStringLiteral("PATH"), binDirectory() + QLatin1Char(':') + path);
    return environment;
}

QStringList FakeSystemctl::calls() const
{
    return QString::fromUtf8(readFile(path(QStringLiteral("calls.log")))).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList FakeSystemctl::callsOf(const QString &command) const
{
    QStringList matching;
    const QStringList all = calls();
    for (const QString &call : all) {
        if (call.section(QLatin1Char(' '), 1, 1) == command)
            matching << call;
    }
    return matching;
}

void FakeSystemctl::clearCalls()
{
    QFile::remove(path(QStringLiteral("calls.log")));
}

void FakeSystemctl::writeAnswer(const QString &command, const QByteArray &action, const QByteArray &output)
{
    const QString answer = path(QStringLiteral("answers/") + command);
    writeFile(answer + QStringLiteral(".out"), output);
    writeFile(answer, action + '\n');
}

void FakeSystemctl::answerExitCode(const QString &command, int exitCode, const QByteArray &output)
{
    writeAnswer(command, "exit " + QByteArray::number(exitCode), output);
}

void FakeSystemctl::answerOutput(const QString &command, const QByteArray &output)
{
    writeAnswer(command, "exit 0", output);
}

void FakeSystemctl::answerHang(const QString &command, const QByteArray &output)
{
    writeAnswer(command, "hang", output);
}

void FakeSystemctl::answerCrash(const QString &command, const QByteArray &output)
{
    writeAnswer(command, "crash", output);
}

void FakeSystemctl::answerNormally(const QString &command)
{
    const QString answer = path(QStringLiteral("answers/") + command);
    QFile::remove(answer);
    QFile::remove(answer + QStringLiteral(".out"));
}

qint64 FakeSystemctl::unitPid() const
{
    const qint64 pid = readPid(path(QStringLiteral("unit.pid")));
    if (!processExists(pid))
        return 0;
    return pid;
}

qint64 FakeSystemctl::hungPid() const
{
    return readPid(path(QStringLiteral("hung.pid")));
}

std::optional<QByteArray> FakeSystemctl::settingsAtLastStart() const
{
    QFile file(path(QStringLiteral("settings-at-start")));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

bool FakeSystemctl::processExists(qint64 pid)
{
    if (pid <= 0)
        return false;
    // A zombie has ended; only its exit status waits to be collected.
    const QByteArray stat = readFile(QStringLiteral("/proc/%1/stat").arg(pid));
    return !stat.isEmpty() && !stat.contains(") Z ");
}
