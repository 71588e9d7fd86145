#include "locateinterface.h"

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

bool LocateInterface::registerOn(QDBusConnection connection, const QString &busName)
{
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
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = connection.interface()->registerService(
        busName, QDBusConnectionInterface::ReplaceExistingService, QDBusConnectionInterface::AllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        qWarning().noquote() << "Cannot own" << busName << "on the session bus:"
                             << (reply.isValid() ? QStringLiteral("queued behind its owner") : reply.error().message());
        connection.unregisterObject(QLatin1String(LocateBus::ObjectPath));
        return false;
    }
    ownedName = busName;
    connection.connect(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameLost"), this, SLOT(noteNameLost(QString)));
    return true;
}

void LocateInterface::noteNameLost(const QString &name)
{
    if (name == ownedName)
        emit nameLost();
}

QString LocateInterface::version() const
{
    return QStringLiteral(GLINTOR_VERSION);
}

// Called on the main thread, where the bus delivers calls to this object: the pointer is read as
// the hotkey thread reads it (on Wayland, asked of the compositor), and a call during an animation
// restarts it as a key press does, so a flood of calls builds no queue of animations.
void LocateInterface::Locate()
{
    overlay->startAnimationAtPointer();
}

void LocateInterface::ReloadSettings()
{
    overlay->loadSettings();
}

void LocateInterface::TryEffect(int animationEffect, int colorMode)
{
    overlay->tryEffectAtPointer(animationEffect, colorMode);
}
