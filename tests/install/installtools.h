#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// What one run of an external command gave.
struct CommandResult {
    bool finished = false; // started and ended by itself within the time allowed
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    bool succeeded() const { return finished && exitCode == 0; }
    QString describe() const;
};

// Runs program with arguments and waits for it; environment defaults to the caller's.
CommandResult runCommand(const QString &program, const QStringList &arguments, int timeoutMs = 120000,
                         const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment(),
                         const QString &workingDirectory = QString());

QByteArray readFile(const QString &path);

// Writes a shell script with mode 0755.
bool writeScript(const QString &path, const QByteArray &body);

// A stand-in for systemctl: appends each call's arguments as one line to the file named by
// $FAKE_SYSTEMCTL_LOG. "is-enabled" exits with $FAKE_SYSTEMCTL_ENABLED (default 1), every other
// call with $FAKE_SYSTEMCTL_STATUS (default 0); a status of 1 acts as "no user manager".
bool writeFakeSystemctl(const QString &directory);

// Stand-ins for apt: dpkg-query finds no package installed, apt-get appends each call's arguments as
// one line to the file named by $FAKE_APT_LOG, sudo runs its arguments. With $APT_CONFIG set to
// directory/apt.conf, apt's lists and dpkg folders (and so its locks) lie in directory/lists and
// directory/dpkg, away from the machine's.
bool writeFakeApt(const QString &directory);
