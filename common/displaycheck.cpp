#include "displaycheck.h"

#include <QDir>
#include <QLibraryInfo>
#include <QStringList>

#include <X11/Xlib.h>

#include <cstdlib>
#include <cstring>

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

bool qtWaylandInstalled()
{
    QStringList pluginFolders
        = QString::fromLocal8Bit(qgetenv("QT_PLUGIN_PATH")).split(QLatin1Char(':'), Qt::SkipEmptyParts);
    pluginFolders << QLibraryInfo::location(QLibraryInfo::PluginsPath);
    for (const QString &folder : pluginFolders) {
        if (!QDir(folder + QStringLiteral("/platforms"))
                 .entryList({ QStringLiteral("libqwayland*.so") }, QDir::Files)
                 .isEmpty())
            return true;
    }
    return false;
}

} // namespace

std::string problem(int argc, char *argv[])
{
    const char *platform = argumentValue(argc, argv, "-platform");
    if (!platform)
        platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && std::strncmp(platform, "xcb", 3) != 0)
        return std::string();

    const char *source = "-display";
    const char *display = argumentValue(argc, argv, "-display");
    if (!display) {
        source = "DISPLAY";
        display = std::getenv("DISPLAY");
    }
    const char *waylandDisplay = std::getenv("WAYLAND_DISPLAY");
    if ((!display || !*display) && waylandDisplay && !platform) {
        if (!qtWaylandInstalled())
            return "No X11 display (DISPLAY unset) and no Qt Wayland platform plugin (qtwayland5). Exiting.\n";
        qputenv("QT_QPA_PLATFORM", "wayland");
        return std::string();
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
    return std::string();
}

} // namespace DisplayCheck
