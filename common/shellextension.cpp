#include "shellextension.h"

#include "displaycheck.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QStandardPaths>

namespace ShellExtension {

namespace {

bool onBus(const char *name)
{
    const QDBusConnectionInterface *names = QDBusConnection::sessionBus().interface();
    return names && names->isServiceRegistered(QLatin1String(name)).value();
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
    // Where the Shell looks: the user's data folder, then the system's (/usr/share).
    const QString metadata = QStringLiteral("gnome-shell/extensions/%1/metadata.json").arg(QLatin1String(Uuid));
    return QStandardPaths::locate(QStandardPaths::GenericDataLocation, metadata).isEmpty() ? State::Missing
                                                                                            : State::Installed;
}

} // namespace ShellExtension
