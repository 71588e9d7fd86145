#include "shellextension.h"

#include "displaycheck.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

namespace ShellExtension {

namespace {

constexpr const char *ShellPath = "/org/gnome/Shell";

bool onBus(const char *name)
{
    const QDBusConnectionInterface *names = QDBusConnection::sessionBus().interface();
    return names && names->isServiceRegistered(QLatin1String(name)).value();
}

// Where the Shell looks: the user's data folder, then the system's (/usr/share). Empty if nowhere.
QString installedMetadata()
{
    return QStandardPaths::locate(QStandardPaths::GenericDataLocation,
        QStringLiteral("gnome-shell/extensions/%1/metadata.json").arg(QLatin1String(Uuid)));
}

QStringList declaredVersions(const QString &metadataPath)
{
    QFile file(metadataPath);
    if (metadataPath.isEmpty() || !file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll())
        .object()
        .value(QStringLiteral("shell-version"))
        .toVariant()
        .toStringList();
}

// "45 to 51" for an unbroken run of three releases or more, else "45, 47".
QString releases(const QStringList &versions)
{
    bool unbroken = versions.size() > 2;
    for (int i = 1; unbroken && i < versions.size(); ++i)
        unbroken = versions.at(i - 1).toInt() > 0 && versions.at(i).toInt() == versions.at(i - 1).toInt() + 1;
    return unbroken ? QStringLiteral("%1 to %2").arg(versions.first(), versions.last())
                    : versions.join(QLatin1String(", "));
}

} // namespace

bool gnomeOnWayland()
{
    return DisplayCheck::waylandDesktop() == DisplayCheck::WaylandDesktop::NoLayerShell
        && (onBus(ShellBusName) || onBus(BusName));
}

State state()
{
    if (onBus(BusName))
        return State::Active;
    return installedMetadata().isEmpty() ? State::Missing : State::Installed;
}

Status status(int timeoutMs)
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusMessage getVersion = QDBusMessage::createMethodCall(QLatin1String(ShellBusName), QLatin1String(ShellPath),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    getVersion << QLatin1String(ShellBusName) << QStringLiteral("ShellVersion");
    QDBusMessage getInfo = QDBusMessage::createMethodCall(QLatin1String(ShellBusName), QLatin1String(ShellPath),
        QStringLiteral("org.gnome.Shell.Extensions"), QStringLiteral("GetExtensionInfo"));
    getInfo << QLatin1String(Uuid);
    // Both on their way before either is waited for: one wait for the two answers.
    QDBusPendingCall version = bus.asyncCall(getVersion, timeoutMs);
    QDBusPendingCall info = bus.asyncCall(getInfo, timeoutMs);
    version.waitForFinished();
    info.waitForFinished();

    Status status;
    if (!version.isError())
        status.shellVersion = version.reply().arguments().value(0).value<QDBusVariant>().variant().toString();
    if (info.isError() || info.reply().arguments().isEmpty()) {
        const State seen = state();
        status.kind = seen == State::Active ? Status::Active
            : seen == State::Installed      ? Status::NotEnabled
                                            : Status::NotInstalled;
        status.declaredVersions = declaredVersions(installedMetadata());
        return status;
    }
    QVariantMap fields;
    info.reply().arguments().constFirst().value<QDBusArgument>() >> fields;
    const QString path = fields.value(QStringLiteral("path")).toString();
    status.declaredVersions
        = declaredVersions(path.isEmpty() ? installedMetadata() : path + QStringLiteral("/metadata.json"));
    status.error = fields.value(QStringLiteral("error")).toString();
    // The Shell's ExtensionState (misc/extensionUtils.js); no fields: the Shell knows no such extension.
    switch (fields.value(QStringLiteral("state"), 99).toInt()) {
    case 1: // enabled (called active from 48 on)
    case 8: // being enabled
        status.kind = Status::Active;
        break;
    case 2: // disabled
    case 6: // initialized, never enabled
    case 7: // being disabled
        status.kind = Status::NotEnabled;
        break;
    case 3:
        status.kind = Status::Failed;
        break;
    case 4:
        status.kind = Status::OutOfDate;
        break;
    default: // 5 downloading, 99 uninstalled
        status.kind = installedMetadata().isEmpty() ? Status::NotInstalled : Status::NotLoaded;
        break;
    }
    return status;
}

QString describe(const Status &status)
{
    const QString enable = QStringLiteral("\"gnome-extensions enable %1\"").arg(QLatin1String(Uuid));
    const QString shell = status.shellVersion.isEmpty() ? QStringLiteral("this GNOME Shell")
                                                        : QStringLiteral("GNOME Shell ") + status.shellVersion;
    switch (status.kind) {
    case Status::NotInstalled:
        return QStringLiteral("Glintor's extension for GNOME Shell is not installed: install Glintor with scripts/run "
                              "or its package, which bring it, then log out and in again");
    case Status::NotLoaded:
        return QStringLiteral("Glintor's extension for GNOME Shell was installed after GNOME Shell started, which "
                              "reads extensions only at the login: log out and in again, and if it is still off, "
                              "enable it with %1")
            .arg(enable);
    case Status::NotEnabled:
        return QStringLiteral(
            "Glintor's extension for GNOME Shell is installed but not enabled: enable it with %1 or in the Extensions app")
            .arg(enable);
    case Status::OutOfDate:
        return QStringLiteral("Glintor's extension for GNOME Shell is made for %1, not for %2, so GNOME Shell does "
                              "not load it: install a release of Glintor made for %3 (scripts/run, or the package), "
                              "then log out and in again")
            .arg(status.declaredVersions.isEmpty() ? QStringLiteral("other releases")
                                                   : QStringLiteral("GNOME Shell ") + releases(status.declaredVersions),
                shell, shell.section(QLatin1Char('.'), 0, 0));
    case Status::Failed:
        return QStringLiteral("GNOME Shell could not start Glintor's extension (%1): install Glintor again "
                              "(scripts/run, or the package), then log out and in again; GNOME Shell's log tells "
                              "more (journalctl -b /usr/bin/gnome-shell)")
            .arg(status.error.isEmpty() ? QStringLiteral("it gave no reason") : status.error);
    case Status::Active:
        break;
    }
    return QStringLiteral(
        "Glintor's extension for GNOME Shell is on: the pointer, its motion and the hotkey come from %1")
        .arg(shell);
}

} // namespace ShellExtension
