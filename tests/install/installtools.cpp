#include "installtools.h"

#include <QDir>
#include <QFile>
#include <QProcess>

QString CommandResult::describe() const
{
    return QStringLiteral("finished %1, exit code %2\nstdout:\n%3\nstderr:\n%4")
        .arg(finished)
        .arg(exitCode)
        .arg(QString::fromUtf8(out), QString::fromUtf8(err));
}

CommandResult runCommand(const QString &program, const QStringList &arguments, int timeoutMs,
                         const QProcessEnvironment &environment, const QString &workingDirectory)
{
    CommandResult result;
    QProcess process;
    process.setProcessEnvironment(environment);
    if (!workingDirectory.isEmpty())
        process.setWorkingDirectory(workingDirectory);
    process.start(program, arguments);
    if (!process.waitForStarted(10000)) {
        result.err = process.errorString().toUtf8();
        return result;
    }
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
    } else {
        result.finished = process.exitStatus() == QProcess::NormalExit;
        result.exitCode = process.exitCode();
    }
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

bool writeScript(const QString &path, const QByteArray &body)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(body) != body.size())
        return false;
    file.close();
    return file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                               | QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther
                               | QFileDevice::ExeOther);
}

bool writeFakeSystemctl(const QString &directory)
{
    return writeScript(directory + QStringLiteral("/systemctl"),
                       "#!/bin/sh\n"
                       "echo \"$*\" >> \"$FAKE_SYSTEMCTL_LOG\"\n"
                       "for argument in \"$@\"; do\n"
                       "    [ \"$argument\" = is-enabled ] && exit \"${FAKE_SYSTEMCTL_ENABLED:-1}\"\n"
                       "done\n"
                       "exit \"${FAKE_SYSTEMCTL_STATUS:-0}\"\n");
}

bool writeFakeApt(const QString &directory)
{
    const QByteArray folder = QFile::encodeName(directory);
    return QDir(directory).mkpath(QStringLiteral("lists")) && QDir(directory).mkpath(QStringLiteral("dpkg"))
        && writeScript(directory + QStringLiteral("/apt.conf"),
            "Dir::State::Lists \"" + folder + "/lists/\";\nDir::State::status \"" + folder + "/dpkg/status\";\n")
        && writeScript(directory + QStringLiteral("/dpkg-query"), "#!/bin/sh\nexit 1\n")
        && writeScript(directory + QStringLiteral("/apt-get"), "#!/bin/sh\necho \"$*\" >> \"$FAKE_APT_LOG\"\n")
        && writeScript(directory + QStringLiteral("/sudo"), "#!/bin/sh\nexec \"$@\"\n");
}
