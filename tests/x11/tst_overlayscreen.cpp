// The overlay on a real X server with a compositing manager: what the screen shows while an
// animation runs, and that clicks go through the overlay to the window below.

#include "imagecheck.h"
#include "serviceprocess.h"
#include "testmain.h"
#include "xserver.h"

#include "glintorsettings.h"

#include <QCoreApplication>
#include <QSettings>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

bool reddish(QRgb pixel)
{
    return qRed(pixel) - qMax(qGreen(pixel), qBlue(pixel)) > 40;
}

int squaredDistance(const QPoint &a, const QPoint &b)
{
    const QPoint d = a - b;
    return d.x() * d.x() + d.y() * d.y();
}

// What a screenshot shows against the one taken before the animation.
struct Difference {
    int changed = 0;
    int changedFar = 0; // farther from the point than anything a frame can draw
    int red = 0;
    QPointF centroid;
};

Difference compare(const QImage &before, const QImage &during, const QPoint &point, int reach)
{
    Difference d;
    double sumX = 0;
    double sumY = 0;
    for (int y = 0; y < during.height(); ++y) {
        for (int x = 0; x < during.width(); ++x) {
            const QRgb now = during.pixel(x, y);
            if (sameColour(now, before.pixel(x, y), 8))
                continue;
            ++d.changed;
            sumX += x;
            sumY += y;
            if (squaredDistance(QPoint(x, y), point) > reach * reach)
                ++d.changedFar;
            if (reddish(now))
                ++d.red;
        }
    }
    if (d.changed)
        d.centroid = QPointF(sumX / d.changed, sumY / d.changed);
    return d;
}

} // namespace

class TestOverlayScreen : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void ringOnScreen_data();
    void ringOnScreen();
    void clickGoesThroughOverlay();

private:
    void send(const QByteArray &command);

    std::unique_ptr<XServer> server;
    std::unique_ptr<ProgramRun> driver;
};

void TestOverlayScreen::initTestCase()
{
    QVERIFY(!qEnvironmentVariableIsEmpty("XDG_CONFIG_HOME"));
    {
        QSettings settings(GlintorSettings::Organization, GlintorSettings::Application);
        settings.clear();
        settings.setValue(GlintorSettings::Key::AnimationEffect, 1); // rings; colour absent: red
        settings.sync();
    }

    server = std::make_unique<XServer>(QSize(1024, 768));
    QVERIFY(server->isRunning());
    QVERIFY(server->startCompositor());

    driver = std::make_unique<ProgramRun>(builtProgram(QStringLiteral("overlaydriver")), QStringList(),
                                          server->environment());
    QVERIFY(!driver->waitForLine(QStringLiteral("ready"), 15000).isEmpty());
    QVERIFY(!driver->waitForLine(QStringLiteral("Settings loaded - "), 5000).isEmpty());
}

void TestOverlayScreen::cleanupTestCase()
{
    // Clients go before the server.
    driver.reset();
    server.reset();
}

void TestOverlayScreen::send(const QByteArray &command)
{
    driver->process().write(command + '\n');
    QVERIFY(driver->process().waitForBytesWritten(5000));
}

void TestOverlayScreen::ringOnScreen_data()
{
    QTest::addColumn<QPoint>("point");

    QTest::newRow("middle of the screen") << QPoint(512, 384);
    QTest::newRow("upper left") << QPoint(200, 190);
    QTest::newRow("lower right, odd coordinates") << QPoint(821, 577);
}

void TestOverlayScreen::ringOnScreen()
{
    QFETCH(QPoint, point);
    const int reach = 150 + 12; // outer ring, its pen and antialiasing

    const QImage before = server->screenshot();
    QVERIFY(!before.isNull());
    const int finishedBefore = driver->linesContaining(QStringLiteral("Animation finished")).size();

    send("hold " + QByteArray::number(point.x()) + ' ' + QByteArray::number(point.y()));
    const QImage during
        = screenshotUntil(*server, [&](const QImage &shot) { return compare(before, shot, point, reach).red > 200; });
    send("release");

    const Difference d = compare(before, during, point, reach);
    QVERIFY2(d.red > 200, qPrintable(QStringLiteral("%1 red pixels").arg(d.red)));
    // Without compositing the overlay's transparent pixels would come out black over the whole screen.
    QVERIFY2(d.changedFar == 0, qPrintable(QStringLiteral("%1 pixels changed far from the point").arg(d.changedFar)));
    // The rings are round around the pointer's pixel, mirror images about its top-left corner: in
    // pixel indices the changes centre on (x - 0.5, y - 0.5).
    QVERIFY2(qAbs(d.centroid.x() - (point.x() - 0.5)) < 0.3 && qAbs(d.centroid.y() - (point.y() - 0.5)) < 0.3,
             qPrintable(QStringLiteral("changes centred on (%1, %2)").arg(d.centroid.x()).arg(d.centroid.y())));
    // The red is the rings', drawn on top of the background: in the middle of the rings the disc
    // is red, at the point and beside it.
    int redNearPoint = 0;
    for (int dy = -20; dy <= 20; ++dy) {
        for (int dx = -20; dx <= 20; ++dx)
            redNearPoint += reddish(during.pixel(point + QPoint(dx, dy))) ? 1 : 0;
    }
    QVERIFY2(redNearPoint > 41 * 41 / 2, qPrintable(QString::number(redNearPoint)));

    // Once the last animation has ended, the overlay is gone from the screen.
    QTRY_VERIFY_WITH_TIMEOUT(driver->linesContaining(QStringLiteral("Animation finished")).size() > finishedBefore,
                             10000);
    const QImage after = screenshotUntil(
        *server, [&](const QImage &shot) { return compare(before, shot, point, reach).changed == 0; });
    QCOMPARE(compare(before, after, point, reach).changed, 0);
}

void TestOverlayScreen::clickGoesThroughOverlay()
{
    send("target 100 120 400 300");
    QVERIFY(!driver->waitForLine(QStringLiteral("target painted"), 10000).isEmpty());
    const QImage before = screenshotUntil(
        *server, [](const QImage &shot) { return sameColour(shot.pixel(300, 270), qRgb(40, 90, 200), 8); });
    QVERIFY(sameColour(before.pixel(300, 270), qRgb(40, 90, 200), 8));

    const QPoint point(300, 270);
    send("hold 300 270");
    // The overlay is above the target: its red shows over the target's blue.
    const QImage during
        = screenshotUntil(*server, [&](const QImage &shot) { return compare(before, shot, point, 162).red > 200; });
    QVERIFY(compare(before, during, point, 162).red > 200);

    QVERIFY(server->xdotool({ QStringLiteral("mousemove"), QStringLiteral("300"), QStringLiteral("270"),
                              QStringLiteral("click"), QStringLiteral("1") }));
    const QString pressed = driver->waitForLine(QStringLiteral("target pressed at"), 10000);
    send("release");
    QCOMPARE(pressed, QStringLiteral("target pressed at 300 270"));
}

int main(int argc, char *argv[])
{
    return runIsolatedTest<QCoreApplication, TestOverlayScreen>(argc, argv);
}

#include "tst_overlayscreen.moc"
