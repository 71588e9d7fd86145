// Glintor's GNOME Shell extension for GNOME 42 to 44. Built from head-legacy.js, bridge.js and tail-legacy.js.
const {Gio, GLib, Meta, Shell} = imports.gi;
const Main = imports.ui.main;

