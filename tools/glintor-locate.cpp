// glintor-locate: asks the glintor-service of this display to show where the pointer is, over the
// session bus. Made to be bound to a key in a window manager or a desktop's shortcut settings, so
// it loads QtCore and QtDBus only and gives up after a second rather than keep a key press waiting.

#include "locatebus.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>

#include <csignal>
#include <cstdio>
#include <cstring>

#include <sys/time.h>
#include <unistd.h>

namespace {

constexpr int AnswerMs = 1000;
// libdbus may block before any call can time out (a bus that accepts but never authenticates).
constexpr int WatchdogMs = 2500;

const char Usage[] = "Usage: glintor-locate [--help]\n"
                     "Asks the glintor-service of this session (WAYLAND_DISPLAY or DISPLAY) to play its animation\n"
                     "at the mouse pointer, as its hotkey does. Exit status 0 when the service answered, 1 when\n"
                     "none did.\n"
                     "Bind it to a key in the window manager or the desktop's keyboard shortcuts.\n";

int fail(const QString &line)
{
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    return 1;
}

void watchdogExpired(int)
{
    static const char line[] = "The D-Bus session bus did not answer.\n";
    const ssize_t written = ::write(STDERR_FILENO, line, sizeof line - 1);
    (void)written;
    ::_exit(1);
}

void startWatchdog()
{
    std::signal(SIGALRM, watchdogExpired);
    itimerval timer {};
    timer.it_value.tv_sec = WatchdogMs / 1000;
    timer.it_value.tv_usec = (WatchdogMs % 1000) * 1000;
    ::setitimer(ITIMER_REAL, &timer, nullptr);
}

} // namespace

int main(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(Usage, stdout);
            return 0;
        }
        std::fprintf(stderr, "glintor-locate: unknown argument %s\n%s", argv[i], Usage);
        return 2;
    }

    const QStringList busNames = LocateBus::serviceNames();
    if (busNames.isEmpty())
        return fail(
            QStringLiteral("No display: DISPLAY (or WAYLAND_DISPLAY) must name the display to show the pointer on."));

    startWatchdog();
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return fail(QStringLiteral("No D-Bus session bus: ") + bus.lastError().message());

    // The session's service is on its Wayland display or its X display; a name nobody holds is
    // answered at once by the bus.
    QDBusMessage reply;
    for (const QString &busName : busNames) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            busName, QLatin1String(LocateBus::ObjectPath), QLatin1String(LocateBus::Interface), QStringLiteral("Locate"));
        // The service is a user unit or an autostart entry, not a bus-activated program.
        call.setAutoStartService(false);
        reply = bus.call(call, QDBus::Block, AnswerMs);
        if (reply.type() == QDBusMessage::ReplyMessage)
            return 0;
        if (reply.errorName() != QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown")
            && reply.errorName() != QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner"))
            break;
    }

    const QString error = reply.errorName();
    if (error == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown")
        || error == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner"))
        return fail(QStringLiteral("No glintor-service is running on this display."));
    if (error == QLatin1String("org.freedesktop.DBus.Error.NoReply")
        || error == QLatin1String("org.freedesktop.DBus.Error.Timeout"))
        return fail(QStringLiteral("glintor-service did not answer within 1 s."));
    if (error == QLatin1String("org.freedesktop.DBus.Error.Disconnected"))
        return fail(QStringLiteral("The D-Bus session bus went away."));
    return fail(QStringLiteral("glintor-service could not be asked: ") + reply.errorMessage());
}
