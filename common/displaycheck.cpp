#include "displaycheck.h"

#include <QDir>
#include <QLibraryInfo>
#include <QStringList>

#include <X11/Xlib.h>
#include <wayland-client.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include <poll.h>

namespace DisplayCheck {

namespace {

const char *argumentValue(int argc, char *argv[], const char *name)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0)
            return argv[i + 1];
    }
    return nullptr;
}

bool qtPluginInstalled(const QString &kind, const QString &pattern)
{
    QStringList pluginFolders
        = QString::fromLocal8Bit(qgetenv("QT_PLUGIN_PATH")).split(QLatin1Char(':'), Qt::SkipEmptyParts);
    pluginFolders << qtPluginsFolder();
    for (const QString &folder : pluginFolders) {
        if (!QDir(folder + QLatin1Char('/') + kind).entryList({ pattern }, QDir::Files).isEmpty())
            return true;
    }
    return false;
}

bool qtWaylandInstalled()
{
    return qtPluginInstalled(QStringLiteral("platforms"), QStringLiteral("libqwayland*.so"));
}

bool layerShellInstalled()
{
    return qtPluginInstalled(QStringLiteral("wayland-shell-integration"), QStringLiteral("liblayer-shell.so"));
}

void noteGlobal(void *layerShell, wl_registry *, uint32_t, const char *interface, uint32_t)
{
    if (std::strcmp(interface, "zwlr_layer_shell_v1") == 0)
        *static_cast<bool *>(layerShell) = true;
}

void noteGlobalRemoved(void *, wl_registry *, uint32_t) { }

void noteDone(void *done, wl_callback *, uint32_t)
{
    *static_cast<bool *>(done) = true;
}

// One round trip that lists the compositor's globals. A compositor that accepts and never answers
// must not hang a start-up, so the wait is bounded rather than wl_display_roundtrip's.
WaylandDesktop askCompositor()
{
    constexpr int AnswerMs = 2000;
    // A name is looked up in XDG_RUNTIME_DIR; without one, libwayland would print its own error.
    const char *name = std::getenv("WAYLAND_DISPLAY");
    const char *runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    if (name[0] != '/' && (!runtimeDir || !*runtimeDir))
        return WaylandDesktop::NoCompositor;
    wl_display *display = wl_display_connect(nullptr);
    if (!display)
        return WaylandDesktop::NoCompositor;
    bool layerShell = false;
    bool done = false;
    static const wl_registry_listener registryListener = { noteGlobal, noteGlobalRemoved };
    static const wl_callback_listener doneListener = { noteDone };
    wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &layerShell);
    wl_callback *sync = wl_display_sync(display);
    wl_callback_add_listener(sync, &doneListener, &done);
    bool failed = false;
    while (!done && !failed) {
        while (wl_display_prepare_read(display) != 0)
            wl_display_dispatch_pending(display);
        wl_display_flush(display);
        pollfd answer = { wl_display_get_fd(display), POLLIN, 0 };
        if (::poll(&answer, 1, AnswerMs) <= 0) {
            wl_display_cancel_read(display);
            failed = true;
        } else {
            failed = wl_display_read_events(display) < 0 || wl_display_dispatch_pending(display) < 0;
        }
    }
    wl_callback_destroy(sync);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    if (!done)
        return WaylandDesktop::NoCompositor;
    return layerShell ? WaylandDesktop::LayerShell : WaylandDesktop::NoLayerShell;
}

// Whether problem() chose Qt's platform by setting QT_QPA_PLATFORM.
bool g_platformChosen = false;

void choosePlatform(const char *platform)
{
    qputenv("QT_QPA_PLATFORM", platform);
    g_platformChosen = true;
}

// Whether problem() switched Qt 6's scaling by the X server's DPI off.
bool g_scalingHeld = false;

// Qt 6 scales every window by the X server's Xft.dpi, where Qt 5 drew in device pixels unless
// asked: the rings keep their size in pixels, and the pointer's position stays the X server's.
void holdX11Scaling()
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    if (qEnvironmentVariableIsSet("QT_ENABLE_HIGHDPI_SCALING"))
        return;
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    g_scalingHeld = true;
#endif
}

std::string waylandDisplayLine(const char *what)
{
    const char *name = std::getenv("WAYLAND_DISPLAY");
    return std::string("Cannot connect to the Wayland display \"") + (name ? name : "") + "\" named by WAYLAND_DISPLAY: "
        + what + ". Exiting.\n";
}

} // namespace

