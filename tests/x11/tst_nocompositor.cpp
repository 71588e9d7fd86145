// The overlay on a real X server with and without a compositing manager. Without one the X server
// ignores alpha, so a frame is drawn opaque in a window shaped to it: nothing else on the screen may
// change, and the shapes keep their colours. With one, the frame blends over what lies below.
//
// Frames are held still by the overlay driver, which reports the state each was drawn from; the
// test works out from that state where every shape lies and what colour it has.

#include "imagecheck.h"
#include "serviceprocess.h"
#include "testmain.h"
#include "xserver.h"

#include "glintorsettings.h"

#include <QColor>
#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QtTest>

#include <cmath>
#include <functional>
#include <memory>

namespace {

const QSize ScreenSize(1024, 768);
const QRgb Background = qRgb(40, 90, 200); // the driver's target window, spread over the whole screen

// Drawn opaque, a shape fainter than this alpha in the blended picture is left out.
constexpr int FaintAlpha = 64;
constexpr int EffectiveMax = 150;
constexpr double Pi = 3.141592653589793;

QString describe(QRgb pixel)
{
    return QStringLiteral("rgb(%1, %2, %3)").arg(qRed(pixel)).arg(qGreen(pixel)).arg(qBlue(pixel));
}

// What the driver reports about a frame it holds on the screen, in screen coordinates.
struct Frame {
    bool shaped = false;
    int radius = 0;
    QPointF ringCentre; // a pixel corner
    struct Particle {
        QPointF position;
        double life;
        QColor colour;
    };
    QVector<Particle> particles;
};

// One shape of a frame as the blended picture draws it.
struct Shape {
    bool outline; // a circle drawn with the 3 px pen; otherwise a filled disc
    bool overDisc; // drawn over a gradient disc of its own
    QPointF centre;
    double radius;
    QColor colour; // with the alpha of the blended picture

