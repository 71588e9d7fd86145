#include "gnomedesktop.h"

#include "globalkeyhandler.h"
#include "shellextension.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QDateTime>
#include <QDebug>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

namespace {

// GNOME Shell's main thread, where the extension answers, pauses now and then: once for 0.7 to 1 s
// in a few dozen animations on an idle 2-core machine, 2.5 s under load. A late answer still says
// where the pointer is now, so a trigger waits that long before it is dropped; setting up (the
// release check, the grab) waits as long as the bus allows.
constexpr int PointerAnswerMs = 3000;
constexpr int SetUpAnswerMs = 25000;
// The start waits this long at most for the Shell to say where the extension stands.
constexpr int StatusAnswerMs = 5000;

QDBusMessage extensionCall(const QString &method)
{
    return QDBusMessage::createMethodCall(QLatin1String(ShellExtension::BusName),
        QLatin1String(ShellExtension::ObjectPath), QLatin1String(ShellExtension::Interface), method);
}

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

} // namespace

GnomeDesktop::GnomeDesktop(Glintor *overlay_, LocateInterface *bus_, bool debug_)
    : X11Desktop(overlay_, bus_, debug_)
    , watcher(new QDBusServiceWatcher(QLatin1String(ShellExtension::BusName), QDBusConnection::sessionBus(),
          QDBusServiceWatcher::WatchForOwnerChange, this))
    , grabRetry(new QTimer(this))
{
    grabRetry->setSingleShot(true);
    connect(grabRetry, &QTimer::timeout, this, &GnomeDesktop::grabHotkey);
    if (triggers().hotkey)
        accelerator = Hotkey::shellAccelerator(*triggers().hotkey);
}

GnomeDesktop::~GnomeDesktop() = default;

bool GnomeDesktop::start()
{
    QDBusConnection connection = QDBusConnection::sessionBus();
    connect(watcher, &QDBusServiceWatcher::serviceRegistered, this, &GnomeDesktop::extensionAppeared);
    connect(watcher, &QDBusServiceWatcher::serviceUnregistered, this, &GnomeDesktop::extensionGone);
    // The extension sends these to this service alone.
    const QString name = QLatin1String(ShellExtension::BusName);
    const QString path = QLatin1String(ShellExtension::ObjectPath);
    const QString interface = QLatin1String(ShellExtension::Interface);
    connection.connect(name, path, interface, QStringLiteral("HotkeyPressed"), this, SLOT(hotkeyPressed()));
    connection.connect(name, path, interface, QStringLiteral("PointerMoved"), this, SLOT(pointerMoved(int, int)));

    // A new scale or layout of the outputs changes the Shell's stage.
    connection.connect(QStringLiteral("org.gnome.Mutter.DisplayConfig"),
        QStringLiteral("/org/gnome/Mutter/DisplayConfig"), QStringLiteral("org.gnome.Mutter.DisplayConfig"),
        QStringLiteral("MonitorsChanged"), this, SLOT(askStageSize()));

    const bool there = connection.interface()->isServiceRegistered(name).value();
    // Not even for a moment the X11 grab and listener where the Shell will give the keys.
    readInputFromX11(!there);
    if (!X11Desktop::start())
        return false;
    if (there)
        extensionAppeared();
    return true;
}

void GnomeDesktop::sayWhatIsSeen()
{
    if (QDBusConnection::sessionBus().interface()->isServiceRegistered(QLatin1String(ShellExtension::BusName)).value())
        return;
    qInfo().noquote() << QStringLiteral("GNOME Shell on Wayland shows glintor-service (through XWayland) the pointer "
                                        "and the keys only while they are over X11 windows; Glintor's extension for "
                                        "GNOME Shell shows them everywhere. %1")
                             .arg(ShellExtension::describe(ShellExtension::status(StatusAnswerMs)));
}

void GnomeDesktop::extensionAppeared()
{
    const int seen = ++generation;
    // A service and an extension of different releases may not understand each other.
    QDBusMessage get = QDBusMessage::createMethodCall(QLatin1String(ShellExtension::BusName),
        QLatin1String(ShellExtension::ObjectPath), QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << QLatin1String(ShellExtension::Interface) << QStringLiteral("Version");
    auto *call = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(get, SetUpAnswerMs), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this, seen](QDBusPendingCallWatcher *answered) {
        answered->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *answered;
        if (seen != generation)
            return;
        const QString version = reply.isError() ? QString() : reply.value().variant().toString();
        if (version != QLatin1String(GLINTOR_VERSION)) {
            qWarning().noquote() << QStringLiteral(
                "Glintor's extension for GNOME Shell is of release %1 and this glintor-service of release %2: they do "
                "not work together, so the service goes on seeing what XWayland shows it. Install both of one "
                "release (scripts/run, or the package), then log in again")
                                        .arg(version.isEmpty() ? QStringLiteral("unknown") : version,
                                            QLatin1String(GLINTOR_VERSION));
            readInputFromX11(true);
            return;
        }
        active = true;
        qInfo("Glintor's extension for GNOME Shell is there: the pointer, its motion and the hotkey come from "
              "GNOME Shell");
        if (triggers().ctrlTap)
            qInfo("The Ctrl tap is off on GNOME, which has its own: Settings, Accessibility, Pointing & Clicking, "
                  "Locate Pointer");
        readInputFromX11(false);
        askStageSize();
        schedule.emplace(nowMs(), false);
        grabHotkey();
        QDBusMessage watch = extensionCall(QStringLiteral("WatchMotion"));
        watch << keyHandler()->shakeEnabled();
        QDBusConnection::sessionBus().asyncCall(watch, SetUpAnswerMs);
    });
}

