// The logic of the GNOME Shell extension, shared by both flavours: its head brings Gio, GLib, Meta,
// Shell and Main into scope, its tail hands GlintorBridge to the Shell. The extension only reports
// the pointer, forwards a hotkey and keeps the service's overlay out of the Shell's way;
// glintor-service holds every rule.

const INTERFACE_XML = `<node>
  <interface name="org.glintor.ShellExtension">
    <property name="Version" type="s" access="read"/>
    <method name="GetPointer">
      <arg name="x" type="i" direction="out"/>
      <arg name="y" type="i" direction="out"/>
    </method>
    <method name="GetStageSize">
      <arg name="width" type="i" direction="out"/>
      <arg name="height" type="i" direction="out"/>
    </method>
    <method name="GrabHotkey">
      <arg name="accelerator" type="s" direction="in"/>
      <arg name="grabbed" type="b" direction="out"/>
    </method>
    <method name="WatchMotion">
      <arg name="enabled" type="b" direction="in"/>
    </method>
    <signal name="HotkeyPressed"/>
    <signal name="PointerMoved">
      <arg name="x" type="i"/>
      <arg name="y" type="i"/>
    </signal>
  </interface>
</node>`;

const BUS_NAME = 'org.glintor.ShellExtension';
const OBJECT_PATH = '/org/glintor/ShellExtension';
const INTERFACE_NAME = 'org.glintor.ShellExtension';
const VERSION = '@PROJECT_VERSION@';
// Errors the methods answer with.
const NOT_ALLOWED_ERROR = 'org.glintor.ShellExtension.Error.NotAllowed';
const FAILED_ERROR = 'org.glintor.ShellExtension.Error.Failed';
// Any client of the session bus may call GrabHotkey: a combination without one of these would take
// keys that type text from every application, and tell the caller each press. Names as mutter's
// accelerator parser reads them, case aside: Ctrl, Alt (Mod1, Meta) and Super (Mod4, Hyper).
const TYPING_FREE_MODIFIERS = /<(control|ctrl|ctl|primary|alt|mod1|meta|super|mod4|hyper)>/i;
// The least time between two PointerMoved signals to one client, in microseconds.
const MOTION_INTERVAL_US = 20000;

// 48 moved the cursor tracker from the display (Meta.CursorTracker.get_for_display, gone) to the
// backend.
function cursorTracker() {
    if (typeof global.backend?.get_cursor_tracker === 'function')
        return global.backend.get_cursor_tracker();
    return Meta.CursorTracker.get_for_display(global.display);
}

// A call the extension refuses, told to the caller with its D-Bus error name.
class ClientError extends Error {
    constructor(dbusName, message) {
        super(message);
        this.dbusName = dbusName;
    }
}

class GlintorBridge {
    enable() {
        // Per client (its unique bus name): the accelerator it holds, whether it watches motion.
        this._clients = new Map();
        this._motionId = 0;
        // A step that fails leaves nothing of the steps before it behind.
        try {
            this._acceleratorId = global.display.connect('accelerator-activated',
                (display, action) => this._onAccelerator(action));
            this._windowId = global.display.connect('window-created',
                (display, window) => this._onWindowCreated(window));
            const dbus = Gio.DBusExportedObject.wrapJSObject(INTERFACE_XML, this);
            dbus.export(Gio.DBus.session, OBJECT_PATH);
            this._dbus = dbus;
            this._nameId = Gio.bus_own_name_on_connection(Gio.DBus.session, BUS_NAME,
                Gio.BusNameOwnerFlags.NONE, null, null);
        } catch (e) {
            this.disable();
            throw e;
        }
    }

    disable() {
        if (this._nameId)
            Gio.bus_unown_name(this._nameId);
        this._nameId = 0;
        this._dbus?.unexport();
        this._dbus = null;
        for (const name of [...this._clients.keys()])
            this._forget(name);
        if (this._acceleratorId)
            global.display.disconnect(this._acceleratorId);
        this._acceleratorId = 0;
        if (this._windowId)
            global.display.disconnect(this._windowId);
        this._windowId = 0;
        this._clients = null;
    }

    get Version() {
        return VERSION;
    }

    GetPointer() {
        const [x, y] = global.get_pointer();
        return [x, y];
    }

    // In the logical pixels of GetPointer: the service compares it with XWayland's screen, which
    // since GNOME 47 may be larger by the highest output scale.
    GetStageSize() {
        return [Math.round(global.stage.width), Math.round(global.stage.height)];
    }