    double distance(const QPoint &pixel) const
    {
        const double dx = pixel.x() + 0.5 - centre.x();
        const double dy = pixel.y() + 0.5 - centre.y();
        const double d = std::sqrt(dx * dx + dy * dy);
        return outline ? qMax(0.0, qAbs(d - radius) - 1.5) : qMax(0.0, d - radius);
    }
    QRgb opaque() const { return colour.rgb(); }
    QRgb blendedOver(QRgb below) const
    {
        const double a = colour.alpha() / 255.0;
        const auto mix = [a](int under, int over) { return qRound(under + (over - under) * a); };
        return qRgb(
            mix(qRed(below), colour.red()), mix(qGreen(below), colour.green()), mix(qBlue(below), colour.blue()));
    }
};

QVector<Shape> shapesOf(int effectSetting, int colourMode, const Frame &frame)
{
    QVector<Shape> shapes;
    if (effectSetting == 1) {
        const int spacing = EffectiveMax / 10 + 6;
        for (int i = 0; i < 3; ++i) {
            const int r = frame.radius - i * spacing;
            if (r <= 0)
                continue;
            const double f = qMax(0.0, 1.0 - double(r) / EffectiveMax);
            if (colourMode == 0) {
                shapes << Shape { true, false, frame.ringCentre, double(r), QColor(255, 255, 255, int(f * 220)) };
            } else if (colourMode == 1) {
                shapes << Shape { false, false, frame.ringCentre, double(r), QColor(255, 0, 0, int(f * 255.0)) };
                shapes << Shape { true, true, frame.ringCentre, double(r), QColor(0, 0, 0, int(f * 200)) };
            } else {
                const int hue = int(std::fmod(i * 60.0 + r * 1.2, 360.0));
                shapes << Shape { true, false, frame.ringCentre, double(r),
                    QColor::fromHsv(hue, 220, 255, int(f * 230)) };
            }
        }
        return shapes;
    }
    // A star reaches 6 px from its centre at its points; a dot is 6 px across.
    const double size = effectSetting == 3 ? 6.0 : 3.0;
    for (const Frame::Particle &particle : frame.particles) {
        QColor colour = particle.colour;
        colour.setAlphaF(qBound(0.0, particle.life, 1.0));
        shapes << Shape { false, false, particle.position, size, colour };
    }
    return shapes;
}

// Every pixel that differs from the background must belong to a shape: without a compositor it
// has the colour of a shape that is strong enough to draw and lies within 3 px of it; with one it
// lies within 2 px of a shape (the antialiased edge). Returns what is wrong, or nothing.
QString strayPixels(const QImage &shot, const QVector<Shape> &shapes, bool shaped)
{
    int stray = 0;
    QString first;
    for (int y = 0; y < shot.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(shot.constScanLine(y));
        for (int x = 0; x < shot.width(); ++x) {
            if (sameColour(line[x], Background, 8))
                continue;
            const QPoint pixel(x, y);
            bool explained = false;
            for (const Shape &shape : shapes) {
                if (shaped) {
                    explained = shape.colour.alpha() >= FaintAlpha && shape.distance(pixel) <= 3.0
                        && sameColour(line[x], shape.opaque(), 10);
                } else {
                    explained = shape.colour.alpha() > 0 && shape.distance(pixel) <= 2.0;
                }
                if (explained)
                    break;
            }
            if (!explained && stray++ == 0)
                first = QStringLiteral("(%1, %2) is %3").arg(x).arg(y).arg(describe(line[x]));
        }
    }
    return stray ? QStringLiteral("%1 pixels changed that no shape explains; first %2").arg(stray).arg(first)
                 : QString();
}

// The shapes are there: on each ring the pixels under the circle, and at the centre of each dot
// or star its own pixel (or one of a shape drawn over it), have the shape's colour: solid without
// a compositor, blended over the background with one. Blended, only what lies on the background
// alone is compared: a red ring's outline lies on its gradient disc, and particles close to one
// another mix at their antialiased edges.
QString missingShapes(const QImage &shot, const QVector<Shape> &shapes, bool shaped)
{
    const auto expected
        = [shaped](const Shape &shape) { return shaped ? shape.opaque() : shape.blendedOver(Background); };
    const auto visible = [shaped](const Shape &shape) { return shape.colour.alpha() >= (shaped ? FaintAlpha : 1); };
    const QRect screen(QPoint(0, 0), shot.size());
    int ringShapes = 0;
    for (const Shape &shape : shapes) {
        if (!shape.outline || !visible(shape))
            continue;
        ++ringShapes;
        if (shape.overDisc && !shaped)
            continue;
        for (int degrees = 0; degrees < 360; degrees += 5) {
            const double angle = degrees * Pi / 180.0;
            const QPoint pixel(qFloor(shape.centre.x() + shape.radius * std::cos(angle)),
                qFloor(shape.centre.y() + shape.radius * std::sin(angle)));
            if (!screen.contains(pixel))
                continue;
            const QRgb now = shot.pixel(pixel);
            if (!sameColour(now, expected(shape), shaped ? 10 : 6))
                return QStringLiteral("ring of radius %1 at (%2, %3) is %4, expected %5")
                    .arg(shape.radius)
                    .arg(pixel.x())
                    .arg(pixel.y())
                    .arg(describe(now), describe(expected(shape)));
        }
    }
    // Blended, the red discs pile up on one another: only where their pixels lie is checked.
    if (ringShapes && !shaped)
        return QString();

    // Discs: the red cores and the particles, each checked only where no other shape can reach.
    // Solid, a shape painted later covers it, and whether one covers a pixel near its edge is
    // beyond what the test knows: a star only as the disc around it, positions to 1/1000 px.
    // Blended, shapes close by mix at their antialiased edges.
    for (int i = 0; i < shapes.size(); ++i) {
        const Shape &shape = shapes.at(i);
        const QPoint pixel(qFloor(shape.centre.x()), qFloor(shape.centre.y()));
        if (shape.outline || !visible(shape) || !screen.contains(pixel))
            continue;
        bool alone = true;
        for (int j = 0; j < shapes.size() && alone; ++j) {
            const Shape &other = shapes.at(j);
            if (j == i)
                continue;
            if (shaped)
                alone = j < i || !visible(other) || other.distance(pixel) > 0.5;
            else
                alone = QLineF(other.centre, shape.centre).length() > other.radius + shape.radius + 2;
        }
        if (!alone)
            continue;
        if (!sameColour(shot.pixel(pixel), expected(shape), 10))
            return QStringLiteral("shape at (%1, %2) is %3, expected %4")
                .arg(pixel.x())
                .arg(pixel.y())
                .arg(describe(shot.pixel(pixel)), describe(expected(shape)));
    }
    return QString();
}

int changedPixels(const QImage &shot)
{
    int changed = 0;
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x)
            changed += sameColour(shot.pixel(x, y), Background, 8) ? 0 : 1;
    }
    return changed;
}

} // namespace