void GnomeDesktop::extensionGone()
{
    ++generation;
    grabRetry->stop();
    schedule.reset();
    if (!active)
        return;
    active = false;
    qInfo("Glintor's extension for GNOME Shell has gone (disabled, or the Shell ended): glintor-service sees the "
          "pointer and the keys only over X11 windows until it is back");
    readInputFromX11(true);
}

void GnomeDesktop::grabHotkey()
{
    if (!active || !schedule)
        return;
    // No hotkey wanted: the X11 listener has said so already.
    if (accelerator.isEmpty())
        return;
    QDBusMessage grab = extensionCall(QStringLiteral("GrabHotkey"));
    grab << accelerator;
    const int seen = generation;
    auto *call = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(grab, SetUpAnswerMs), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this, seen](QDBusPendingCallWatcher *answered) {
        answered->deleteLater();
        const QDBusPendingReply<bool> reply = *answered;
        if (seen != generation || !schedule)
            return;
        // Refused for good: asked again, it would be refused again.
        if (reply.isError()) {
            const QString hotkey = triggers().hotkey->text;
            if (reply.error().name() == QLatin1String(ShellExtension::NotAllowedError))
                qWarning().noquote() << QStringLiteral(
                    "Glintor's extension for GNOME Shell takes only hotkeys with Ctrl, Alt or Super, so %1 does "
                    "nothing on GNOME: choose another hotkey in Glintor's settings")
                                            .arg(hotkey);
            else
                qWarning().noquote() << QStringLiteral(
                    "Glintor's extension for GNOME Shell could not grab the hotkey %1 (%2): disable and enable the "
                    "extension, or log out and in again")
                                            .arg(hotkey, reply.error().message());
            return;
        }
        // A combination the Shell refuses is held by another program, or by the Shell itself: told and
        // tried again as on X11.
        const qint64 now = nowMs();
        logGrabNote(schedule->attempted(reply.value(), now), triggers().hotkey->text, debug);
        if (!schedule->holding())
            grabRetry->start(int(qMax<qint64>(0, schedule->nextAttempt() - now)));
    });
}

void GnomeDesktop::hotkeyPressed()
{
    if (active)
        playAtPointer(QStringLiteral("Hotkey %1 pressed").arg(triggers().hotkey ? triggers().hotkey->text : QString()));
}

void GnomeDesktop::pointerMoved(int x, int y)
{
    if (active)
        keyHandler()->pointerMoved(fromShell(QPoint(x, y)));
}

void GnomeDesktop::findPointer(Found found)
{
    if (!active) {
        X11Desktop::findPointer(std::move(found));
        return;
    }
    // Asked at every trigger: a position kept from before would be wherever the pointer was then.
    const int seen = generation;
    auto *call = new QDBusPendingCallWatcher(
        QDBusConnection::sessionBus().asyncCall(extensionCall(QStringLiteral("GetPointer")), PointerAnswerMs), this);
    connect(call, &QDBusPendingCallWatcher::finished, this,
        [this, seen, found = std::move(found)](QDBusPendingCallWatcher *answered) {
            answered->deleteLater();
            const QDBusPendingReply<int, int> reply = *answered;
            if (reply.isError() || seen != generation) {
                qInfo().noquote() << "GNOME Shell did not say where the pointer is, so nothing is shown:"
                                  << (reply.isError() ? reply.error().message()
                                                      : QStringLiteral("its extension went away meanwhile"));
                return;
            }
            found(fromShell(QPoint(reply.argumentAt<0>(), reply.argumentAt<1>())));
        });
}

namespace {

// A screen in XWayland's own pixels: Qt keeps each screen's origin and divides what lies beyond it
// by the screen's factor.
QRect nativeRect(const QScreen *screen)
{
    const QRect logical = screen->geometry();
    return QRect(logical.topLeft(), logical.size() * screen->devicePixelRatio());
}

} // namespace

void GnomeDesktop::askStageSize()
{
    if (!active)
        return;
    const int seen = generation;
    auto *call = new QDBusPendingCallWatcher(
        QDBusConnection::sessionBus().asyncCall(extensionCall(QStringLiteral("GetStageSize")), SetUpAnswerMs), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this, seen](QDBusPendingCallWatcher *answered) {
        answered->deleteLater();
        const QDBusPendingReply<int, int> reply = *answered;
        if (seen != generation || reply.isError())
            return;
        stageWidth = reply.argumentAt<0>();
        if (debug)
            qDebug() << "GNOME Shell's stage is" << stageWidth << "x" << reply.argumentAt<1>() << "logical pixels";
    });
}

QPoint GnomeDesktop::fromShell(const QPoint &logical) const
{
    // XWayland's screen, read now: it changes a moment after the stage.
    const QList<QScreen *> screens = QGuiApplication::screens();
    QRect x11;
    for (const QScreen *screen : screens)
        x11 |= nativeRect(screen);
    const qreal x11PerShell = stageWidth > 0 && !x11.isEmpty() ? qreal(x11.width()) / stageWidth : 1;
    const QPoint position = (QPointF(logical) * x11PerShell).toPoint();
    for (const QScreen *screen : screens) {
        const QRect native = nativeRect(screen);
        if (native.contains(position))
            return native.topLeft() + (position - native.topLeft()) / screen->devicePixelRatio();
    }
    return position;
}
