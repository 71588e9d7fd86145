// Test-only extension of Glintor's suite (never installed): drives the headless Shell from inside,
// since its seat has no pointer or keyboard and its screenshots are refused to ordinary clients.
// Each input call answers once the Shell has handled its events (and every handler of them has run),
// so a test that then reads its own bus connection has every signal those events caused.
// Built in both flavours as the shipped extension is: its head brings Clutter, Gio, GLib, Meta, Shell
// and Main into scope, its tail hands TestHelper to the Shell.

const INTERFACE_XML = `<node>
  <interface name="org.glintor.ShellTest">
    <method name="Environment">
      <arg name="display" type="s" direction="out"/>
      <arg name="xauthority" type="s" direction="out"/>
    </method>
    <method name="LeaveOverview"/>
    <method name="MovePointer">
      <arg name="path" type="a(ii)" direction="in"/>
    </method>
    <method name="Click">
      <arg name="picked" type="s" direction="out"/>
    </method>
    <method name="Relayout"/>
    <method name="SetScale">
      <arg name="wanted" type="d" direction="in"/>
      <arg name="scale" type="d" direction="out"/>
    </method>
    <method name="Keys">
      <arg name="keyvals" type="au" direction="in"/>
      <arg name="holdMs" type="u" direction="in"/>
    </method>
    <method name="Screenshot">
      <arg name="path" type="s" direction="in"/>
      <arg name="written" type="b" direction="out"/>
    </method>
    <method name="Grab">
      <arg name="accelerator" type="s" direction="in"/>
      <arg name="grabbed" type="b" direction="out"/>
    </method>
    <method name="Ungrab">
      <arg name="activations" type="u" direction="out"/>
    </method>
    <method name="ReloadExtension">
      <arg name="uuid" type="s" direction="in"/>
    </method>
    <method name="FailKeybindings">
      <arg name="fail" type="b" direction="in"/>
    </method>
  </interface>
</node>`;

// An actor as a test's log tells it: its window's kind (x11 or wayland) and title, or its type.
function describe(actor) {
    for (let a = actor; a; a = a.get_parent()) {
        if (a instanceof Meta.WindowActor) {
            const window = a.get_meta_window();
            const kind = window.get_client_type() === Meta.WindowClientType.X11 ? 'x11' : 'wayland';
            return `${kind} window "${window.get_title() ?? ''}"`;
        }
    }
    return actor ? actor.constructor.name : 'nothing';
}

class TestHelper {
    enable() {
        // 51 has no Clutter.get_default_backend; 43 has no stage context.
        const backend = global.stage.get_context?.().get_backend() ?? Clutter.get_default_backend();
        const seat = backend.get_default_seat();
        this._seat = seat;
        this._pointer = seat.create_virtual_device(Clutter.InputDeviceType.POINTER_DEVICE);
        this._keyboard = seat.create_virtual_device(Clutter.InputDeviceType.KEYBOARD_DEVICE);
        // Calls waiting for the Shell to handle a motion to a point.
        this._motionWaits = [];
        this._action = Meta.KeyBindingAction.NONE;
        this._tracker = global.backend?.get_cursor_tracker?.() ?? Meta.CursorTracker.get_for_display(global.display);
        this._motionId = this._tracker.connect('position-invalidated', () => this._onMotion());
        this._dbus = Gio.DBusExportedObject.wrapJSObject(INTERFACE_XML, this);
        this._dbus.export(Gio.DBus.session, '/org/glintor/ShellTest');
        this._nameId = Gio.bus_own_name_on_connection(Gio.DBus.session, 'org.glintor.ShellTest',
            Gio.BusNameOwnerFlags.NONE, null, null);
    }

    disable() {
        Gio.bus_unown_name(this._nameId);
        this._dbus.unexport();
        this.Ungrab();
        this.FailKeybindings(false);
        this._tracker.disconnect(this._motionId);
        this._seat = this._pointer = this._keyboard = this._tracker = this._dbus = null;
    }

    Environment() {
        return [GLib.getenv('DISPLAY') ?? '', GLib.getenv('XAUTHORITY') ?? ''];
    }