class TestNoCompositor : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void frame_data();
    void frame();
    void runningAnimation_data();
    void runningAnimation();
    void clickGoesThroughShapedOverlay();

private:
    void useCompositor(bool wanted);
    void clearScreen();
    Frame drawFrame(int effectSetting, int colourMode, int ticks, const QPoint &point);
    void send(const QByteArray &command);

    std::unique_ptr<XServer> server;
    std::unique_ptr<ProgramRun> driver;
    int frames = 0;
    int finishes = 0;
};

void TestNoCompositor::initTestCase()
{
    QVERIFY(!qEnvironmentVariableIsEmpty("XDG_CONFIG_HOME"));
    {
        QSettings settings(GlintorSettings::Organization, GlintorSettings::Application);
        settings.clear();
        settings.sync();
    }

    server = std::make_unique<XServer>(ScreenSize);
    QVERIFY(server->isRunning());
    QVERIFY(!server->hasCompositor());

    driver = std::make_unique<ProgramRun>(
        builtProgram(QStringLiteral("overlaydriver")), QStringList(), server->environment());
    QVERIFY(!driver->waitForLine(QStringLiteral("ready"), 15000).isEmpty());
    // A plain window over the whole screen: black anywhere would show.
    send("target 0 0 " + QByteArray::number(ScreenSize.width()) + ' ' + QByteArray::number(ScreenSize.height()));
    QVERIFY(!driver->waitForLine(QStringLiteral("target painted"), 10000).isEmpty());
}

void TestNoCompositor::cleanupTestCase()
{
    // Clients go before the server.
    driver.reset();
    if (server)
        server->stopCompositor();
    server.reset();
}

void TestNoCompositor::send(const QByteArray &command)
{
    driver->process().write(command + '\n');
    QVERIFY(driver->process().waitForBytesWritten(5000));
}

void TestNoCompositor::useCompositor(bool wanted)
{
    if (wanted == server->hasCompositor())
        return;
    if (wanted) {
        QVERIFY(server->startCompositor());
    } else {
        server->stopCompositor();
        QTRY_VERIFY_WITH_TIMEOUT(!server->hasCompositor(), 10000);
    }
}

// Ends any animation and waits until the screen shows the background alone.
void TestNoCompositor::clearScreen()
{
    send("finish");
    ++finishes;
    QTRY_VERIFY_WITH_TIMEOUT(driver->linesContaining(QStringLiteral("finish done")).size() >= finishes, 10000);
    const QImage clear = screenshotUntil(*server, [](const QImage &shot) { return changedPixels(shot) == 0; });
    QCOMPARE(changedPixels(clear), 0);
}

Frame TestNoCompositor::drawFrame(int effectSetting, int colourMode, int ticks, const QPoint &point)
{
    send(QStringLiteral("frame %1 %2 %3 %4 %5")
             .arg(effectSetting)
             .arg(colourMode)
             .arg(ticks)
             .arg(point.x())
             .arg(point.y())
             .toLatin1());
    const QString prefix = QStringLiteral("frame %1 ").arg(++frames);
    Frame frame;
    if (driver->waitForLine(prefix + QStringLiteral("drawn"), 10000).isEmpty())
        return frame;
    for (const QString &line : driver->linesContaining(prefix)) {
        const QStringList words = line.mid(prefix.size()).split(QLatin1Char(' '));
        if (words.value(0) == QLatin1String("shaped")) {
            frame.shaped = words.value(1) == QLatin1String("1");
            frame.radius = words.value(3).toInt();
            frame.ringCentre = QPointF(words.value(5).toDouble(), words.value(6).toDouble());
        } else if (words.value(0) == QLatin1String("particle")) {
            frame.particles << Frame::Particle { QPointF(words.value(1).toDouble(), words.value(2).toDouble()),
                words.value(3).toDouble(), QColor(words.value(4)) };
        }
    }
    return frame;
}

