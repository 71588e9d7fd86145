#include "pointerfinder.h"

#include "viewporter-client-protocol.h"
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QPoint>
#include <QSize>
#include <QSocketNotifier>
#include <QTimer>

#include <wayland-client.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

namespace WaylandSupport {

namespace {

// One output, and where it lies in the layout (logical coordinates).
struct Output {
    uint32_t name = 0; // the registry's
    wl_output *output = nullptr;
    zxdg_output_v1 *xdgOutput = nullptr;
    QPoint position;
};

// The surface over one output while a search runs.
struct Cover {
    Output *output = nullptr;
    wl_surface *surface = nullptr;
    zwlr_layer_surface_v1 *layer = nullptr;
    wp_viewport *viewport = nullptr;
    wl_buffer *buffer = nullptr; // a full-size one of its own where the compositor cannot scale
    QSize size; // the output's, once the compositor has configured the surface
};

// width x height transparent pixels: a new memfd reads as zeros, which ARGB shows as nothing.
// Nothing is painted, so even a full-size buffer costs no time here.
wl_buffer *transparentBuffer(wl_shm *shm, int width, int height)
{
    const int stride = width * 4;
    const off_t size = off_t(stride) * height;
    const int fd = memfd_create("glintor-pointer", MFD_CLOEXEC);
    if (fd < 0)
        return nullptr;
    wl_buffer *buffer = nullptr;
    if (ftruncate(fd, size) == 0) {
        wl_shm_pool *pool = wl_shm_create_pool(shm, fd, int32_t(size));
        buffer = wl_shm_pool_create_buffer(pool, 0, width, height, stride, WL_SHM_FORMAT_ARGB8888);
        wl_shm_pool_destroy(pool);
    }
    close(fd);
    return buffer;
}

template<typename... Args>
void ignore(void *, Args...)
{
}

} // namespace

struct PointerFinder::Connection {
    explicit Connection(PointerFinder *owner)
        : finder(owner)
    {
    }
    ~Connection()
    {
        drop();
        for (const std::unique_ptr<Output> &output : outputs)
            forget(*output);
        for (auto *proxy : { reinterpret_cast<wl_proxy *>(pointer), reinterpret_cast<wl_proxy *>(seat),
                 reinterpret_cast<wl_proxy *>(shm), reinterpret_cast<wl_proxy *>(compositor),
                 reinterpret_cast<wl_proxy *>(layerShell), reinterpret_cast<wl_proxy *>(viewporter),
                 reinterpret_cast<wl_proxy *>(outputManager), reinterpret_cast<wl_proxy *>(pixel),
                 reinterpret_cast<wl_proxy *>(registry) }) {
            if (proxy)
                wl_proxy_destroy(proxy);
        }
        if (display)
            wl_display_disconnect(display);
    }

    // Connects and learns the globals, the seat's pointer and the outputs' places. Returns what is
    // missing, or an empty string.
    QString open()
    {
        display = wl_display_connect(nullptr);
        if (!display)
            return QStringLiteral("cannot connect to the Wayland display");
        registry = wl_display_get_registry(display);
        static const wl_registry_listener registryListener = { global, globalRemoved };
        wl_registry_add_listener(registry, &registryListener, this);
        // Globals first, then what binding them brought: the seat's capabilities, the outputs' places.
        if (!roundtrip() || !roundtrip())
            return QStringLiteral("the compositor does not answer");
        if (!layerShell || !compositor || !shm)
            return QStringLiteral("the compositor offers no layer-shell");
        if (viewporter)
            pixel = transparentBuffer(shm, 1, 1);
        notifier = new QSocketNotifier(wl_display_get_fd(display), QSocketNotifier::Read, finder);
        QObject::connect(notifier, &QSocketNotifier::activated, finder, [this] { pump(0); });
        return QString();
    }

    // Reads and handles what the compositor sent, waiting up to timeoutMs for it.
    bool pump(int timeoutMs)
    {
        while (wl_display_prepare_read(display) != 0)
            wl_display_dispatch_pending(display);
        wl_display_flush(display);
        pollfd answer = { wl_display_get_fd(display), POLLIN, 0 };
        if (::poll(&answer, 1, timeoutMs) > 0 && (answer.revents & POLLIN))
            wl_display_read_events(display);
        else
            wl_display_cancel_read(display);
        wl_display_dispatch_pending(display);
        if (wl_display_get_error(display) != 0) {
            // The compositor is gone: Qt's connection ends the process on it.
            notifier->setEnabled(false);
            return false;
        }
        return true;
    }

