#include "sessionbus.h"

SessionBus::SessionBus()
{
    if (!dir.isValid())
        return;
    daemon.setStandardErrorFile(QProcess::nullDevice());
    daemon.start(QStringLiteral("dbus-daemon"),
        { QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
            QStringLiteral("--address=unix:path=") + dir.filePath(QStringLiteral("bus")),
            QStringLiteral("--print-address=1") });
    if (!daemon.waitForStarted(5000))
        return;
    // The address is printed once the bus listens.
    QByteArray printed;
    while (!printed.contains('\n') && daemon.waitForReadyRead(10000))
        printed += daemon.readAllStandardOutput();
    busAddress = QString::fromUtf8(printed).trimmed();
}

SessionBus::~SessionBus()
{
    stop();
}

QProcessEnvironment SessionBus::environment(QProcessEnvironment env) const
{
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
    return env;
}

void SessionBus::stop()
{
    if (daemon.state() != QProcess::NotRunning) {
        daemon.kill();
        daemon.waitForFinished(3000);
    }
}