WaylandDesktop waylandDesktop()
{
    const char *name = std::getenv("WAYLAND_DISPLAY");
    if (!name || !*name)
        return WaylandDesktop::NoCompositor;
    // Remembered for the display it was asked of: a process that is pointed at another compositor
    // (the settings window's tests) asks again.
    static std::string askedName;
    static WaylandDesktop desktop = WaylandDesktop::NoCompositor;
    if (askedName != name) {
        desktop = askCompositor();
        askedName = name;
    }
    return desktop;
}

QString qtPluginsFolder()
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return QLibraryInfo::path(QLibraryInfo::PluginsPath);
#else
    return QLibraryInfo::location(QLibraryInfo::PluginsPath);
#endif
}

bool qtPlatformIsWayland(int argc, char *argv[])
{
    const char *platform = argumentValue(argc, argv, "-platform");
    if (!platform)
        platform = std::getenv("QT_QPA_PLATFORM");
    return platform && std::strncmp(platform, "wayland", 7) == 0;
}

std::string problem(int argc, char *argv[], PlatformChoice choice)
{
    const char *platform = argumentValue(argc, argv, "-platform");
    if (!platform)
        platform = std::getenv("QT_QPA_PLATFORM");
    const char *waylandDisplay = std::getenv("WAYLAND_DISPLAY");
    const bool layerShellFirst = choice == PlatformChoice::LayerShellFirst;
    if (platform && std::strncmp(platform, "xcb", 3) != 0) {
        if (!layerShellFirst || !qtPlatformIsWayland(argc, argv) || !waylandDisplay)
            return std::string();
        switch (waylandDesktop()) {
        case WaylandDesktop::NoCompositor:
            return waylandDisplayLine("no compositor answers there");
        case WaylandDesktop::NoLayerShell:
            return "The Wayland compositor offers no layer-shell, which glintor-service needs to show the pointer "
                   "on Wayland; without QT_QPA_PLATFORM=wayland it runs through XWayland. Exiting.\n";
        case WaylandDesktop::LayerShell:
            return std::string();
        }
    }

    const char *source = "-display";
    const char *display = argumentValue(argc, argv, "-display");
    if (!display) {
        source = "DISPLAY";
        display = std::getenv("DISPLAY");
    }
    if (waylandDisplay && *waylandDisplay && !platform) {
        const bool noX11 = !display || !*display;
        if (layerShellFirst && waylandDesktop() == WaylandDesktop::LayerShell && qtWaylandInstalled()
            && layerShellInstalled()) {
            choosePlatform("wayland");
            return std::string();
        }
        if (noX11) {
            if (!qtWaylandInstalled())
                return "No X11 display (DISPLAY unset) and no Qt Wayland platform plugin (qtwayland5). Exiting.\n";
            const WaylandDesktop desktop = waylandDesktop();
            if (desktop == WaylandDesktop::NoCompositor)
                return waylandDisplayLine("no compositor answers there");
            if (layerShellFirst && desktop == WaylandDesktop::NoLayerShell)
                return "The Wayland compositor offers no layer-shell, and there is no X display (DISPLAY unset) to "
                       "run through instead: glintor-service cannot show the pointer on this desktop. Exiting.\n";
            if (layerShellFirst)
                return "No X11 display (DISPLAY unset) and no layer-shell support for Qt (layer-shell-qt). Exiting.\n";
            choosePlatform("wayland");
            return std::string();
        }
    }
    if (!display)
        return waylandDisplay ? "No X11 display (DISPLAY unset) for the xcb platform that was chosen. Exiting.\n"
                              : NoDisplayLine;

    const std::string named = std::string("the X display \"") + display + "\" named by " + source;
    // An empty name would make Xlib fall back to its default; Qt aborts on it.
    if (!*display)
        return "Cannot connect to " + named + ": the name is empty. Exiting.\n";
    Display *connection = XOpenDisplay(display);
    if (!connection)
        return "Cannot connect to " + named + ": no X server answers there, or it refused the connection. Exiting.\n";
    XCloseDisplay(connection);
    // The X display it is: Qt itself would pick its Wayland platform where XDG_SESSION_TYPE says
    // wayland (GNOME's session does), whatever the choice made here.
    if (!platform)
        choosePlatform("xcb");
    holdX11Scaling();
    return std::string();
}

void forgetPlatformChoice()
{
    if (g_platformChosen)
        qunsetenv("QT_QPA_PLATFORM");
    if (g_scalingHeld)
        qunsetenv("QT_ENABLE_HIGHDPI_SCALING");
    g_platformChosen = false;
    g_scalingHeld = false;
}

} // namespace DisplayCheck