    bool roundtrip()
    {
        bool done = false;
        static const wl_callback_listener doneListener = { [](void *data, wl_callback *callback, uint32_t) {
            *static_cast<bool *>(data) = true;
            wl_callback_destroy(callback);
        } };
        wl_callback_add_listener(wl_display_sync(display), &doneListener, &done);
        QElapsedTimer waited;
        waited.start();
        while (!done && waited.elapsed() < 2000 && wl_display_get_error(display) == 0) {
            while (wl_display_prepare_read(display) != 0)
                wl_display_dispatch_pending(display);
            wl_display_flush(display);
            pollfd answer = { wl_display_get_fd(display), POLLIN, 0 };
            if (::poll(&answer, 1, int(2000 - waited.elapsed())) > 0)
                wl_display_read_events(display);
            else
                wl_display_cancel_read(display);
            wl_display_dispatch_pending(display);
        }
        return done;
    }

    // Maps a cover over every output. Returns what is missing, or an empty string.
    QString showCovers()
    {
        if (!pointer)
            return QStringLiteral("the seat has no pointer");
        if (outputs.empty())
            return QStringLiteral("there is no output");
        prepareHandover();
        for (const std::unique_ptr<Output> &output : outputs) {
            Cover cover;
            cover.output = output.get();
            cover.surface = wl_compositor_create_surface(compositor);
            // Exclusive zone -1: the whole output, panels' zones included.
            cover.layer = zwlr_layer_shell_v1_get_layer_surface(layerShell, cover.surface, output->output,
                ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "glintor-pointer");
            zwlr_layer_surface_v1_set_anchor(cover.layer,
                ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM
                    | ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
            zwlr_layer_surface_v1_set_exclusive_zone(cover.layer, -1);
            zwlr_layer_surface_v1_set_keyboard_interactivity(cover.layer, 0);
            if (viewporter)
                cover.viewport = wp_viewporter_get_viewport(viewporter, cover.surface);
            static const zwlr_layer_surface_v1_listener layerListener = { configured, closed };
            zwlr_layer_surface_v1_add_listener(cover.layer, &layerListener, this);
            wl_surface_commit(cover.surface);
            covers.push_back(cover);
        }
        wl_display_flush(display);
        return QString();
    }

    bool searching() const { return !covers.empty(); }

    // sway looks for the surface under a resting pointer as a layer surface maps or unmaps, but
    // sway 1.7 looks at a cover's unmap while the cover still counts (the pointer stayed on it and a
    // click meanwhile reached nobody), and sway 1.10 (wlroots' scene graph) looks at a cover's map
    // before the cover's buffer is in the scene (no enter came at all). So a surface with an empty
    // input region, configured along with the covers, is mapped right after them (sway looks again,
    // covers in place: the enter) and goes right after them (sway looks again, covers gone: the
    // window below has the pointer back).
    void prepareHandover()
    {
        if (handover.layer)
            return;
        handover.surface = wl_compositor_create_surface(compositor);
        wl_region *nothing = wl_compositor_create_region(compositor);
        wl_surface_set_input_region(handover.surface, nothing);
        wl_region_destroy(nothing);
        handover.layer = zwlr_layer_shell_v1_get_layer_surface(
            layerShell, handover.surface, nullptr, ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "glintor-handover");
        zwlr_layer_surface_v1_set_size(handover.layer, 1, 1);
        zwlr_layer_surface_v1_set_anchor(
            handover.layer, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT);
        zwlr_layer_surface_v1_set_exclusive_zone(handover.layer, -1);
        zwlr_layer_surface_v1_set_keyboard_interactivity(handover.layer, 0);
        static const zwlr_layer_surface_v1_listener handoverListener = {
            [](void *data, zwlr_layer_surface_v1 *layer, uint32_t serial, uint32_t, uint32_t) {
                zwlr_layer_surface_v1_ack_configure(layer, serial);
                static_cast<Connection *>(data)->handover.size = QSize(1, 1);
            },
            [](void *data, zwlr_layer_surface_v1 *) { static_cast<Connection *>(data)->dropHandover(); }
        };
        zwlr_layer_surface_v1_add_listener(handover.layer, &handoverListener, this);
        wl_surface_commit(handover.surface);
    }

    void mapHandover()
    {
        if (handover.size.isEmpty() || handover.buffer)
            return;
        handover.buffer = transparentBuffer(shm, 1, 1);
        wl_surface_attach(handover.surface, handover.buffer, 0, 0);
        wl_surface_commit(handover.surface);
    }

    void dropHandover()
    {
        if (handover.layer)
            destroy(handover);
        handover = Cover();
    }

    // Unmaps and destroys the covers, then the hand-over, at once: a click now would land on them.
    void drop()
    {
        if (sync) {
            wl_callback_destroy(sync);
            sync = nullptr;
        }
        for (const Cover &cover : covers)
            destroy(cover);
        covers.clear();
        dropHandover();
        if (display)
            wl_display_flush(display);
    }

    static void destroy(const Cover &cover)
    {
        if (cover.viewport)
            wp_viewport_destroy(cover.viewport);
        if (cover.layer)
            zwlr_layer_surface_v1_destroy(cover.layer);
        wl_surface_destroy(cover.surface);
        if (cover.buffer)
            wl_buffer_destroy(cover.buffer);
    }

    void forget(Output &output)
    {
        const auto on = [&](const Cover &cover) { return cover.output == &output; };
        for (const Cover &cover : covers) {
            if (on(cover))
                destroy(cover);
        }
        covers.erase(std::remove_if(covers.begin(), covers.end(), on), covers.end());
        if (output.xdgOutput)
            zxdg_output_v1_destroy(output.xdgOutput);
        wl_output_destroy(output.output);
    }

    Cover *coverOf(wl_surface *surface)
    {
        const auto found
            = std::find_if(covers.begin(), covers.end(), [&](const Cover &cover) { return cover.surface == surface; });
        return found == covers.end() ? nullptr : &*found;
    }

    void placeOutput(Output &output)
    {
        if (!outputManager || output.xdgOutput)
            return;
        static const zxdg_output_v1_listener placeListener = {
            [](void *place, zxdg_output_v1 *, int32_t x, int32_t y) {
                static_cast<Output *>(place)->position = QPoint(x, y);
            },
            ignore<zxdg_output_v1 *, int32_t, int32_t>, ignore<zxdg_output_v1 *>,
            ignore<zxdg_output_v1 *, const char *>, ignore<zxdg_output_v1 *, const char *>
        };
        output.xdgOutput = zxdg_output_manager_v1_get_xdg_output(outputManager, output.output);
        zxdg_output_v1_add_listener(output.xdgOutput, &placeListener, &output);
    }

    static void global(void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t version)
    {
        auto *self = static_cast<Connection *>(data);
        const auto bind = [&](const wl_interface *type, uint32_t highest) {
            return wl_registry_bind(registry, name, type, std::min(version, highest));
        };
        if (std::strcmp(interface, wl_compositor_interface.name) == 0) {
            self->compositor = static_cast<wl_compositor *>(bind(&wl_compositor_interface, 4));
        } else if (std::strcmp(interface, wl_shm_interface.name) == 0) {
            self->shm = static_cast<wl_shm *>(bind(&wl_shm_interface, 1));
        } else if (std::strcmp(interface, zwlr_layer_shell_v1_interface.name) == 0) {
            self->layerShell = static_cast<zwlr_layer_shell_v1 *>(bind(&zwlr_layer_shell_v1_interface, 4));
        } else if (std::strcmp(interface, wp_viewporter_interface.name) == 0) {
            self->viewporter = static_cast<wp_viewporter *>(bind(&wp_viewporter_interface, 1));
        } else if (std::strcmp(interface, zxdg_output_manager_v1_interface.name) == 0) {
            self->outputManager = static_cast<zxdg_output_manager_v1 *>(bind(&zxdg_output_manager_v1_interface, 3));
            for (const std::unique_ptr<Output> &output : self->outputs)
                self->placeOutput(*output);
        } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && !self->seat) {
            self->seat = static_cast<wl_seat *>(bind(&wl_seat_interface, 5));
            static const wl_seat_listener seatListener = { capabilities, ignore<wl_seat *, const char *> };
            wl_seat_add_listener(self->seat, &seatListener, self);
        } else if (std::strcmp(interface, wl_output_interface.name) == 0) {
            auto output = std::make_unique<Output>();
            output->name = name;
            output->output = static_cast<wl_output *>(bind(&wl_output_interface, 2));
            // Without xdg-output, wlroots compositors give the layout position here.
            static const wl_output_listener outputListener
                = { [](void *place_, wl_output *, int32_t x, int32_t y, int32_t, int32_t, int32_t, const char *,
                        const char *, int32_t) {
                       auto *place = static_cast<Output *>(place_);
                       if (!place->xdgOutput)
                           place->position = QPoint(x, y);
                   },
                      ignore<wl_output *, uint32_t, int32_t, int32_t, int32_t>, ignore<wl_output *>,
                      ignore<wl_output *, int32_t>, ignore<wl_output *, const char *>,
                      ignore<wl_output *, const char *> };
            wl_output_add_listener(output->output, &outputListener, output.get());
            self->placeOutput(*output);
            self->outputs.push_back(std::move(output));
        }
    }