void TestNoCompositor::frame_data()
{
    QTest::addColumn<bool>("compositor");
    QTest::addColumn<int>("effectSetting"); // 1 rings, 2 fireworks, 3 stars
    QTest::addColumn<int>("colourMode");
    QTest::addColumn<int>("ticks");
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<QString>("picture");

    const QPoint middle(512, 384);
    // Without a compositor. Rows are run in order: the compositor is started and stopped between them.
    QTest::newRow("white rings, first frame: every ring too faint to draw")
        << false << 1 << 0 << 0 << middle << QString();
    QTest::newRow("white rings, tick 10: the outer ring too faint") << false << 1 << 0 << 10 << middle << QString();
    QTest::newRow("white rings, tick 30, near the top left corner")
        << false << 1 << 0 << 30 << QPoint(60, 45) << QString();
    QTest::newRow("red rings, first frame: a small red core") << false << 1 << 1 << 0 << middle << QString();
    QTest::newRow("red rings, tick 14, odd coordinates")
        << false << 1 << 1 << 14 << QPoint(821, 577) << QStringLiteral("rings-red-no-compositor.png");
    QTest::newRow("red rings, tick 33: one ring left") << false << 1 << 1 << 33 << middle << QString();
    QTest::newRow("red rings, tick 14, top left corner") << false << 1 << 1 << 14 << QPoint(0, 0) << QString();
    QTest::newRow("rainbow rings, tick 14")
        << false << 1 << 2 << 14 << middle << QStringLiteral("rings-no-compositor.png");
    QTest::newRow("rainbow rings, tick 25") << false << 1 << 2 << 25 << QPoint(300, 500) << QString();
    QTest::newRow("fireworks, tick 20") << false << 2 << 0 << 20 << middle << QString();
    QTest::newRow("fireworks, tick 95: the faintest dots left out") << false << 2 << 0 << 95 << middle << QString();
    QTest::newRow("stars, tick 10") << false << 3 << 0 << 10 << QPoint(700, 200) << QString();
    QTest::newRow("stars, tick 45") << false << 3 << 0 << 45 << middle << QString();

    // With xcompmgr: the same pictures, blended.
    QTest::newRow("compositor, white rings, tick 10") << true << 1 << 0 << 10 << middle << QString();
    QTest::newRow("compositor, rainbow rings, tick 14")
        << true << 1 << 2 << 14 << middle << QStringLiteral("rings-compositor.png");
    QTest::newRow("compositor, red rings, tick 14")
        << true << 1 << 1 << 14 << QPoint(821, 577) << QStringLiteral("rings-red-compositor.png");
    QTest::newRow("compositor, fireworks, tick 20") << true << 2 << 0 << 20 << middle << QString();
    QTest::newRow("compositor, stars, tick 45") << true << 3 << 0 << 45 << middle << QString();
    QTest::newRow("compositor, rainbow rings, tick 20, bottom right corner")
        << true << 1 << 2 << 20 << QPoint(1023, 767) << QString();

    // The compositor has gone again: the next start notices.
    QTest::newRow("after the compositor has gone, white rings, tick 20")
        << false << 1 << 0 << 20 << middle << QString();
}

void TestNoCompositor::frame()
{
    QFETCH(bool, compositor);
    QFETCH(int, effectSetting);
    QFETCH(int, colourMode);
    QFETCH(int, ticks);
    QFETCH(QPoint, point);
    QFETCH(QString, picture);

    useCompositor(compositor);
    clearScreen();

    const Frame frame = drawFrame(effectSetting, colourMode, ticks, point);
    QCOMPARE(frame.radius, EffectiveMax - 4 * ticks);
    // The rings lie on the pointer's pixel: around its top-left corner, where the particles start.
    QCOMPARE(frame.ringCentre, QPointF(point));
    const bool shaped = !compositor;
    const QVector<Shape> shapes = shapesOf(effectSetting, colourMode, frame);
    if (effectSetting != 1)
        QVERIFY(!frame.particles.isEmpty());

    // The frame stays still, so once it has reached the screen every look finds the same.
    const auto problems = [&](const QImage &shot) {
        const QString stray = strayPixels(shot, shapes, shaped);
        return stray.isEmpty() ? missingShapes(shot, shapes, shaped) : stray;
    };
    const QImage shot = screenshotUntil(*server, [&](const QImage &look) { return problems(look).isEmpty(); });
    QVERIFY(!shot.isNull());
    const QString problem = problems(shot);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));

    bool anyVisible = false;
    for (const Shape &shape : shapes)
        anyVisible = anyVisible || shape.colour.alpha() >= (shaped ? FaintAlpha : 1);
    if (anyVisible)
        QVERIFY(changedPixels(shot) > 0);
    QCOMPARE(frame.shaped, shaped);
    // The log tells how animations are drawn whenever that changes.
    const QStringList modes = driver->linesContaining(QStringLiteral("ompositing manager"));
    QVERIFY(!modes.isEmpty());
    QCOMPARE(modes.constLast().startsWith(QStringLiteral("No compositing manager: ")), shaped);

    // GLINTOR_PICTURE_DIR=<folder> keeps a picture of the frame, cut around the animation.
    const QString pictureDir = qEnvironmentVariable("GLINTOR_PICTURE_DIR");
    if (!picture.isEmpty() && !pictureDir.isEmpty()) {
        const int half = EffectiveMax + 20;
        const QRect around = QRect(point - QPoint(half, half), QSize(2 * half, 2 * half)).intersected(shot.rect());
        QVERIFY(shot.copy(around).save(QDir(pictureDir).filePath(picture)));
    }
}