    // The Shell starts in the overview, where no window shows; it may still be starting up.
    LeaveOverviewAsync(params, invocation) {
        const hide = () => {
            if (!Main.overview.visible) {
                invocation.return_value(null);
                return;
            }
            const id = Main.overview.connect('hidden', () => {
                Main.overview.disconnect(id);
                invocation.return_value(null);
            });
            Main.overview.hide();
        };
        if (Main.layoutManager._startingUp) {
            const id = Main.layoutManager.connect('startup-complete', () => {
                Main.layoutManager.disconnect(id);
                hide();
            });
        } else {
            hide();
        }
    }

    // Answers after the Shell handled the motion to the last point, and after every other handler
    // of that motion ran.
    MovePointerAsync([path], invocation) {
        if (path.length === 0) {
            invocation.return_value(null);
            return;
        }
        const [x, y] = path[path.length - 1];
        this._motionWaits.push({x, y, done: () => invocation.return_value(null)});
        for (const [px, py] of path)
            this._pointer.notify_absolute_motion(GLib.get_monotonic_time(), px, py);
    }

    _onMotion() {
        // Up to 48 the tracker hears of a motion while the Shell handles its event; 51 tells it
        // afterwards, with the pointer already there.
        const event = Clutter.get_current_event();
        const [x, y] = event ? event.get_coords() : global.get_pointer();
        const done = this._motionWaits.filter(wait => wait.x === x && wait.y === y);
        this._motionWaits = this._motionWaits.filter(wait => !done.includes(wait));
        for (const wait of done)
            GLib.idle_add(GLib.PRIORITY_DEFAULT, () => {
                wait.done();
                return GLib.SOURCE_REMOVE;
            });
    }

    // Answers what was under the pointer at the press: what a pick finds there now, and what the
    // Shell last picked for the pointer, whose window gets the button.
    Click() {
        const [x, y] = global.get_pointer();
        const under = describe(global.stage.get_actor_at_pos(Clutter.PickMode.REACTIVE, x, y));
        // 51 keeps the pointer's target in a sprite that it does not show to extensions.
        const target = this._seat.get_pointer
            ? describe(global.stage.get_device_actor(this._seat.get_pointer(), null)) : 'unknown';
        for (const state of [Clutter.ButtonState.PRESSED, Clutter.ButtonState.RELEASED])
            this._pointer.notify_button(GLib.get_monotonic_time(), Clutter.BUTTON_PRIMARY, state);
        return `under the pointer ${under}, the button's target ${target}`;
    }

    // Lays the stage out again, as a panel or a window that changes size does: after that frame the
    // Shell picks anew what the resting pointer is over. Answers once it has.
    RelayoutAsync(params, invocation) {
        Main.layoutManager.uiGroup.queue_relayout();
        const id = global.stage.connect('after-update', () => {
            global.stage.disconnect(id);
            invocation.return_value(null);
        });
    }

    // Gives the output the supported scale nearest to wanted, as the display settings do (for this
    // session only: method 1, temporary), and answers the scale once the Shell laid out its monitors.
    SetScaleAsync([wanted], invocation) {
        const call = (method, parameters) => new Promise((resolve, reject) => Gio.DBus.session.call(
            'org.gnome.Mutter.DisplayConfig', '/org/gnome/Mutter/DisplayConfig', 'org.gnome.Mutter.DisplayConfig',
            method, parameters, null, Gio.DBusCallFlags.NONE, -1, null, (bus, result) => {
                try {
                    resolve(bus.call_finish(result));
                } catch (e) {
                    reject(e);
                }
            }));
        let scale = 0;
        call('GetCurrentState', null).then(state => {
            const [serial, monitors, logicalMonitors] = state.deep_unpack();
            const [[connector], modes] = monitors[0];
            const mode = modes.find(m => m[6]['is-current']?.unpack());
            scale = mode[5].reduce((a, b) => Math.abs(b - wanted) < Math.abs(a - wanted) ? b : a);
            if (scale === logicalMonitors[0][2])
                return null;
            const changed = new Promise(resolve => {
                const id = Main.layoutManager.connect('monitors-changed', () => {
                    Main.layoutManager.disconnect(id);
                    resolve();
                });
            });
            const config = [[0, 0, scale, 0, true, [[connector, mode[0], {}]]]];
            return call('ApplyMonitorsConfig', new GLib.Variant('(uua(iiduba(ssa{sv}))a{sv})', [serial, 1, config, {}]))
                .then(() => changed);
        }).then(() => invocation.return_value(new GLib.Variant('(d)', [scale])),
            e => invocation.return_dbus_error('org.glintor.ShellTest.Error.Failed', `${e}`));
    }