    static void globalRemoved(void *data, wl_registry *, uint32_t name)
    {
        auto *self = static_cast<Connection *>(data);
        auto &outputs = self->outputs;
        const auto gone = std::find_if(
            outputs.begin(), outputs.end(), [&](const std::unique_ptr<Output> &output) { return output->name == name; });
        if (gone == outputs.end())
            return;
        self->forget(**gone);
        outputs.erase(gone);
    }

    static void capabilities(void *data, wl_seat *seat, uint32_t capabilities)
    {
        auto *self = static_cast<Connection *>(data);
        const bool hasPointer = capabilities & WL_SEAT_CAPABILITY_POINTER;
        if (hasPointer && !self->pointer) {
            self->pointer = wl_seat_get_pointer(seat);
            // Member by member: newer libwayland adds events of later seat versions, which a
            // version 5 seat never sends.
            static const wl_pointer_listener pointerListener = [] {
                wl_pointer_listener listener {};
                listener.enter = entered;
                listener.leave = left;
                listener.motion = moved;
                listener.button = ignore<wl_pointer *, uint32_t, uint32_t, uint32_t, uint32_t>;
                listener.axis = ignore<wl_pointer *, uint32_t, uint32_t, wl_fixed_t>;
                listener.frame = ignore<wl_pointer *>;
                listener.axis_source = ignore<wl_pointer *, uint32_t>;
                listener.axis_stop = ignore<wl_pointer *, uint32_t, uint32_t>;
                listener.axis_discrete = ignore<wl_pointer *, uint32_t, int32_t>;
                return listener;
            }();
            wl_pointer_add_listener(self->pointer, &pointerListener, self);
        } else if (!hasPointer && self->pointer) {
            if (wl_pointer_get_version(self->pointer) >= WL_POINTER_RELEASE_SINCE_VERSION)
                wl_pointer_release(self->pointer);
            else
                wl_pointer_destroy(self->pointer);
            self->pointer = nullptr;
            self->entry = nullptr;
        }
    }

