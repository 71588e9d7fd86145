#include "layershelldesktop.h"

#include "locatebus.h"
#include "locateinterface.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDebug>

LayerShellDesktop::LayerShellDesktop(Glintor *overlay_, LocateInterface *bus_, bool debug_)
    : Desktop(overlay_, bus_, debug_)
{
}

bool LayerShellDesktop::start()
{
    qInfo("On Wayland the compositor gives no program the keys or the pointer's motion: the hotkey, the shake "
          "and the Ctrl tap are off. Bind a key to glintor-locate in the compositor's settings instead");
    // Without the bus name nothing could ever trigger this service: it ends, after one line.
    const QDBusConnection connection = QDBusConnection::sessionBus();
    if (!connection.isConnected()) {
        qWarning().noquote() << "No D-Bus session bus (" + connection.lastError().message()
                + "): on Wayland glintor-locate is this service's only trigger. Exiting.";
        return false;
    }
    // No display selection exists here: the bus name is how an older service learns it was replaced.
    connect(bus, &LocateInterface::nameLost, this, [this] {
        qInfo("Another glintor-service took over this display. Exiting.");
        emit replaced();
    });
    if (!bus->registerOn(connection, LocateBus::serviceName(true), LocateInterface::OnLoss::StepAside)) {
        qWarning("Nothing can trigger this service on Wayland without its bus name. Exiting.");
        return false;
    }
    return true;
}
