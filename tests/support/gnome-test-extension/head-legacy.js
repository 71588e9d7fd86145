// The suite's GNOME Shell helper for GNOME 42 to 44, built from head-legacy.js, helper.js and tail-legacy.js.
const {Clutter, Gio, GLib, Meta, Shell} = imports.gi;
const Main = imports.ui.main;

