#include "sessionbus.h"

#include <QFile>

SessionBus::SessionBus(Access access, const QProcessEnvironment &environment)
{
    if (!dir.isValid())
        return;
    QStringList arguments { QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
        QStringLiteral("--address=unix:path=") + dir.filePath(QStringLiteral("bus")), QStringLiteral("--print-address=1") };
    if (access == Access::AnyUser) {
        // The session configuration admits only the bus's own user; this one admits everyone.
        QFile config(dir.filePath(QStringLiteral("bus.conf")));
        if (!config.open(QIODevice::WriteOnly)
            || config.write("<busconfig><type>session</type><listen>unix:path=" + dir.filePath("bus").toUtf8()
                            + "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow user=\"*\"/>"
                              "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                              "<allow own=\"*\"/></policy></busconfig>\n")
                < 0)
            return;
        config.close();
        QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFile::ExeOther | QFile::ExeGroup);
        arguments = QStringList { QStringLiteral("--config-file=") + config.fileName(), QStringLiteral("--nofork"),
            QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1") };
    }
    if (!environment.isEmpty())
        daemon.setProcessEnvironment(environment);
    daemon.setStandardErrorFile(QProcess::nullDevice());
    daemon.start(QStringLiteral("dbus-daemon"), arguments);
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
