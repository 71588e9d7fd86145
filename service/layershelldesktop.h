#pragma once

#include "desktop.h"
#include "pointerfinder.h"

// A Wayland compositor with layer-shell: glintor-locate and the bus are the only triggers (the
// compositor gives no program the keys or the pointer's motion), the newest service of the display
// holds the bus name, and the pointer is found through surfaces of the service's own.
class LayerShellDesktop final : public Desktop {
    Q_OBJECT

public:
    LayerShellDesktop(Glintor *overlay, LocateInterface *bus, bool debug);

    bool start() override;
    void findPointer(Found found) override { finder.find(std::move(found)); }

private:
    WaylandSupport::PointerFinder finder;
};
