#pragma once

#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSize>
#include <QString>

#include <memory>

// A private Xvfb for one test process, optionally with a compositing manager. Everything it
// starts is killed, clients before the server, when it goes out of scope.
class XServer
{
public:
    explicit XServer(QSize screenSize = QSize(1280, 800));
    ~XServer();
    XServer(const XServer &) = delete;
    XServer &operator=(const XServer &) = delete;

    bool isRunning() const { return !displayName.isEmpty(); }
    QString display() const { return displayName; }
    // The calling environment with DISPLAY pointing here and no Wayland display.
    QProcessEnvironment environment() const;

    bool startCompositor();
    void stopCompositor();
    bool hasCompositor() const;
    // openbox with its default configuration: it focuses the windows it maps, as desktops do.
    bool startWindowManager();

    // Runs an X client (xdotool, import, ...) on this display and waits for it.
    // Returns its standard output; ok tells whether it exited with status 0.
    QByteArray run(const QString &program, const QStringList &arguments, bool *ok = nullptr) const;
    bool xdotool(const QStringList &arguments) const;
    QImage screenshot() const;

private:
    // Starts a manager and waits until it owns its selection of screen 0 (WM_S0, _NET_WM_CM_S0).
    bool startManager(std::unique_ptr<QProcess> &process, const QString &program, const QStringList &arguments,
        const char *selection);
    bool ownsSelection(const char *selection) const;
    static void stop(std::unique_ptr<QProcess> &process);

    QProcess server;
    std::unique_ptr<QProcess> compositor;
    std::unique_ptr<QProcess> windowManager;
    QString displayName;
};
