
export default class GlintorTestExtension extends Extension {
    enable() {
        this._helper = new TestHelper();
        this._helper.enable();
    }

    disable() {
        this._helper.disable();
        this._helper = null;
    }
}