    static void entered(void *data, wl_pointer *, uint32_t, wl_surface *surface, wl_fixed_t x, wl_fixed_t y)
    {
        auto *self = static_cast<Connection *>(data);
        self->entry = surface;
        self->report(surface, x, y);
    }

    static void left(void *data, wl_pointer *, uint32_t, wl_surface *)
    {
        static_cast<Connection *>(data)->entry = nullptr;
    }

    // Where the compositor folds an enter into a motion, the motion tells as well.
    static void moved(void *data, wl_pointer *, uint32_t, wl_fixed_t x, wl_fixed_t y)
    {
        auto *self = static_cast<Connection *>(data);
        self->report(self->entry, x, y);
    }

    void report(wl_surface *surface, wl_fixed_t x, wl_fixed_t y)
    {
        const Cover *cover = surface ? coverOf(surface) : nullptr;
        if (!cover)
            return;
        const QPoint position = cover->output->position + QPoint(wl_fixed_to_int(x), wl_fixed_to_int(y));
        entry = nullptr;
        drop();
        Found found = std::move(finder->whenFound);
        finder->whenFound = nullptr;
        limit->stop();
        if (found)
            found(position);
    }

    static void configured(
        void *data, zwlr_layer_surface_v1 *layer, uint32_t serial, uint32_t width, uint32_t height)
    {
        auto *self = static_cast<Connection *>(data);
        zwlr_layer_surface_v1_ack_configure(layer, serial);
        const auto cover = std::find_if(
            self->covers.begin(), self->covers.end(), [&](const Cover &each) { return each.layer == layer; });
        if (cover == self->covers.end() || !cover->size.isEmpty() || width == 0 || height == 0)
            return;
        cover->size = QSize(int(width), int(height));
        if (std::none_of(self->covers.begin(), self->covers.end(), [](const Cover &each) { return each.size.isEmpty(); }))
            self->mapCovers();
    }

