#pragma once

#include <QDBusConnection>
#include <QImage>
#include <QPoint>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVector>

#include <memory>

class SessionBus;

// A private headless GNOME Shell (mutter, with its Xwayland) for one test process: its own home,
// runtime and data folders, a private session bus and a second one standing in for the system bus
// (the Shell will not start without one). The extensions given, folders named after their uuid,
// are installed into the private data folder and enabled before the start, together with the
// suite's test-only helper extension, which drives the Shell from inside: a virtual pointer and
// keyboard (the headless seat has neither), the overview, screenshots.
// The Shell runs as the calling user (root in CI). Everything started is killed by process id when
// this goes out of scope: clients first, then the Shell, what it and the buses started, the buses.
class GnomeShell final {
public:
    static constexpr const char *HelperUuid = "glintor-test@glintor.org";
    // An extension's state as the Shell reports it; Initialized means never enabled since the start.
    enum ExtensionState { Unknown = 0, Enabled = 1, Disabled = 2, Error = 3, OutOfDate = 4, Initialized = 6 };

    // experimentalFeatures: mutter's, where the release still has them as experimental (before GNOME 50).
    explicit GnomeShell(
        const QStringList &extensionDirs = QStringList(), const QStringList &experimentalFeatures = QStringList());
    ~GnomeShell();
    GnomeShell(const GnomeShell &) = delete;
    GnomeShell &operator=(const GnomeShell &) = delete;

    // Empty when the Shell and the tools the rig needs are installed; else what is missing.
    static QString missingTools();
    // The flavour of extension the installed Shell loads: "legacy" before GNOME 45, else "esm".
    static QString flavour();

    // Up: the Shell runs, Xwayland answers, every extension listed is enabled, the overview is left.
    bool isReady() const;
    // Milliseconds from starting the Shell until it was ready, for the last start.
    qint64 startUpTime() const { return startUpMs; }
    // The Shell's process (the benchmarks read its CPU time).
    qint64 processId() const { return shell.processId(); }
    QString waylandDisplay() const { return runtimePath + QStringLiteral("/glintor-gnome"); }
    QString x11Display() const { return xDisplay; }
    QString xauthority() const { return xAuthority; }
    QString sessionBusAddress() const;
    // The calling environment pointed at this Shell as a GNOME Wayland session gives it to its
    // clients: WAYLAND_DISPLAY, DISPLAY, XAUTHORITY, XDG_RUNTIME_DIR, the buses, XDG_CURRENT_DESKTOP.
    // QT_QPA_PLATFORM is removed, so programs choose their platform themselves.
    QProcessEnvironment environment() const;
    // The rig's own connection to the session bus. Signals it gets are in order with the answers
    // of the input calls below: after movePointer() returns, every signal the motion caused is in.
    QDBusConnection connection() const { return bus; }

    // Kills the Shell as a crash would (SIGKILL; its Xwayland goes with it) and starts it again with
    // the same home and buses. x11Display() then names the new Xwayland, perhaps another number.
    bool restart();
    bool setExtensionEnabled(const QString &uuid, bool enabled);
    ExtensionState extensionState(const QString &uuid, QString *error = nullptr) const;
    // Rewrites the GNOME releases an installed extension declares and has the Shell load it anew, as
    // a new login would; returns the state it then has.
    ExtensionState declareShellVersions(const QString &uuid, const QStringList &versions);
    // Makes every method of an extension that lets a key binding through fail, until called with false.
    bool failKeybindings(bool fail) { return callHelper(QStringLiteral("FailKeybindings"), { fail }); }

    // Global logical positions; true once the Shell has handled the motion to the last point.
    bool movePointer(QPoint position) { return movePointer(QVector<QPoint> { position }); }
    bool movePointer(const QVector<QPoint> &path);
    // picked, for a log: what the Shell had under the pointer at the press and what it gave the button.
    bool click(QString *picked = nullptr);
    // Has the Shell lay out its stage, as a panel or window that changes size does, and pick anew what
    // the pointer is over; true once it has.
    bool relayout();
    // Gives the output the scale it supports nearest to wanted, as the display settings do; returns
    // that scale once the Shell has laid out its monitors, 0 on failure. Fractional scales need
    // mutter's "scale-monitor-framebuffer" before GNOME 50 (the constructor's experimentalFeatures).
    double setScale(double wanted);
    // X keysyms (0xffe3 Control_L, 0xffe9 Alt_L, 0x6d m, ...): pressed in order, held for holdMs
    // (the keyboard repeats meanwhile), released in reverse order; true once the Shell has handled
    // them. To know that, the helper ends with a motion of the pointer to where it is (a motion
    // watcher hears of it).
    bool keys(const QVector<quint32> &keysyms, int holdMs = 0);
    // The whole 1920x1080 screen, without the pointer; null on failure.
    QImage screenshot() const;
    // A grab of the helper's own, as any other client of the Shell makes it (held down, it fires
    // at every repeat); false if the Shell refuses it. releaseAccelerator() returns how often it
    // fired, -1 on failure.
    bool grabAccelerator(const QString &accelerator) const;
    int releaseAccelerator() const;
    // Whether the Shell would give this accelerator to a new client now.
    bool acceleratorFree(const QString &accelerator) const
    {
        return grabAccelerator(accelerator) && releaseAccelerator() >= 0;
    }
    QString logTail() const;

private:
    bool start();
    bool waitUntilReady();
    bool callHelper(const QString &method, const QVariantList &arguments, QVariantList *answer = nullptr,
        int timeoutMs = 20000) const;
    QProcessEnvironment shellEnvironment() const;
    QVector<qint64> processesOfThisShell() const;
    void killShell(bool crash);

    QTemporaryDir base;
    QString runtimePath;
    QStringList uuids;
    std::unique_ptr<SessionBus> sessionBus;
    std::unique_ptr<SessionBus> systemBus;
    QDBusConnection bus { QString() };
    QProcess shell;
    QString xDisplay;
    QString xAuthority;
    qint64 startUpMs = -1;
    bool ready = false;
    bool xwaylandSilent = false; // the last start failed waiting for Xwayland's answer
    bool retried = false; // this start is the second try
};
