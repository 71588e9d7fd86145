#pragma once

#include <QImage>
#include <QPoint>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVector>

#include <functional>

// One output as sway reports it; rect is in layout (logical) coordinates.
struct WaylandOutput
{
    QString name;
    QRect rect;
    double scale = 1.0;
};

// A private headless Wayland compositor for one test process: sway (layer-shell, a virtual pointer
// through VirtualPointer, screenshots through grim, keys through wtype) or weston (no layer-shell).
// sway refuses to run as root, so under root it runs as nobody; clients may still run as root.
// Everything started against it is killed, clients before the compositor, when it goes out of scope.
class WaylandServer
{
public:
    enum class Kind { Sway, Weston };

    // The solid background sway paints on every output.
    static constexpr QRgb backgroundColor = 0xff2050a0;

    explicit WaylandServer(Kind kind = Kind::Sway, QSize outputSize = QSize(1920, 1080));
    ~WaylandServer();
    WaylandServer(const WaylandServer &) = delete;
    WaylandServer &operator=(const WaylandServer &) = delete;

    // Whether the compositor and the tools the rig drives it with are installed; else a reason.
    static QString missingTools(Kind kind);

    Kind kind() const { return serverKind; }
    bool isRunning() const;
    // Milliseconds from starting the compositor until it answered.
    qint64 startUpTime() const { return startUpMs; }
    // Absolute path of the Wayland socket, usable as WAYLAND_DISPLAY.
    QString waylandDisplay() const { return socketPath; }
    // The clients' XDG_RUNTIME_DIR. Under root it is not the compositor's own (nobody's).
    QString runtimeDir() const { return clientRuntimePath; }
    // The calling environment pointed at this compositor: WAYLAND_DISPLAY, XDG_RUNTIME_DIR (and
    // SWAYSOCK) set; DISPLAY and QT_QPA_PLATFORM removed, so programs choose their platform themselves.
    QProcessEnvironment environment() const;
    // Interfaces the compositor offers (wl_compositor, zwlr_layer_shell_v1, ...).
    QStringList globals() const;

    // sway only. Runs swaymsg with args and returns its standard output.
    QByteArray swaymsg(const QStringList &args, bool *ok = nullptr) const;
    QVector<WaylandOutput> outputs() const;
    // The bounding box of all outputs in layout coordinates.
    QRect layoutRect() const;
    // Adds a headless output at pos (layout coordinates) with the given scale and mode size (the
    // first output's by default), and waits for its background; returns its name, or an empty string.
    QString addOutput(QPoint pos, int scale = 1, QSize modeSize = QSize());
    // The whole layout (rendered at the highest output scale) or one output, in physical pixels.
    QImage screenshot() const;
    QImage screenshot(const QString &outputName) const;
    // Types through a virtual keyboard; the keys go through sway's bindings.
    bool wtype(const QStringList &args) const;
    // Ends the compositor, as a crash or a restart of the session's compositor would.
    void kill();
    // The compositor's process, for a test that freezes it.
    qint64 processId() const { return server.processId(); }

private:
    bool startSway();
    bool startWeston();
    bool waitUntilReady();
    bool waitForBackground(const QString &outputName) const;
    void killClients(bool withCompositorChildren);
    QByteArray runClient(const QString &program, const QStringList &args, bool *ok) const;
    QString logTail() const;

    Kind serverKind;
    QSize firstOutputSize;
    QTemporaryDir base;
    QString runtimePath;
    QString clientRuntimePath;
    QString socketPath;
    QString ipcSocket;
    QProcess server;
    qint64 startUpMs = -1;
    bool ready = false;
};

// A pointer for the headless seat, which has none: a helper program keeps a wlroots virtual
// pointer connected while this object lives (the seat offers wl_pointer only meanwhile).
// Positions are in layout (logical) coordinates.
class VirtualPointer
{
public:
    // With an empty layoutExtent each move asks sway for the layout's bounding box; a fixed one
    // (a layout whose top-left corner is at 0, 0) saves that query.
    explicit VirtualPointer(const WaylandServer &server, QSize layoutExtent = QSize());
    ~VirtualPointer();
    VirtualPointer(const VirtualPointer &) = delete;
    VirtualPointer &operator=(const VirtualPointer &) = delete;

    bool isReady() const { return ready; }
    bool moveTo(QPoint position);
    bool click() { return command("click\n"); }
    // The left button alone: held down (a drag), or let go.
    bool hold(bool down) { return command(down ? "press\n" : "release\n"); }
    // Returns once the compositor has sent out all it had for any client, not only for this one.
    bool sync() { return command("sync\n"); }

private:
    // One line to the helper; true once it answered "ok".
    bool command(const char *line);
    bool waitForAnswer(const QByteArray &expected);

    const WaylandServer &compositor;
    const QSize fixedExtent;
    QProcess helper;
    bool ready = false;
};

// The clickprobe program: an ordinary (xdg-shell) window that sway tiles over the output under it,
// and that reports its clicks, so tests can tell whether a click went through an overlay.
class ClickProbe
{
public:
    // Or, transparent, a panel along the top of the output (top layer, an exclusive zone of its
    // height), or a surface over the whole output on the overlay layer.
    enum class Kind { Window, Panel, Overlay };
    static constexpr int PanelHeight = 40;
    explicit ClickProbe(const WaylandServer &server, Kind kind = Kind::Window);
    // In any Wayland session whose client environment is env; arguments such as --fullscreen.
    ClickProbe(const QProcessEnvironment &env, const QStringList &arguments);
    ~ClickProbe();
    ClickProbe(const ClickProbe &) = delete;
    ClickProbe &operator=(const ClickProbe &) = delete;

    // Waits until the window is shown at size (the tile the compositor gives it).
    bool waitUntilShown(QSize size, int timeoutMs = 10000);
    // Or at a size of at least least: a window manager may keep a bar visible.
    bool waitUntilShownAtLeast(QSize least, int timeoutMs = 10000);
    // Waits for the next press the window reports; returns its position in window coordinates,
    // or (-1, -1) when none came.
    QPoint waitForPress(int timeoutMs = 5000);
    // Every line the probe printed so far that a wait above has read, such as "enter" and "leave".
    QStringList lines() const { return history; }

private:
    QString waitForLine(const QString &prefix, int timeoutMs);
    bool waitUntilShown(const std::function<bool(QSize)> &wanted, int timeoutMs);

    QProcess probe;
    QStringList history;
};