    // Maps every cover at once, and the hand-over after them. On a first try they are unmapped again
    // in the same breath, the hand-over last: a compositor that sends the pointer's enter as it handles
    // the commit that maps a surface (sway does) has sent it by then, and no click can land on a cover
    // meanwhile. Where no enter came, a second try keeps them mapped until it comes.
    void mapCovers()
    {
        for (Cover &cover : covers) {
            // One pixel scaled to the output by the compositor; a full-size buffer where it cannot scale.
            if (cover.viewport && pixel) {
                wp_viewport_set_destination(cover.viewport, cover.size.width(), cover.size.height());
                wl_surface_attach(cover.surface, pixel, 0, 0);
            } else {
                cover.buffer = transparentBuffer(shm, cover.size.width(), cover.size.height());
                wl_surface_attach(cover.surface, cover.buffer, 0, 0);
            }
            wl_surface_commit(cover.surface);
        }
        mapHandover();
        if (firstTry) {
            for (Cover &cover : covers) {
                zwlr_layer_surface_v1_destroy(cover.layer);
                cover.layer = nullptr;
            }
            dropHandover();
        }
        waitForCompositor();
    }

    static void closed(void *data, zwlr_layer_surface_v1 *layer)
    {
        auto *self = static_cast<Connection *>(data);
        const auto cover = std::find_if(
            self->covers.begin(), self->covers.end(), [&](const Cover &each) { return each.layer == layer; });
        if (cover == self->covers.end())
            return;
        destroy(*cover);
        self->covers.erase(cover);
    }

    // The limit counts from the moment the compositor has handled every cover, whatever the time
    // it took to get there.
    void waitForCompositor()
    {
        static const wl_callback_listener doneListener = { [](void *data, wl_callback *callback, uint32_t) {
            auto *self = static_cast<Connection *>(data);
            wl_callback_destroy(callback);
            self->sync = nullptr;
            if (!self->searching())
                return;
            if (!self->firstTry) {
                self->limit->start();
                return;
            }
            // The first try brought no enter: map new covers and keep them until it comes.
            self->firstTry = false;
            self->drop();
            const QString missing = self->showCovers();
            if (!missing.isEmpty())
                self->finder->giveUp(missing);
        } };
        sync = wl_display_sync(display);
        wl_callback_add_listener(sync, &doneListener, this);
        wl_display_flush(display);
    }

    PointerFinder *finder;
    wl_display *display = nullptr;
    wl_registry *registry = nullptr;
    wl_compositor *compositor = nullptr;
    wl_shm *shm = nullptr;
    wl_seat *seat = nullptr;
    wl_pointer *pointer = nullptr;
    zwlr_layer_shell_v1 *layerShell = nullptr;
    wp_viewporter *viewporter = nullptr;
    zxdg_output_manager_v1 *outputManager = nullptr;
    wl_buffer *pixel = nullptr;
    std::vector<std::unique_ptr<Output>> outputs;
    std::vector<Cover> covers;
    Cover handover;
    bool firstTry = true; // of the search running
    wl_surface *entry = nullptr;
    wl_callback *sync = nullptr;
    QSocketNotifier *notifier = nullptr;
    QTimer *limit = nullptr;
};

PointerFinder::PointerFinder(QObject *parent)
    : QObject(parent)
{
}

PointerFinder::~PointerFinder() = default;

bool PointerFinder::searching() const
{
    return connection && connection->searching();
}

void PointerFinder::find(Found found)
{
    whenFound = std::move(found);
    if (searching())
        return;
    if (!connection) {
        auto opened = std::make_unique<Connection>(this);
        const QString missing = opened->open();
        if (!missing.isEmpty()) {
            giveUp(missing);
            return;
        }
        connection = std::move(opened);
        connection->limit = new QTimer(this);
        connection->limit->setSingleShot(true);
        connection->limit->setInterval(LimitMs);
        connect(connection->limit, &QTimer::timeout, this, [this] {
            // An enter that came in the same pass as the timer still counts.
            connection->pump(0);
            if (searching())
                giveUp(QStringLiteral("within %1 ms of showing the surfaces that find it: the pointer is over "
                                      "another program's overlay surface (a launcher, a notification, a logout "
                                      "screen), held by a drag or an open menu, or on no output")
                           .arg(LimitMs));
        });
    }
    connection->firstTry = true;
    const QString missing = connection->showCovers();
    if (!missing.isEmpty())
        giveUp(missing);
}

void PointerFinder::giveUp(const QString &why)
{
    if (connection) {
        connection->limit->stop();
        connection->drop();
    }
    whenFound = nullptr;
    qInfo().noquote() << "The compositor did not say where the pointer is, so nothing is shown:" << why;
}

} // namespace WaylandSupport
