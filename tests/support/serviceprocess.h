#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

// Runs the real glintor-service (or glintor-gui) from the build tree and collects what it logs on
// standard error, line by line.
class ProgramRun
{
public:
    ProgramRun(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment);
    ~ProgramRun();
    ProgramRun(const ProgramRun &) = delete;
    ProgramRun &operator=(const ProgramRun &) = delete;

    QProcess &process() { return proc; }
    qint64 pid() const { return proc.processId(); }

    // Waits until a log line containing text appears; returns that line, or an empty string.
    QString waitForLine(const QString &text, int timeoutMs = 5000);
    // Lines logged so far that contain text.
    QStringList linesContaining(const QString &text);
    QStringList lines();
    QByteArray standardOutput();
    bool sendSignal(int sig);
    // Waits for the exit; returns the exit code, or -1 if it crashed or did not end in time.
    int waitForExit(int timeoutMs = 5000);

private:
    void collect();

    QProcess proc;
    QByteArray errBuffer;
    QByteArray outBuffer;
    QStringList logLines;
};

// Path of a program built by this project (glintor-service, glintor-gui).
QString builtProgram(const QString &name);

// Runs a helper program (xdotool, grim, swaymsg, ...) to its end, its errors discarded: returns its
// standard output; ok tells whether it exited with status 0 within 20 s.
QByteArray runToEnd(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment,
    bool *ok = nullptr);
