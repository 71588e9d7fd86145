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
    explicit SessionBus(Access access = Access::OwnUser);
    ~SessionBus();
    SessionBus(const SessionBus &) = delete;
    SessionBus &operator=(const SessionBus &) = delete;

    bool isRunning() const { return !busAddress.isEmpty() && daemon.state() == QProcess::Running; }
    QString address() const { return busAddress; }
    // env with DBUS_SESSION_BUS_ADDRESS naming this bus.
    QProcessEnvironment environment(QProcessEnvironment env) const;
    void stop();

private:
    QTemporaryDir dir;
    QProcess daemon;
    QString busAddress;
};
