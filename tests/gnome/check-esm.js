// Loads the GNOME 45+ flavour of the extension in gjs without a Shell (Debian 12 has no GNOME 45):
// its imports of typelibs and of the Shell's modules are pointed at a stub, so the file is parsed,
// linked and evaluated as an ES module, and its default export must be a class with enable() and
// disable(). Prints "ok" or why not. Usage: gjs -m check-esm.js EXTENSION_JS
import GLib from 'gi://GLib';
import System from 'system';

function fail(message) {
    printerr(message);
    System.exit(1);
}

const [path] = System.programArgs;
if (!path)
    fail('usage: gjs -m check-esm.js EXTENSION_JS');
const source = new TextDecoder().decode(GLib.file_get_contents(path)[1]);
const stubbed = source.replace(/from\s+(['"])(gi|resource):\/\/[^'"]*\1/g, "from './stub.js'");
if (stubbed === source)
    fail(`${path} imports nothing from gi:// or resource://`);

const dir = GLib.dir_make_tmp('glintor-esm-XXXXXX');
GLib.file_set_contents(`${dir}/stub.js`, 'export default {};\nexport class Extension {}\n');
GLib.file_set_contents(`${dir}/extension.js`, stubbed);
import(`file://${dir}/extension.js`).then(module => {
    const Default = module.default;
    if (typeof Default !== 'function' || typeof Default.prototype.enable !== 'function' ||
        typeof Default.prototype.disable !== 'function')
        return 'the default export is no class with enable() and disable()';
    return '';
}, error => `${error}\n${error.stack ?? ''}`).then(problem => {
    for (const name of ['stub.js', 'extension.js'])
        GLib.unlink(`${dir}/${name}`);
    GLib.rmdir(dir);
    if (problem)
        fail(problem);
    print('ok');
});
