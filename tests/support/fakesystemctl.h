#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <optional>

// A stand-in for "systemctl --user", written as a shell script into a temporary folder that a test puts
// first on PATH (the systemd user manager cannot run on test machines). It records every call, one line
// of arguments per call, and answers like the real one for the unit glintor.service: exit 0 and "active",
// or exit 3 and "inactive", for is-active; exit 5 for any other unit. start and stop really start and
// stop a process for the unit (by default a sleep), so tests can watch the service come and go.
// Single commands can be made to fail, print other text, hang or crash.
class FakeSystemctl
{
public:
    // unitCommand is a shell command line that start runs in the background; end it with exec so that
    // the recorded pid is the unit's process itself.
    explicit FakeSystemctl(const QString &unitCommand = QStringLiteral("exec sleep 3600"));
    ~FakeSystemctl();
    FakeSystemctl(const FakeSystemctl &) = delete;
    FakeSystemctl &operator=(const FakeSystemctl &) = delete;

    bool isValid() const { return valid; }
    // The folder that holds the "systemctl" script.
    QString binDirectory() const;
    // Puts the stand-in first on PATH of this process (and so of its children) until destruction.
    void installOnPath();
    // environment with the stand-in first on its PATH, for a child process.
    QProcessEnvironment environment(QProcessEnvironment environment) const;

    // Arguments of every call so far, in order, e.g. "--user is-active glintor.service".
    QStringList calls() const;
    QStringList callsOf(const QString &command) const;
    void clearCalls();

    // Overrides the answer to one command ("is-active", "start", "stop", "daemon-reload") until reset.
    void answerExitCode(const QString &command, int exitCode, const QByteArray &output = QByteArray());
    void answerOutput(const QString &command, const QByteArray &output);
    // Prints output, then sleeps until killed.
    void answerHang(const QString &command, const QByteArray &output = QByteArray());
    // Prints output, then dies from SIGSEGV.
    void answerCrash(const QString &command, const QByteArray &output = QByteArray());
    void answerNormally(const QString &command);

    // Pid of the unit's process while the unit runs, else 0.
    qint64 unitPid() const;
    // Pid of the last call that was told to hang, else 0.
    qint64 hungPid() const;
    // The user's settings file as it was when the last start ran (empty if there was none);
    // no value if no start has run.
    std::optional<QByteArray> settingsAtLastStart() const;

    static bool processExists(qint64 pid);

private:
    void writeAnswer(const QString &command, const QByteArray &action, const QByteArray &output);
    QString path(const QString &name) const;

    QTemporaryDir dir;
    bool valid = false;
    bool pathInstalled = false;
    QByteArray savedPath;
};
