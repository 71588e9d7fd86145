
function init() {
    return new GlintorBridge();
}
