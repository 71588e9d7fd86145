#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QString>
#include <QStringList>

#include <sys/stat.h>

// Small helpers the soak and fault tests share: memory and CPU figures read from /proc, the log
// lines a healthy service writes, and a fingerprint of a settings folder.
namespace Soak {

// RSS may grow this much over a soak, in kB.
constexpr qint64 RssSlackKb = 2048;

// How many rounds a soak runs. Under a sanitizer a tenth: its errors show in the first rounds,
// every round costs several times as long, and RSS, which the many rounds are there for, is not
// compared.
inline int rounds(int normal)
{
    return qEnvironmentVariableIsSet("GLINTOR_SANITIZED") ? qMax(1, normal / 10) : normal;
}

// A field of /proc/<pid>/status in kB (VmRSS, VmHWM, ...), or -1.
inline qint64 statusField(qint64 pid, const char *field)
{
    QFile file(pid > 0 ? QStringLiteral("/proc/%1/status").arg(pid) : QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Whether the process has a handler of its own for sig (from SigCgt), and how many threads it runs.
struct SignalState {
    bool readable = false;
    bool caught = false;
    int threads = 0;
};

inline SignalState signalState(qint64 pid, int sig)
{
    SignalState state;
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return state;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith("SigCgt:")) {
            bool ok = false;
            const quint64 mask = line.mid(7).trimmed().toULongLong(&ok, 16);
            state.readable = ok;
            state.caught = ok && (mask >> (sig - 1)) & 1U;
        } else if (line.startsWith("Threads:")) {
            state.threads = line.mid(8).trimmed().toInt();
        }
    }
    return state;
}

// Nanoseconds on a CPU, summed over all threads of pid (from schedstat).
inline qint64 cpuNanoseconds(qint64 pid)
{
    qint64 total = 0;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(tasks.filePath(task + QStringLiteral("/schedstat")));
        if (file.open(QIODevice::ReadOnly))
            total += file.readAll().split(' ').value(0).toLongLong();
    }
    return total;
}

// Child processes log with this pattern, so every line of Qt's message logger starts with its type.
constexpr const char *MessagePattern = "%{type}|%{message}";

// In a healthy run the service writes only debug and info lines; a warning of Qt's (a "QObject::"
// or "qt.qpa.xcb:" complaint), an X error printed by Xlib or a sanitizer report is a fault.
inline QStringList unhealthyLines(const QStringList &lines)
{
    QStringList unhealthy;
    for (const QString &line : lines) {
        if (!line.startsWith(QLatin1String("debug|")) && !line.startsWith(QLatin1String("info|")))
            unhealthy << line;
    }
    return unhealthy;
}

// Everything under a folder: relative path => size, modification time in ns, mode and content.
// Two equal fingerprints mean that nothing was written, created, removed or touched.
inline QMap<QString, QByteArray> fingerprint(const QString &folder)
{
    QMap<QString, QByteArray> result;
    const QDir root(folder);
    QStringList pending { QString() };
    while (!pending.isEmpty()) {
        const QString relative = pending.takeFirst();
        const QDir dir(root.filePath(relative));
        for (const QFileInfo &info :
            dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name)) {
            const QString name = relative.isEmpty() ? info.fileName() : relative + QLatin1Char('/') + info.fileName();
            struct stat st { };
            ::lstat(QFile::encodeName(info.filePath()).constData(), &st);
            QByteArray entry = QByteArray::number(qint64(st.st_size)) + ' '
                + QByteArray::number(qint64(st.st_mtim.tv_sec)) + '.' + QByteArray::number(qint64(st.st_mtim.tv_nsec))
                + ' ' + QByteArray::number(uint(st.st_mode), 8);
            if (info.isDir()) {
                pending << name;
            } else {
                QFile file(info.filePath());
                if (file.open(QIODevice::ReadOnly))
                    entry += '\n' + file.readAll();
            }
            result.insert(name, entry);
        }
    }
    return result;
}

} // namespace Soak

// Fails the test function when RSS grew by more than Soak::RssSlackKb; a macro, so that a failure returns from it
// as a QVERIFY does. Under a sanitizer nothing is compared: its allocator keeps freed memory in quarantine.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define SOAK_VERIFY_RSS_GROWTH(first, after) \
    qInfo("RSS not compared: the sanitizer's allocator keeps freed memory in quarantine")
#else
#define SOAK_VERIFY_RSS_GROWTH(first, after) \
    QVERIFY2((after) - (first) <= Soak::RssSlackKb, \
        qPrintable(QStringLiteral("RSS grew by %1 kB").arg((after) - (first))))
#endif
