// Keeps the Wayland test rig honest: the headless compositors start, and screenshots, the virtual
// pointer, extra outputs and typed keys do what the product's tests rely on.

#include "waylandserver.h"

#include <QtTest>

Q_DECLARE_METATYPE(WaylandServer::Kind)

#define SKIP_WITHOUT(kind)                                                                                             \
    do {                                                                                                               \
        const QString missing = WaylandServer::missingTools(kind);                                                     \
        if (!missing.isEmpty())                                                                                        \
            QSKIP(qPrintable(missing));                                                                                \
    } while (false)

namespace {

WaylandOutput outputNamed(const QVector<WaylandOutput> &outputs, const QString &name)
{
    for (const WaylandOutput &output : outputs) {
        if (output.name == name)
            return output;
    }
    return WaylandOutput();
}

} // namespace

class TestWaylandRig final : public QObject
{
    Q_OBJECT

private slots:
    void starts_data();
    void starts();
    void screenshotShowsBackground();
    void clickReachesWindow_data();
    void clickReachesWindow();
    void addOutput_data();
    void addOutput();
    void keysGoThroughBindings();
};

void TestWaylandRig::starts_data()
{
    QTest::addColumn<WaylandServer::Kind>("kind");
    QTest::addColumn<bool>("layerShell");
    QTest::newRow("sway") << WaylandServer::Kind::Sway << true;
    QTest::newRow("weston") << WaylandServer::Kind::Weston << false;
}

void TestWaylandRig::starts()
{
    QFETCH(WaylandServer::Kind, kind);
    QFETCH(bool, layerShell);
    SKIP_WITHOUT(kind);
    WaylandServer server(kind);
    QVERIFY(server.isRunning());
    qInfo("started in %lld ms", server.startUpTime());
    QVERIFY(QFileInfo(server.waylandDisplay()).isAbsolute());
    const QStringList globals = server.globals();
    QVERIFY2(globals.contains(QStringLiteral("wl_compositor")), qPrintable(globals.join(QLatin1Char(' '))));
    QCOMPARE(globals.contains(QStringLiteral("zwlr_layer_shell_v1")), layerShell);
    QCOMPARE(globals.contains(QStringLiteral("zwlr_virtual_pointer_manager_v1")), layerShell);
}

void TestWaylandRig::screenshotShowsBackground()
{
    SKIP_WITHOUT(WaylandServer::Kind::Sway);
    WaylandServer server(WaylandServer::Kind::Sway, QSize(1280, 800));
    QVERIFY(server.isRunning());
    const QImage image = server.screenshot();
    QCOMPARE(image.size(), QSize(1280, 800));
    for (const QPoint point : { QPoint(0, 0), QPoint(640, 400), QPoint(1279, 799) })
        QCOMPARE(image.pixel(point), WaylandServer::backgroundColor);
}

void TestWaylandRig::clickReachesWindow_data()
{
    QTest::addColumn<QPoint>("position");
    QTest::addColumn<bool>("secondOutput");
    QTest::newRow("near the top left") << QPoint(300, 200) << false;
    QTest::newRow("near the bottom right") << QPoint(1900, 1060) << false;
    QTest::newRow("with an output beside") << QPoint(300, 200) << true;
}

void TestWaylandRig::clickReachesWindow()
{
    QFETCH(QPoint, position);
    QFETCH(bool, secondOutput);
    SKIP_WITHOUT(WaylandServer::Kind::Sway);
    WaylandServer server;
    QVERIFY(server.isRunning());
    // The pointer's positions then map onto a layout twice as wide.
    if (secondOutput)
        QVERIFY(!server.addOutput(QPoint(1920, 0)).isEmpty());
    VirtualPointer pointer(server);
    QVERIFY(pointer.isReady());
    ClickProbe probe(server);
    QVERIFY(probe.waitUntilShown(QSize(1920, 1080)));
    QVERIFY(pointer.moveTo(position));
    QVERIFY(pointer.click());
    QCOMPARE(probe.waitForPress(), position);
}

void TestWaylandRig::addOutput_data()
{
    QTest::addColumn<int>("scale");
    QTest::addColumn<QRect>("expectedRect");
    QTest::newRow("second output beside the first") << 1 << QRect(1920, 0, 1920, 1080);
    QTest::newRow("second output at scale 2") << 2 << QRect(1920, 0, 960, 540);
}

void TestWaylandRig::addOutput()
{
    QFETCH(int, scale);
    QFETCH(QRect, expectedRect);
    SKIP_WITHOUT(WaylandServer::Kind::Sway);
    WaylandServer server;
    QVERIFY(server.isRunning());
    const QString name = server.addOutput(QPoint(1920, 0), scale);
    QVERIFY(!name.isEmpty());
    const QVector<WaylandOutput> outputs = server.outputs();
    QCOMPARE(outputs.size(), 2);
    QCOMPARE(outputNamed(outputs, QStringLiteral("HEADLESS-1")).rect, QRect(0, 0, 1920, 1080));
    const WaylandOutput added = outputNamed(outputs, name);
    QCOMPARE(added.rect, expectedRect);
    QCOMPARE(added.scale, double(scale));
    // grim shows an output in its physical pixels.
    const QImage image = server.screenshot(name);
    QCOMPARE(image.size(), QSize(1920, 1080));
    QCOMPARE(image.pixel(960, 540), WaylandServer::backgroundColor);
}

void TestWaylandRig::keysGoThroughBindings()
{
    SKIP_WITHOUT(WaylandServer::Kind::Sway);
    WaylandServer server;
    QVERIFY(server.isRunning());
    bool ok = false;
    server.swaymsg({ QStringLiteral("bindsym Ctrl+Alt+m create_output") }, &ok);
    QVERIFY(ok);
    QVERIFY(server.wtype({ QStringLiteral("-M"), QStringLiteral("ctrl"), QStringLiteral("-M"), QStringLiteral("alt"),
        QStringLiteral("m"), QStringLiteral("-m"), QStringLiteral("alt"), QStringLiteral("-m"),
        QStringLiteral("ctrl") }));
    QTRY_COMPARE(server.outputs().size(), 2);
}

QTEST_GUILESS_MAIN(TestWaylandRig)
#include "tst_waylandrig.moc"