    GrabHotkeyAsync([accelerator], invocation) {
        this._answer(invocation, () => {
            if (accelerator !== '' && !TYPING_FREE_MODIFIERS.test(accelerator)) {
                throw new ClientError(NOT_ALLOWED_ERROR,
                    `"${accelerator}" has neither Ctrl, Alt nor Super: it would take keys that type text`);
            }
            const client = this._client(invocation.get_sender());
            this._release(client);
            if (accelerator === '')
                return new GLib.Variant('(b)', [true]);
            // Held down, the key repeats; the service wants one press.
            const action = global.display.grab_accelerator(accelerator, Meta.KeyBindingFlags.IGNORE_AUTOREPEAT);
            if (action === Meta.KeyBindingAction.NONE)
                return new GLib.Variant('(b)', [false]);
            client.action = action;
            try {
                // The Shell filters every binding it was not told to let through.
                Main.wm.allowKeybinding(Meta.external_binding_name_for_action(action), Shell.ActionMode.ALL);
            } catch (e) {
                this._release(client);
                throw e;
            }
            return new GLib.Variant('(b)', [true]);
        });
    }

    WatchMotionAsync([enabled], invocation) {
        this._answer(invocation, () => {
            this._client(invocation.get_sender()).watching = enabled;
            this._updateMotion();
            return null;
        });
    }

    // Answers with what answer() returns, or with an error: before GNOME 50 an exception thrown out of
    // an *Async method left the caller waiting until its time ran out.
    _answer(invocation, answer) {
        let reply;
        try {
            reply = answer();
        } catch (e) {
            if (!(e instanceof ClientError))
                logError(e, 'Glintor');
            invocation.return_dbus_error(e instanceof ClientError ? e.dbusName : FAILED_ERROR, e.message);
            return;
        }
        invocation.return_value(reply);
    }

    _client(name) {
        let client = this._clients.get(name);
        if (!client) {
            // A service that exits or crashes leaves its name: its grab and watch go with it.
            const watchId = Gio.bus_watch_name_on_connection(Gio.DBus.session, name,
                Gio.BusNameWatcherFlags.NONE, null, () => this._forget(name));
            client = {watchId, action: Meta.KeyBindingAction.NONE, watching: false, lastMotion: -Infinity, pid: 0};
            this._clients.set(name, client);
            Gio.DBus.session.call('org.freedesktop.DBus', '/org/freedesktop/DBus', 'org.freedesktop.DBus',
                'GetConnectionUnixProcessID', new GLib.Variant('(s)', [name]), new GLib.VariantType('(u)'),
                Gio.DBusCallFlags.NONE, -1, null, (bus, result) => {
                    try {
                        [client.pid] = bus.call_finish(result).deep_unpack();
                    } catch (e) {
                        logError(e, 'Glintor');
                    }
                });
        }
        return client;
    }

    _forget(name) {
        const client = this._clients.get(name);
        if (!client)
            return;
        Gio.bus_unwatch_name(client.watchId);
        this._release(client);
        this._clients.delete(name);
        this._updateMotion();
    }

    _release(client) {
        const action = client.action;
        if (action === Meta.KeyBindingAction.NONE)
            return;
        client.action = Meta.KeyBindingAction.NONE;
        global.display.ungrab_accelerator(action);
        Main.wm.allowKeybinding(Meta.external_binding_name_for_action(action), Shell.ActionMode.NONE);
    }

    _onAccelerator(action) {
        for (const [name, client] of this._clients) {
            if (client.action === action)
                this._emit(name, 'HotkeyPressed', null);
        }
    }

    // The cursor tracker is followed only while somebody watches, so a resting pointer costs nothing.
    _updateMotion() {
        const watched = [...this._clients.values()].some(client => client.watching);
        if (watched && !this._motionId) {
            this._tracker = cursorTracker();
            this._motionId = this._tracker.connect('position-invalidated', () => this._onMotion());
        } else if (!watched && this._motionId) {
            this._tracker.disconnect(this._motionId);
            this._motionId = 0;
            this._tracker = null;
        }
    }

    _onMotion() {
        const now = GLib.get_monotonic_time();
        let position = null;
        for (const [name, client] of this._clients) {
            if (!client.watching || now - client.lastMotion < MOTION_INTERVAL_US)
                continue;
            client.lastMotion = now;
            position ??= global.get_pointer();
            this._emit(name, 'PointerMoved', new GLib.Variant('(ii)', [position[0], position[1]]));
        }
    }

    // The service's overlay is an X11 window with an empty input shape, and the Shell gives the pointer
    // to what it picks under it. Mutter before 44.2 drops that shape from the overlay's second frame
    // on, and any pick while the rings play then hands the pointer and the next click to XWayland,
    // which gives them to no window: out of the pick, the overlay can never take them.
    _onWindowCreated(window) {
        const pid = window.get_pid();
        if (!window.is_override_redirect() || pid <= 0 || ![...this._clients.values()].some(c => c.pid === pid))
            return;
        const actor = window.get_compositor_private();
        if (actor)
            Shell.util_set_hidden_from_pick(actor, true);
    }

    // To that client alone: another service on the bus has its own grab and its own watch.
    _emit(destination, signal, parameters) {
        Gio.DBus.session.emit_signal(destination, OBJECT_PATH, INTERFACE_NAME, signal, parameters);
    }
}
