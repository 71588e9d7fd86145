
function init() {
    return new TestHelper();
}