void TestNoCompositor::runningAnimation_data()
{
    QTest::addColumn<int>("effectSetting");

    QTest::newRow("white rings") << 1;
    QTest::newRow("fireworks") << 2;
    QTest::newRow("stars") << 3;
}

// While an animation runs on its own clock, whatever moment a screenshot catches shows the
// background and solid shapes only: never black, never a dark blend.
void TestNoCompositor::runningAnimation()
{
    QFETCH(int, effectSetting);

    useCompositor(false);
    clearScreen();
    // Sets the effect and white rings; the held animation below reuses the choice.
    drawFrame(effectSetting, 0, 0, QPoint(512, 384));
    clearScreen();

    const QPoint point(512, 384);
    const int reach = EffectiveMax + 10;
    const auto solid = [effectSetting](QRgb pixel) {
        if (effectSetting == 1)
            return sameColour(pixel, qRgb(255, 255, 255), 8);
        // Particle colours have value 255 and saturation 200 or 220.
        const int high = qMax(qRed(pixel), qMax(qGreen(pixel), qBlue(pixel)));
        const int low = qMin(qRed(pixel), qMin(qGreen(pixel), qBlue(pixel)));
        return high >= 247 && low >= 25 && low <= 65;
    };

    send("hold 512 384");
    int shotsWithShapes = 0;
    for (int i = 0; i < 60 && shotsWithShapes < 8; ++i) {
        const QImage shot = server->screenshot();
        QVERIFY(!shot.isNull());
        int drawn = 0;
        for (int y = 0; y < shot.height(); ++y) {
            for (int x = 0; x < shot.width(); ++x) {
                const QRgb pixel = shot.pixel(x, y);
                if (sameColour(pixel, Background, 8))
                    continue;
                const QPoint d = QPoint(x, y) - point;
                if (qAbs(d.x()) > reach || qAbs(d.y()) > reach || !solid(pixel)) {
                    send("release");
                    QFAIL(qPrintable(
                        QStringLiteral("screenshot %1: (%2, %3) is %4").arg(i).arg(x).arg(y).arg(describe(pixel))));
                }
                ++drawn;
            }
        }
        shotsWithShapes += drawn > 0 ? 1 : 0;
    }
    send("release");
    QCOMPARE(shotsWithShapes, 8);
}

void TestNoCompositor::clickGoesThroughShapedOverlay()
{
    useCompositor(false);
    clearScreen();

    // Red rings at tick 30: the pointer lies in the red core, inside the window's shape.
    const QPoint point(300, 270);
    drawFrame(1, 1, 30, point);
    const QImage shot = screenshotUntil(
        *server, [&](const QImage &look) { return sameColour(look.pixel(point), qRgb(255, 0, 0), 10); });
    QVERIFY2(sameColour(shot.pixel(point), qRgb(255, 0, 0), 10), qPrintable(describe(shot.pixel(point))));

    QVERIFY(server->xdotool({ QStringLiteral("mousemove"), QStringLiteral("300"), QStringLiteral("270"),
        QStringLiteral("click"), QStringLiteral("1") }));
    QCOMPARE(
        driver->waitForLine(QStringLiteral("target pressed at"), 10000), QStringLiteral("target pressed at 300 270"));
}

int main(int argc, char *argv[])
{
    return runIsolatedTest<QCoreApplication, TestNoCompositor>(argc, argv);
}

#include "tst_nocompositor.moc"
