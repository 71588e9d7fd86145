#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

// A private D-Bus session bus (dbus-daemon) for one test, never the user's. Killed by its PID when
// it goes out of scope, or earlier by stop() to see what clients do when the bus goes away.
class SessionBus {
public:
    // AnyUser: clients of other user ids may connect too, such as the commands that a compositor
    // running as another user starts.
    enum class Access { OwnUser, AnyUser };
    // environment, when given, is the bus's own and so that of the services it starts on demand
    // (dconf, for one), which then keep to a private home instead of the caller's.
    explicit SessionBus(Access access = Access::OwnUser, const QProcessEnvironment &environment = QProcessEnvironment());
    ~SessionBus();
    SessionBus(const SessionBus &) = delete;
    SessionBus &operator=(const SessionBus &) = delete;

    bool isRunning() const { return !busAddress.isEmpty() && daemon.state() == QProcess::Running; }
    QString address() const { return busAddress; }
    qint64 processId() const { return daemon.processId(); }
    // env with DBUS_SESSION_BUS_ADDRESS naming this bus.
    QProcessEnvironment environment(QProcessEnvironment env) const;
    void stop();

private:
    QTemporaryDir dir;
    QProcess daemon;
    QString busAddress;
};
