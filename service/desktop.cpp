#include "desktop.h"

#include "glintor.h"
#include "gnomedesktop.h"
#include "layershelldesktop.h"
#include "shellextension.h"
#include "waylandsupport.h"
#include "x11desktop.h"

#include <QDebug>

Desktop::Desktop(Glintor *overlay_, LocateInterface *bus_, bool debug_)
    : overlay(overlay_)
    , bus(bus_)
    , debug(debug_)
{
}

Desktop::~Desktop() = default;

std::unique_ptr<Desktop> Desktop::pick(Glintor *overlay, LocateInterface *bus, bool debug)
{
    if (WaylandSupport::active())
        return std::make_unique<LayerShellDesktop>(overlay, bus, debug);
    if (ShellExtension::gnomeOnWayland())
        return std::make_unique<GnomeDesktop>(overlay, bus, debug);
    return std::make_unique<X11Desktop>(overlay, bus, debug);
}

void Desktop::playAtPointer(const QString &what)
{
    // Switched off, nothing is done to find the pointer either, unless the debug log says where a
    // named trigger came.
    const bool logged = debug && !what.isEmpty();
    if (!logged && !overlay->animationEnabled())
        return;
    findPointer([this, what, logged](const QPoint &position) {
        if (logged)
            qDebug().noquote() << what << "at position:" << position;
        overlay->startAnimation(position);
    });
}

void Desktop::tryAtPointer(int animationEffect, int colorMode)
{
    findPointer([this, animationEffect, colorMode](const QPoint &position) {
        overlay->tryEffect(position, animationEffect, colorMode);
    });
}
