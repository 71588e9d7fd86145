#include "locateinterface.h"

#include "desktop.h"
#include "glintor.h"
#include "locatebus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDebug>

LocateInterface::LocateInterface(Glintor *overlay_, QObject *parent)
    : QObject(parent)
    , overlay(overlay_)
{
}

namespace {

// org.freedesktop.DBus.RequestName's flags and answers.
constexpr uint AllowReplacement = 0x1;
constexpr uint ReplaceExisting = 0x2;
constexpr uint PrimaryOwner = 1;
constexpr uint InQueue = 2;
constexpr uint AlreadyOwner = 4;

const QString BusService = QStringLiteral("org.freedesktop.DBus");
const QString BusPath = QStringLiteral("/org/freedesktop/DBus");

} // namespace

bool LocateInterface::registerOn(QDBusConnection connection, const QString &busName, OnLoss loss)
{
    onLoss = loss;
    if (!connection.isConnected()) {
        qInfo().noquote() << "No D-Bus session bus (" + connection.lastError().message()
                + "): glintor-locate cannot reach this service; the other triggers work as usual";
        return false;
    }
    if (busName.isEmpty() || !connection.interface()) {
        qWarning("No display to name this service after on the session bus");
        return false;
    }
    if (!connection.registerObject(QLatin1String(LocateBus::ObjectPath), this,
            QDBusConnection::ExportScriptableSlots | QDBusConnection::ExportAllProperties)) {
        qWarning("Cannot put the glintor-service object on the session bus");
        return false;
    }
    ownedName = busName;
    connection.connect(BusService, BusPath, BusService, QStringLiteral("NameLost"), this, SLOT(noteNameLost(QString)));
    connection.connect(
        BusService, BusPath, BusService, QStringLiteral("NameAcquired"), this, SLOT(noteNameAcquired(QString)));
    // Taken from any older service of the display, which allows it, and asked for with a place in the
    // queue: a name taken from this one (by a service that started in the same instant and has yet to
    // learn that it lost, or by another client) comes back by itself once its holder lets go.
    const QDBusReply<uint> reply = connection.interface()->call(
        QStringLiteral("RequestName"), busName, AllowReplacement | ReplaceExisting);
    if (reply.isValid() && (reply.value() == PrimaryOwner || reply.value() == AlreadyOwner))
        return true;
    if (reply.isValid() && reply.value() == InQueue) {
        nameMissing = true;
        qInfo().noquote() << "Another client holds the bus name" << busName
                          << "- glintor-locate reaches this service once it lets go";
        return true;
    }
    qWarning().noquote() << "Cannot own" << busName << "on the session bus:"
                         << (reply.isValid() ? QStringLiteral("refused") : reply.error().message());
    connection.unregisterObject(QLatin1String(LocateBus::ObjectPath));
    ownedName.clear();
    return false;
}

void LocateInterface::noteNameLost(const QString &name)
{
    if (name != ownedName || nameMissing)
        return;
    nameMissing = true;
    if (onLoss == OnLoss::StepAside) {
        emit nameLost();
        return;
    }
    qInfo().noquote() << "Another client took the bus name" << name
                      << "- glintor-locate reaches this service again once it lets go";
}

void LocateInterface::noteNameAcquired(const QString &name)
{
    if (name != ownedName || !nameMissing)
        return;
    nameMissing = false;
    qInfo().noquote() << "Holding the bus name" << name << "again: glintor-locate reaches this service";
}

QString LocateInterface::version() const
{
    return QStringLiteral(GLINTOR_VERSION);
}

// Called on the main thread, where the bus delivers calls to this object: the pointer is found as
// the desktop finds it for every trigger, and a call during an animation restarts it as a key press
// does, so a flood of calls builds no queue of animations.
void LocateInterface::Locate()
{
    if (desktop)
        desktop->playAtPointer();
}

void LocateInterface::ReloadSettings()
{
    overlay->loadSettings();
}

void LocateInterface::TryEffect(int animationEffect, int colorMode)
{
    if (desktop)
        desktop->tryAtPointer(animationEffect, colorMode);
}
