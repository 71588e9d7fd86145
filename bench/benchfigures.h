#pragma once

// What the benchmarks read of a process in /proc, the statistics they take and how they print them,
// shared by glintor-bench and glintor-gnome-bench.

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QString>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <unistd.h>

namespace BenchFigures {

// One line of the figures, flushed at once: scripts/bench reads them through a pipe.
inline void out(const QString &line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

template <typename T> T median(std::vector<T> values)
{
    if (values.empty())
        return T();
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

template <typename T> T worst(const std::vector<T> &values)
{
    return values.empty() ? T() : *std::max_element(values.begin(), values.end());
}

inline QString ms(double milliseconds)
{
    return QString::number(milliseconds, 'f', milliseconds < 10 ? 2 : 1) + QStringLiteral(" ms");
}

// A median, or a median and the worst, of milliseconds; "–" for none.
inline QString msOrNone(const std::vector<double> &values, bool worstToo = false)
{
    if (values.empty())
        return QStringLiteral("–");
    return worstToo ? ms(median(values)) + QStringLiteral(" / ") + ms(worst(values)) : ms(median(values));
}

inline QString megabytesOfKb(qint64 kb)
{
    return QString::number(kb / 1024.0, 'f', 1) + QStringLiteral(" MB");
}

// Field column of every thread's schedstat, added up: 0 is nanoseconds on a CPU, 2 the times a
// thread was put on one (its wakeups).
inline qint64 schedstat(qint64 pid, int column)
{
    if (pid <= 0)
        return 0;
    qint64 total = 0;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(tasks.filePath(task + QStringLiteral("/schedstat")));
        if (file.open(QIODevice::ReadOnly))
            total += file.readAll().trimmed().split(' ').value(column).toLongLong();
    }
    return total;
}

inline qint64 cpuNanoseconds(qint64 pid)
{
    return schedstat(pid, 0);
}

inline qint64 wakeups(qint64 pid)
{
    return schedstat(pid, 2);
}

// The same field thread by thread, to count what a process did over a while: a thread that ends
// meanwhile must not take what it did before out of the sum (it made the service's wakeups at rest
// negative on GNOME 48 and 51).
using ThreadCounts = QHash<QString, qint64>;

inline ThreadCounts threadSchedstat(qint64 pid, int column)
{
    ThreadCounts counts;
    if (pid <= 0)
        return counts;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(tasks.filePath(task + QStringLiteral("/schedstat")));
        if (file.open(QIODevice::ReadOnly))
            counts.insert(task, file.readAll().trimmed().split(' ').value(column).toLongLong());
    }
    return counts;
}

inline qint64 schedstatSince(qint64 pid, int column, const ThreadCounts &before)
{
    const ThreadCounts now = threadSchedstat(pid, column);
    qint64 total = 0;
    for (auto it = now.cbegin(); it != now.cend(); ++it)
        total += it.value() - before.value(it.key(), 0);
    return total;
}

// CPU, in % of a core, and wakeups a second of each process over seconds at rest, this thread asleep
// meanwhile.
struct AtRest {
    double seconds = 0;
    std::vector<double> cpuPercent, wakeupsPerSecond;
};

inline AtRest measureRest(const std::vector<qint64> &pids, double seconds)
{
    std::vector<ThreadCounts> cpu0, wakeups0;
    for (const qint64 pid : pids) {
        cpu0.push_back(threadSchedstat(pid, 0));
        wakeups0.push_back(threadSchedstat(pid, 2));
    }
    QElapsedTimer timer;
    timer.start();
    QThread::msleep(qint64(seconds * 1000));
    AtRest rest;
    rest.seconds = timer.nsecsElapsed() / 1e9;
    for (size_t i = 0; i < pids.size(); ++i) {
        rest.cpuPercent.push_back(schedstatSince(pids[i], 0, cpu0[i]) / 1e9 / rest.seconds * 100);
        rest.wakeupsPerSecond.push_back(schedstatSince(pids[i], 2, wakeups0[i]) / rest.seconds);
    }
    return rest;
}

// User and system time of the whole process in nanoseconds, threads that have ended included (in clock
// ticks, 10 ms each): for a process whose threads come and go, which a sum over its tasks misses.
inline qint64 processCpuNanoseconds(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !file.open(QIODevice::ReadOnly))
        return 0;
    // "pid (name) state ppid ...": utime and stime are the 12th and 13th fields after the name.
    const QByteArray text = file.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toLongLong() + fields.value(12).toLongLong()) * (1000000000 / sysconf(_SC_CLK_TCK));
}

// A field of /proc/PID/status in kB (VmRSS, VmHWM); -1 when there is none.
inline qint64 statusKb(qint64 pid, const char *field)
{
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

} // namespace BenchFigures
