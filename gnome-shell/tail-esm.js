
export default class GlintorExtension extends Extension {
    enable() {
        this._bridge = new GlintorBridge();
        this._bridge.enable();
    }

    disable() {
        this._bridge.disable();
        this._bridge = null;
    }
}
