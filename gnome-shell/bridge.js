// The logic of the GNOME Shell extension, shared by both flavours: its head brings Gio, GLib, Meta,
// Shell and Main into scope, its tail hands GlintorBridge to the Shell. The extension only reports
// the pointer and forwards a hotkey; glintor-service holds every rule.

const INTERFACE_XML = `<node>
  <interface name="org.glintor.ShellExtension">
    <property name="Version" type="s" access="read"/>
    <method name="GetPointer">
      <arg name="x" type="i" direction="out"/>
      <arg name="y" type="i" direction="out"/>
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
// The least time between two PointerMoved signals to one client, in microseconds.
const MOTION_INTERVAL_US = 20000;

// 48 moved the cursor tracker from the display (Meta.CursorTracker.get_for_display, gone) to the
// backend.
function cursorTracker() {
    if (typeof global.backend?.get_cursor_tracker === 'function')
        return global.backend.get_cursor_tracker();
    return Meta.CursorTracker.get_for_display(global.display);
}

class GlintorBridge {
    enable() {
        // Per client (its unique bus name): the accelerator it holds, whether it watches motion.
        this._clients = new Map();
        this._motionId = 0;
        this._acceleratorId = global.display.connect('accelerator-activated',
            (display, action) => this._onAccelerator(action));
        this._dbus = Gio.DBusExportedObject.wrapJSObject(INTERFACE_XML, this);
        this._dbus.export(Gio.DBus.session, OBJECT_PATH);
        this._nameId = Gio.bus_own_name_on_connection(Gio.DBus.session, BUS_NAME,
            Gio.BusNameOwnerFlags.NONE, null, null);
    }

    disable() {
        Gio.bus_unown_name(this._nameId);
        this._dbus.unexport();
        this._dbus = null;
        for (const name of [...this._clients.keys()])
            this._forget(name);
        global.display.disconnect(this._acceleratorId);
        this._clients = null;
    }

    get Version() {
        return VERSION;
    }

    GetPointer() {
        const [x, y] = global.get_pointer();
        return [x, y];
    }

    GrabHotkeyAsync([accelerator], invocation) {
        const client = this._client(invocation.get_sender());
        this._release(client);
        let grabbed = true;
        if (accelerator !== '') {
            // Held down, the key repeats; the service wants one press.
            const action = global.display.grab_accelerator(accelerator, Meta.KeyBindingFlags.IGNORE_AUTOREPEAT);
            grabbed = action !== Meta.KeyBindingAction.NONE;
            if (grabbed) {
                // The Shell filters every binding it was not told to let through.
                Main.wm.allowKeybinding(Meta.external_binding_name_for_action(action), Shell.ActionMode.ALL);
                client.action = action;
            }
        }
        invocation.return_value(new GLib.Variant('(b)', [grabbed]));
    }

    WatchMotionAsync([enabled], invocation) {
        this._client(invocation.get_sender()).watching = enabled;
        this._updateMotion();
        invocation.return_value(null);
    }

    _client(name) {
        let client = this._clients.get(name);
        if (!client) {
            // A service that exits or crashes leaves its name: its grab and watch go with it.
            const watchId = Gio.bus_watch_name_on_connection(Gio.DBus.session, name,
                Gio.BusNameWatcherFlags.NONE, null, () => this._forget(name));
            client = {watchId, action: Meta.KeyBindingAction.NONE, watching: false, lastMotion: -Infinity};
            this._clients.set(name, client);
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
        if (client.action === Meta.KeyBindingAction.NONE)
            return;
        global.display.ungrab_accelerator(client.action);
        Main.wm.allowKeybinding(Meta.external_binding_name_for_action(client.action), Shell.ActionMode.NONE);
        client.action = Meta.KeyBindingAction.NONE;
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

    // To that client alone: another service on the bus has its own grab and its own watch.
    _emit(destination, signal, parameters) {
        Gio.DBus.session.emit_signal(destination, OBJECT_PATH, INTERFACE_NAME, signal, parameters);
    }
}