    // Presses the keys in order, holds them for holdMs (the keyboard repeats meanwhile), releases
    // them in reverse order, and answers once the Shell has handled all of them: it handles input in
    // order, and the keys are followed by a motion of the pointer to where it is, whose handling
    // this extension sees (keys a Wayland window gets, it does not).
    KeysAsync([keyvals, holdMs], invocation) {
        const notify = (keyval, state) => this._keyboard.notify_keyval(GLib.get_monotonic_time(), keyval, state);
        const release = () => {
            for (const keyval of [...keyvals].reverse())
                notify(keyval, Clutter.KeyState.RELEASED);
            const [x, y] = global.get_pointer();
            this._motionWaits.push({x, y, done: () => invocation.return_value(null)});
            this._pointer.notify_absolute_motion(GLib.get_monotonic_time(), x, y);
            return GLib.SOURCE_REMOVE;
        };
        for (const keyval of keyvals)
            notify(keyval, Clutter.KeyState.PRESSED);
        if (holdMs > 0)
            GLib.timeout_add(GLib.PRIORITY_DEFAULT, holdMs, release);
        else
            release();
    }

    ScreenshotAsync([path], invocation) {
        const stream = Gio.File.new_for_path(path).replace(null, false, Gio.FileCreateFlags.NONE, null);
        new Shell.Screenshot().screenshot(false, stream, (shooter, result) => {
            let written = false;
            try {
                shooter.screenshot_finish(result);
                written = true;
            } catch (e) {
                logError(e, 'Glintor test helper: screenshot');
            }
            stream.close(null);
            invocation.return_value(new GLib.Variant('(b)', [written]));
        });
    }

    // A grab of the helper's own, as any other client of the Shell would make it (repeats included),
    // counting its activations until Ungrab.
    Grab(accelerator) {
        this.Ungrab();
        this._action = global.display.grab_accelerator(accelerator, Meta.KeyBindingFlags.NONE);
        if (this._action === Meta.KeyBindingAction.NONE)
            return false;
        Main.wm.allowKeybinding(Meta.external_binding_name_for_action(this._action), Shell.ActionMode.ALL);
        this._activations = 0;
        this._activationId = global.display.connect('accelerator-activated', (display, action) => {
            if (action === this._action)
                this._activations++;
        });
        return true;
    }

    Ungrab() {
        if (!this._action)
            return 0;
        global.display.disconnect(this._activationId);
        global.display.ungrab_accelerator(this._action);
        Main.wm.allowKeybinding(Meta.external_binding_name_for_action(this._action), Shell.ActionMode.NONE);
        this._action = Meta.KeyBindingAction.NONE;
        return this._activations;
    }

    // Loads the extension again from its folder, as at a login: its metadata.json is read anew.
    ReloadExtensionAsync([uuid], invocation) {
        new Promise(resolve => resolve(Main.extensionManager.reloadExtension(Main.extensionManager.lookup(uuid))))
            .then(() => invocation.return_value(null),
                e => invocation.return_dbus_error('org.glintor.ShellTest.Error.Failed', `${e}`));
    }

    // Makes the Shell's allowKeybinding throw, as a step that fails inside an extension's method.
    FailKeybindings(fail) {
        if (fail)
            Main.wm.allowKeybinding = () => {
                throw new Error('allowKeybinding failed on purpose');
            };
        else
            delete Main.wm.allowKeybinding;
    }
}
