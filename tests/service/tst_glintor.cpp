// The overlay widget on the offscreen platform: its life cycle tick by tick, the effect memory,
// the particle rules, and the pixels of rendered frames.

#include "glintor.h"
#include "glintorsettings.h"
#include "testmain.h"

#include <QApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <QRandomGenerator>
#include <QSettings>
#include <QTimer>
#include <QtTest>

#include <cmath>
#include <utility>

namespace {

// Debug lines of the code under test, kept for the checks and passed on to QtTest's log.
QStringList g_debugLines;
QtMessageHandler g_testLogHandler = nullptr;

void keepDebugLine(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg)
        g_debugLines << message;
    if (g_testLogHandler)
        g_testLogHandler(type, context, message);
}

int linesStartingWith(const QString &prefix)
{
    int count = 0;
    for (const QString &line : std::as_const(g_debugLines))
        count += line.startsWith(prefix) ? 1 : 0;
    return count;
}

// Stands in for the random generator. Answers to bounded(3), the effect choice, come from a list;
// the spawning draws cycle through angle, speed, life and hue for each particle.
struct ScriptedRandom {
    QVector<int> choices;
    int angleSteps = 1; // particle k gets the angle draw (k % angleSteps) * 1000000 / angleSteps
    int speedDraw = 0;
    int lifeDraw = 0;
    int hueDraw = 0;
    int choiceDraws = 0;
    int spawnDraws = 0;

    int draw(int bound)
    {
        if (bound == 3) {
            const int answer = choices.value(choiceDraws, 0);
            ++choiceDraws;
            return answer;
        }
        const int particle = spawnDraws / 4;
        const int role = spawnDraws % 4;
        ++spawnDraws;
        switch (role) {
        case 0:
            return (particle % angleSteps) * (1000000 / angleSteps);
        case 1:
            return qMin(speedDraw, bound - 1);
        case 2:
            return qMin(lifeDraw, bound - 1);
        default:
            return qMin(hueDraw, bound - 1);
        }
    }
};

struct PixelProbe {
    QPoint offset; // from the ring centre
    QColor colour; // expected, straight alpha
    int tolerance; // per premultiplied channel
};

struct RadialProbe {
    double angleDegrees; // 0 points right, -90 up
    double distance; // pixels from the particle's centre
    bool covered;
};

double distance(const QPointF &a, const QPointF &b)
{
    const QPointF d = a - b;
    return std::sqrt(d.x() * d.x() + d.y() * d.y());
}

QString describe(QRgb pixel)
{
    return QStringLiteral("premultiplied a=%1 r=%2 g=%3 b=%4")
        .arg(qAlpha(pixel))
        .arg(qRed(pixel))
        .arg(qGreen(pixel))
        .arg(qBlue(pixel));
}

QImage frameOf(Glintor &overlay)
{
    return overlay.grab().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

int countPainted(const QImage &image)
{
    int painted = 0;
    for (int y = 0; y < image.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            painted += qAlpha(line[x]) != 0 ? 1 : 0;
    }
    return painted;
}

// Records the region of every paint event that the overlay receives.
class PaintRecorder : public QObject {
public:
    QVector<QRegion> regions;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            regions << static_cast<QPaintEvent *>(event)->region();
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

Q_DECLARE_METATYPE(PixelProbe)
Q_DECLARE_METATYPE(RadialProbe)

class TestGlintor : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void windowSetUp();
    void loadSettings_data();
    void loadSettings();
    void startPlacesWindowOnPointer_data();
    void startPlacesWindowOnPointer();

    void lifecycle_data();
    void lifecycle();
    void lifecycleOnItsOwnClock();

    void effectChoice_data();
    void effectChoice();
    void effectMemory_data();
    void effectMemory();

    void spawning_data();
    void spawning();
    void particleStep_data();
    void particleStep();
    void particleLeavingCircleDies_data();
    void particleLeavingCircleDies();
    void retriggerReplacesParticles();
    void disabledAnimation_data();
    void disabledAnimation();

    void ringPixels_data();
    void ringPixels();
    void redRingPixels_data();
    void redRingPixels();
    void particleShape_data();
    void particleShape();
    void particleOpacity_data();
    void particleOpacity();
    void emptyFrame_data();
    void emptyFrame();
    void framesMatchScreenSizedWindow_data();
    void framesMatchScreenSizedWindow();
    void repaintCoversOnlyAnimationSquare();

private:
    void writeSettings(const QVariantMap &values);
    void useSeams(Glintor &overlay);
    static void tick(Glintor &overlay, int count);
    // The pointer's pixel in widget coordinates: the rings are drawn around its top-left corner
    // (the frame is mirror-symmetric about it), and the particles start on that corner.
    static QPoint ringCentre(const Glintor &overlay, const QPoint &pointer) { return pointer - overlay.pos(); }
    static QPointF particleCentre(const Glintor &overlay, const QPoint &pointer)
    {
        return QPointF(ringCentre(overlay, pointer));
    }

    qint64 now = 1700000000000;
    ScriptedRandom random;
};

void TestGlintor::initTestCase()
{
    QVERIFY(!qEnvironmentVariableIsEmpty("XDG_CONFIG_HOME"));
    g_testLogHandler = qInstallMessageHandler(keepDebugLine);
}

void TestGlintor::init()
{
    writeSettings({});
    g_debugLines.clear();
    now = 1700000000000;
    random = ScriptedRandom();
}

void TestGlintor::writeSettings(const QVariantMap &values)
{
    QSettings settings(GlintorSettings::Organization, GlintorSettings::Application);
    settings.clear();
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        settings.setValue(it.key(), it.value());
    settings.sync();
    QCOMPARE(settings.status(), QSettings::NoError);
}

void TestGlintor::useSeams(Glintor &overlay)
{
    overlay.setClock([this] { return now; });
    overlay.setRandomSource([this](int bound) { return random.draw(bound); });
}

// Ticks by hand; the test never spins the event loop meanwhile, so the overlay's own clock
// cannot add ticks of its own.
void TestGlintor::tick(Glintor &overlay, int count)
{
    for (int i = 0; i < count; ++i)
        overlay.updateAnimation();
}

void TestGlintor::windowSetUp()
{
    Glintor overlay;
    const Qt::WindowFlags flags = overlay.windowFlags();
    QVERIFY(flags.testFlag(Qt::Tool));
    QVERIFY(flags.testFlag(Qt::X11BypassWindowManagerHint));
    QVERIFY(flags.testFlag(Qt::FramelessWindowHint));
    QVERIFY(flags.testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(flags.testFlag(Qt::WindowTransparentForInput));
    QVERIFY(overlay.testAttribute(Qt::WA_TranslucentBackground));
    QVERIFY(overlay.testAttribute(Qt::WA_TransparentForMouseEvents));
    QCOMPARE(overlay.focusPolicy(), Qt::NoFocus);
    // Not the screen: the square that 150 px rings, their pen and the stars at the rim can touch.
    QCOMPARE(overlay.size(), QSize(321, 321));
    QVERIFY(!overlay.isVisible());
    QVERIFY(!overlay.animating());
}

void TestGlintor::loadSettings_data()
{
    QTest::addColumn<QVariantMap>("atStart");
    QTest::addColumn<QVariantMap>("atReload");
    QTest::addColumn<int>("colorMode");
    QTest::addColumn<int>("animationEffect");

    const QString colour = GlintorSettings::Key::ColorMode;
    const QString effect = GlintorSettings::Key::AnimationEffect;
    QTest::newRow("no settings file: red, random") << QVariantMap() << QVariantMap() << 1 << 0;
    QTest::newRow("white rings") << QVariantMap() << QVariantMap { { colour, 0 }, { effect, 1 } } << 0 << 1;
    QTest::newRow("rainbow stars") << QVariantMap() << QVariantMap { { colour, 2 }, { effect, 3 } } << 2 << 3;
    QTest::newRow("out of range values are kept")
        << QVariantMap() << QVariantMap { { colour, 5 }, { effect, 7 } } << 5 << 7;
    QTest::newRow("text that is no number reads 0")
        << QVariantMap() << QVariantMap { { colour, "blue" }, { effect, "stars" } } << 0 << 0;
    QTest::newRow("removed keys keep the values loaded before")
        << QVariantMap { { colour, 0 }, { effect, 2 } } << QVariantMap() << 0 << 2;
    QTest::newRow("removed colour keeps its value, effect changes")
        << QVariantMap { { colour, 2 }, { effect, 2 } } << QVariantMap { { effect, 3 } } << 2 << 3;
}

void TestGlintor::loadSettings()
{
    QFETCH(QVariantMap, atStart);
    QFETCH(QVariantMap, atReload);
    QFETCH(int, colorMode);
    QFETCH(int, animationEffect);

    writeSettings(atStart);
    Glintor overlay;
    QCOMPARE(g_debugLines.size(), 1);

    writeSettings(atReload);
    QVERIFY(QMetaObject::invokeMethod(&overlay, "loadSettings", Qt::QueuedConnection));
    QTRY_COMPARE(g_debugLines.size(), 2);

    QCOMPARE(overlay.colorModeSetting(), colorMode);
    QCOMPARE(overlay.animationEffectSetting(), animationEffect);
    QCOMPARE(
        g_debugLines.last(),
        QStringLiteral("Settings loaded - maxRadius: 100 animationSpeed: 2 sizeMultiplier: 1.5 animationEffect: %1")
            .arg(animationEffect));
}

void TestGlintor::startPlacesWindowOnPointer_data()
{
    QTest::addColumn<QPoint>("pointer");

    QTest::newRow("middle of the screen") << QPoint(300, 200);
    QTest::newRow("top left corner") << QPoint(0, 0);
    QTest::newRow("bottom right corner of a 4K screen") << QPoint(3839, 2159);
    QTest::newRow("monitor left of and above the primary one") << QPoint(-1500, -40);
    QTest::newRow("far right of a third monitor") << QPoint(9000, 1200);
}

void TestGlintor::startPlacesWindowOnPointer()
{
    QFETCH(QPoint, pointer);
    writeSettings({ { GlintorSettings::Key::AnimationEffect, 1 } });
    Glintor overlay;
    useSeams(overlay);

    overlay.startAnimation(pointer);

    QVERIFY(overlay.isVisible());
    QVERIFY(overlay.animating());
    // The window's middle pixel lies on the pointer's pixel, wherever that is.
    QCOMPARE(overlay.geometry(), QRect(pointer - QPoint(160, 160), QSize(321, 321)));
    QCOMPARE(overlay.radius(), 150);
    QCOMPARE(g_debugLines.last(),
        QStringLiteral("Animation started at position: QPoint(%1,%2) effect: 0 effectiveMax: 150")
            .arg(pointer.x())
            .arg(pointer.y()));
}

void TestGlintor::lifecycle_data()
{
    QTest::addColumn<int>("effectSetting");
    QTest::addColumn<int>("speedDraw");
    QTest::addColumn<int>("lifeDraw");
    QTest::addColumn<int>("ticks");

    QTest::newRow("ring: 38 ticks") << 1 << 0 << 0 << 38;
    QTest::newRow("slowest fireworks: 98 ticks") << 2 << 0 << 699999 << 98;
    QTest::newRow("fastest fireworks: 98 ticks") << 2 << 299999 << 699999 << 98;
    QTest::newRow("stars: 54 ticks") << 3 << 0 << 999999 << 54;
    QTest::newRow("short-lived stars: 54 ticks") << 3 << 149999 << 0 << 54;
}

void TestGlintor::lifecycle()
{
    QFETCH(int, effectSetting);
    QFETCH(int, speedDraw);
    QFETCH(int, lifeDraw);
    QFETCH(int, ticks);

    writeSettings({ { GlintorSettings::Key::AnimationEffect, effectSetting } });
    Glintor overlay;
    useSeams(overlay);
    random.angleSteps = 7;
    random.speedDraw = speedDraw;
    random.lifeDraw = lifeDraw;
    const QTimer *clock = overlay.findChild<QTimer *>();
    QVERIFY(clock);

    overlay.startAnimation(QPoint(400, 300));
    QCOMPARE(overlay.radius(), 150);
    QVERIFY(clock->isActive());
    QCOMPARE(clock->interval(), 16);

    for (int k = 1; k < ticks; ++k) {
        overlay.updateAnimation();
        QCOMPARE(overlay.radius(), 150 - 4 * k);
        QVERIFY2(overlay.isVisible(), qPrintable(QStringLiteral("hidden early, after tick %1").arg(k)));
        QVERIFY(overlay.animating());
    }
    QCOMPARE(linesStartingWith("Animation finished"), 0);

    overlay.updateAnimation();
    QVERIFY(!overlay.isVisible());
    QVERIFY(!overlay.animating());
    QVERIFY(!clock->isActive());
    QCOMPARE(overlay.radius(), 0);
    QVERIFY(overlay.liveParticles().empty());
    QCOMPARE(linesStartingWith("Animation finished"), 1);
    QCOMPARE(g_debugLines.last(), QStringLiteral("Animation finished"));
}

void TestGlintor::lifecycleOnItsOwnClock()
{
    writeSettings({ { GlintorSettings::Key::AnimationEffect, 1 } });
    Glintor overlay;
    overlay.startAnimation(QPoint(100, 100));
    QVERIFY(overlay.isVisible());

    QTRY_VERIFY_WITH_TIMEOUT(!overlay.isVisible(), 10000);
    QVERIFY(!overlay.animating());
    QCOMPARE(linesStartingWith("Animation finished"), 1);
    QCOMPARE(overlay.radius(), 0);
    QVERIFY(!overlay.findChild<QTimer *>()->isActive());
}

void TestGlintor::effectChoice_data()
{
    QTest::addColumn<int>("effectSetting");
    QTest::addColumn<int>("randomAnswer");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("randomDraws");

    QTest::newRow("ring setting") << 1 << 2 << 0 << 0;
    QTest::newRow("fireworks setting") << 2 << 0 << 1 << 0;
    QTest::newRow("stars setting") << 3 << 0 << 2 << 0;
    QTest::newRow("random draws ring") << 0 << 0 << 0 << 1;
    QTest::newRow("random draws fireworks") << 0 << 1 << 1 << 1;
    QTest::newRow("random draws stars") << 0 << 2 << 2 << 1;
    QTest::newRow("unknown setting 7 acts as random") << 7 << 1 << 1 << 1;
    QTest::newRow("negative setting acts as random") << -1 << 2 << 2 << 1;
}

void TestGlintor::effectChoice()
{
    QFETCH(int, effectSetting);
    QFETCH(int, randomAnswer);
    QFETCH(int, kind);
    QFETCH(int, randomDraws);

    writeSettings({ { GlintorSettings::Key::AnimationEffect, effectSetting } });
    Glintor overlay;
    useSeams(overlay);
    random.choices = { randomAnswer };

    overlay.startAnimation(QPoint(10, 10));
    QCOMPARE(overlay.effectKind(), kind);
    QCOMPARE(random.choiceDraws, randomDraws);
    QVERIFY(g_debugLines.last().contains(QStringLiteral("effect: %1 ").arg(kind)));
}

void TestGlintor::effectMemory_data()
{
    QTest::addColumn<int>("settingBefore");
    QTest::addColumn<int>("settingAfterFirst"); // written and reloaded after the first trigger
    QTest::addColumn<QVector<int>>("randomAnswers");
    QTest::addColumn<QVector<int>>("triggerTimes"); // ms after the first trigger
    QTest::addColumn<QVector<int>>("kinds");

    QTest::newRow("5 s later reuses") << 0 << 0 << QVector<int> { 1, 2 } << QVector<int> { 0, 5000 }
                                      << QVector<int> { 1, 1 };
    QTest::newRow("exactly 10000 ms later reuses")
        << 0 << 0 << QVector<int> { 1, 2 } << QVector<int> { 0, 10000 } << QVector<int> { 1, 1 };
    QTest::newRow("10001 ms later chooses afresh")
        << 0 << 0 << QVector<int> { 1, 2 } << QVector<int> { 0, 10001 } << QVector<int> { 1, 2 };
    QTest::newRow("a reuse does not move the memory")
        << 0 << 0 << QVector<int> { 2, 0 } << QVector<int> { 0, 6000, 10001 } << QVector<int> { 2, 2, 0 };
    QTest::newRow("fresh choice starts a new memory")
        << 0 << 0 << QVector<int> { 0, 1, 2 } << QVector<int> { 0, 10001, 20001, 20002 } << QVector<int> { 0, 1, 1, 2 };
    QTest::newRow("fireworks then stars reloaded, within 10000 ms")
        << 2 << 3 << QVector<int>() << QVector<int> { 0, 10000 } << QVector<int> { 1, 1 };
    QTest::newRow("fireworks then stars reloaded, after 10000 ms")
        << 2 << 3 << QVector<int>() << QVector<int> { 0, 10000, 10001 } << QVector<int> { 1, 1, 2 };
}

void TestGlintor::effectMemory()
{
    QFETCH(int, settingBefore);
    QFETCH(int, settingAfterFirst);
    QFETCH(QVector<int>, randomAnswers);
    QFETCH(QVector<int>, triggerTimes);
    QFETCH(QVector<int>, kinds);

    writeSettings({ { GlintorSettings::Key::AnimationEffect, settingBefore } });
    Glintor overlay;
    useSeams(overlay);
    random.choices = randomAnswers;
    const qint64 start = now;

    for (int i = 0; i < triggerTimes.size(); ++i) {
        now = start + triggerTimes.at(i);
        overlay.startAnimation(QPoint(50, 50));
        QVERIFY2(overlay.effectKind() == kinds.at(i),
                 qPrintable(QStringLiteral("trigger %1 at +%2 ms showed kind %3, expected %4")
                                .arg(i)
                                .arg(triggerTimes.at(i))
                                .arg(overlay.effectKind())
                                .arg(kinds.at(i))));
        if (i == 0 && settingAfterFirst != settingBefore) {
            writeSettings({ { GlintorSettings::Key::AnimationEffect, settingAfterFirst } });
            overlay.loadSettings();
            QCOMPARE(overlay.animationEffectSetting(), settingAfterFirst);
        }
    }
}

void TestGlintor::spawning_data()
{
    QTest::addColumn<int>("effectSetting");
    QTest::addColumn<int>("speedDraw");
    QTest::addColumn<int>("lifeDraw");
    QTest::addColumn<int>("hueDraw");
    QTest::addColumn<int>("count");
    QTest::addColumn<double>("speed");
    QTest::addColumn<double>("life");
    QTest::addColumn<int>("saturation");

    QTest::newRow("ring spawns nothing") << 1 << 0 << 0 << 0 << 0 << 0.0 << 0.0 << 0;
    QTest::newRow("slowest fireworks") << 2 << 0 << 0 << 0 << 80 << 150.0 << 0.8 << 220;
    QTest::newRow("fastest fireworks") << 2 << 299999 << 699999 << 359 << 80 << 150.4499985 << 1.499999 << 220;
    QTest::newRow("slowest stars start at 225 px/s") << 3 << 0 << 0 << 120 << 60 << 225.0 << 0.8 << 200;
    QTest::newRow("fastest stars start at 225 px/s") << 3 << 149999 << 999999 << 359 << 60 << 225.0 << 1.799999 << 200;
    QTest::newRow("middle stars start at 225 px/s") << 3 << 75000 << 500000 << 60 << 60 << 225.0 << 1.3 << 200;
}

void TestGlintor::spawning()
{
    QFETCH(int, effectSetting);
    QFETCH(int, speedDraw);
    QFETCH(int, lifeDraw);
    QFETCH(int, hueDraw);
    QFETCH(int, count);
    QFETCH(double, speed);
    QFETCH(double, life);
    QFETCH(int, saturation);

    writeSettings({ { GlintorSettings::Key::AnimationEffect, effectSetting } });
    Glintor overlay;
    useSeams(overlay);
    random.angleSteps = 4; // right, down, left, up
    random.speedDraw = speedDraw;
    random.lifeDraw = lifeDraw;
    random.hueDraw = hueDraw;

    const QPoint pointer(640, 480);
    overlay.startAnimation(pointer);

    const std::vector<Particle> &particles = overlay.liveParticles();
    QCOMPARE(int(particles.size()), count);
    const QPointF directions[] = { { 1, 0 }, { 0, 1 }, { -1, 0 }, { 0, -1 } };
    for (int k = 0; k < count; ++k) {
        const Particle &particle = particles.at(size_t(k));
        QCOMPARE(particle.position, particleCentre(overlay, pointer));
        const QPointF expected = directions[k % 4] * speed;
        QVERIFY2(distance(particle.velocity, expected) < 1e-6,
                 qPrintable(QStringLiteral("particle %1 velocity (%2, %3)")
                                .arg(k)
                                .arg(particle.velocity.x(), 0, 'g', 12)
                                .arg(particle.velocity.y(), 0, 'g', 12)));
        QVERIFY(qAbs(particle.life - life) < 1e-9);
        QCOMPARE(particle.color.hsvHue(), hueDraw);
        QCOMPARE(particle.color.hsvSaturation(), saturation);
        QCOMPARE(particle.color.value(), 255);
        QCOMPARE(particle.color.alpha(), 255);
    }
}

void TestGlintor::particleStep_data()
{
    QTest::addColumn<int>("effectSetting");
    QTest::addColumn<int>("ticks");

    QTest::newRow("fireworks, first tick") << 2 << 1;
    QTest::newRow("fireworks, 40 ticks") << 2 << 40;
    QTest::newRow("stars, first tick") << 3 << 1;
    QTest::newRow("stars, 30 ticks") << 3 << 30;
}

void TestGlintor::particleStep()
{
    QFETCH(int, effectSetting);
    QFETCH(int, ticks);

    writeSettings({ { GlintorSettings::Key::AnimationEffect, effectSetting } });
    Glintor overlay;
    useSeams(overlay);
    random.angleSteps = 9;
    random.speedDraw = 123456;
    random.lifeDraw = 654321;
    overlay.startAnimation(QPoint(400, 300));
    tick(overlay, ticks - 1);

    const std::vector<Particle> before = overlay.liveParticles();
    QVERIFY(!before.empty());
    overlay.updateAnimation();
    const std::vector<Particle> &after = overlay.liveParticles();
    QCOMPARE(after.size(), before.size());
    for (size_t k = 0; k < after.size(); ++k) {
        // The position moves with the velocity from before this tick's damping.
        const QPointF position = before[k].position + before[k].velocity * 0.016;
        QVERIFY(distance(after[k].position, position) < 1e-9);
        QVERIFY(distance(after[k].velocity, before[k].velocity * 0.99) < 1e-9);
        QVERIFY(qAbs(after[k].life - (before[k].life - 0.0064)) < 1e-12);
    }
}

void TestGlintor::particleLeavingCircleDies_data()
{
    QTest::addColumn<int>("effectSetting");
    QTest::addColumn<int>("lifeDraw");
    QTest::addColumn<double>("lifeLeftAtLeast");

    QTest::newRow("fireworks") << 2 << 699999 << 0.8;
    QTest::newRow("stars with life 1.4 left") << 3 << 999999 << 1.4;
}

void TestGlintor::particleLeavingCircleDies()
{
    QFETCH(int, effectSetting);
    QFETCH(int, lifeDraw);
    QFETCH(double, lifeLeftAtLeast);

    writeSettings({ { GlintorSettings::Key::AnimationEffect, effectSetting } });
    Glintor overlay;
    useSeams(overlay);
    random.angleSteps = 13;
    random.lifeDraw = lifeDraw;
    const QPoint pointer(400, 300);
    overlay.startAnimation(pointer);
    const QPointF centre = particleCentre(overlay, pointer);

    // All particles share one speed, so they reach the rim in the same tick.
    int ticks = 0;
    for (;;) {
        const std::vector<Particle> &particles = overlay.liveParticles();
        QVERIFY(!particles.empty());
        const Particle &first = particles.front();
        const QPointF next = first.position + first.velocity * 0.016;
        if (distance(next, centre) > 150.0) {
            QVERIFY(distance(first.position, centre) <= 150.0);
            QVERIFY2(first.life >= lifeLeftAtLeast, qPrintable(QString::number(first.life)));
            break;
        }
        overlay.updateAnimation();
        ++ticks;
        QVERIFY(ticks < 200);
    }
    overlay.updateAnimation();
    QVERIFY(overlay.liveParticles().empty());
    QVERIFY(!overlay.animating());
}

void TestGlintor::retriggerReplacesParticles()
{
    writeSettings({ { GlintorSettings::Key::AnimationEffect, 2 } });
    Glintor overlay;
    useSeams(overlay);
    random.angleSteps = 80;
    random.hueDraw = 100;
    overlay.startAnimation(QPoint(200, 150));
    tick(overlay, 30);
    QCOMPARE(overlay.radius(), 30);

    random.hueDraw = 200;
    const QPoint second(500, 400);
    overlay.startAnimation(second);

    QCOMPARE(overlay.pos(), second - QPoint(160, 160));
    QCOMPARE(overlay.radius(), 150);
    QCOMPARE(overlay.effectKind(), 1);
    const std::vector<Particle> &particles = overlay.liveParticles();
    QCOMPARE(int(particles.size()), 80);
    for (const Particle &particle : particles) {
        QCOMPARE(particle.position, particleCentre(overlay, second));
        QCOMPARE(particle.color.hsvHue(), 200);
    }
    // The restarted countdown runs its full length again.
    tick(overlay, 97);
    QVERIFY(overlay.animating());
    tick(overlay, 1);
    QVERIFY(!overlay.animating());
}

void TestGlintor::disabledAnimation_data()
{
    QTest::addColumn<int>("ticksBefore"); // -1: no animation running when disabled

    QTest::newRow("idle overlay stays hidden") << -1;
    QTest::newRow("running ring goes on to its end") << 5;
}

void TestGlintor::disabledAnimation()
{
    QFETCH(int, ticksBefore);

    writeSettings({ { GlintorSettings::Key::AnimationEffect, 1 } });
    Glintor overlay;
    useSeams(overlay);
    const QPoint first(300, 300);
    if (ticksBefore >= 0) {
        overlay.startAnimation(first);
        tick(overlay, ticksBefore);
    }
    const QPoint position = overlay.pos();
    const bool visible = overlay.isVisible();
    const int radius = overlay.radius();
    const int started = linesStartingWith("Animation started");

    writeSettings({ { GlintorSettings::Key::AnimationEffect, 1 }, { GlintorSettings::Key::EnableAnimation, false } });
    overlay.startAnimation(QPoint(700, 100));

    QCOMPARE(overlay.pos(), position);
    QCOMPARE(overlay.isVisible(), visible);
    QCOMPARE(overlay.radius(), radius);
    QCOMPARE(linesStartingWith("Animation started"), started);
    QCOMPARE(random.choiceDraws + random.spawnDraws, 0);
    if (ticksBefore >= 0) {
        tick(overlay, 37 - ticksBefore);
        QVERIFY(overlay.isVisible());
        tick(overlay, 1);
        QVERIFY(!overlay.isVisible());
        QCOMPARE(linesStartingWith("Animation finished"), 1);
    }
}

// Ring probes at the four compass points of a circle: at offset r the 3 px pen covers the pixel
// completely, whichever side of the centre it lies on.
static QVector<PixelProbe> ringProbes(int radius, const QColor &colour, int tolerance = 2)
{
    return { { QPoint(radius, 0), colour, tolerance },
             { QPoint(-radius, 0), colour, tolerance },
             { QPoint(0, radius), colour, tolerance },
             { QPoint(0, -radius), colour, tolerance } };
}

static QColor white(int alpha)
{
    return QColor(255, 255, 255, alpha);
}

static QColor rainbow(int hue, int alpha)
{
    return QColor::fromHsv(hue, 220, 255, alpha);
}

static const QColor clear(0, 0, 0, 0);

void TestGlintor::ringPixels_data()
{
    QTest::addColumn<int>("colorMode");
    QTest::addColumn<int>("ticks");
    QTest::addColumn<QVector<PixelProbe>>("probes");

    // Between the rings and inside the innermost one nothing is drawn in these two modes.
    const QVector<PixelProbe> gapsFirstFrame = { { QPoint(139, 0), clear, 0 },
                                                 { QPoint(118, 0), clear, 0 },
                                                 { QPoint(60, 0), clear, 0 },
                                                 { QPoint(0, 0), clear, 0 } };
    QTest::newRow("white, first frame: outer ring invisible")
        << 0 << 0
        << ringProbes(150, clear, 0) + ringProbes(129, white(30)) + ringProbes(108, white(61)) + gapsFirstFrame;
    QTest::newRow("white, tick 27: ring 2 at radius 0 skipped")
        << 0 << 27
        << ringProbes(42, white(158)) + ringProbes(21, white(189))
               + QVector<PixelProbe> { { QPoint(0, 0), clear, 0 },
                                       { QPoint(1, 1), clear, 0 },
                                       { QPoint(31, 0), clear, 0 } };
    QTest::newRow("white, tick 37: last drawn frame")
        << 0 << 37 << ringProbes(2, white(217), 3) + QVector<PixelProbe> { { QPoint(8, 0), clear, 0 } };
    QTest::newRow("rainbow, tick 25") << 2 << 25
                                      << ringProbes(50, rainbow(60, 153)) + ringProbes(29, rainbow(94, 185))
                                             + ringProbes(8, rainbow(129, 217))
                                             + QVector<PixelProbe> { { QPoint(18, 0), clear, 0 } };
    QTest::newRow("rainbow, tick 10") << 2 << 10
                                      << ringProbes(110, rainbow(132, 61)) + ringProbes(89, rainbow(166, 93))
                                             + ringProbes(68, rainbow(201, 125));
    QTest::newRow("colour 3 drawn as rainbow")
        << 3 << 10
        << ringProbes(110, rainbow(132, 61)) + ringProbes(89, rainbow(166, 93)) + ringProbes(68, rainbow(201, 125));
    QTest::newRow("colour 5 drawn as rainbow")
        << 5 << 25
        << ringProbes(50, rainbow(60, 153)) + ringProbes(29, rainbow(94, 185)) + ringProbes(8, rainbow(129, 217));
    QTest::newRow("colour -1 drawn as rainbow")
        << -1 << 0 << ringProbes(150, clear, 0) + ringProbes(129, rainbow(214, 32)) + ringProbes(108, rainbow(249, 64));
}

void TestGlintor::ringPixels()
{
    QFETCH(int, colorMode);
    QFETCH(int, ticks);
    QFETCH(QVector<PixelProbe>, probes);

    writeSettings({ { GlintorSettings::Key::AnimationEffect, 1 }, { GlintorSettings::Key::ColorMode, colorMode } });
    Glintor overlay;
    const QPoint pointer(400, 300);
    overlay.startAnimation(pointer);
    tick(overlay, ticks);
    QCOMPARE(overlay.radius(), 150 - 4 * ticks);

    const QImage frame = frameOf(overlay);
    const QPoint centre = ringCentre(overlay, pointer);
    for (const PixelProbe &probe : std::as_const(probes)) {
        const QRgb pixel = frame.pixel(centre + probe.offset);
        const QRgb expected = qPremultiply(probe.colour.rgba());
        const int worst = qMax(qMax(qAbs(qAlpha(pixel) - qAlpha(expected)), qAbs(qRed(pixel) - qRed(expected))),
                               qMax(qAbs(qGreen(pixel) - qGreen(expected)), qAbs(qBlue(pixel) - qBlue(expected))));
        QVERIFY2(worst <= probe.tolerance, qPrintable(QStringLiteral("at offset (%1, %2): %3, expected %4")
                                                          .arg(probe.offset.x())
                                                          .arg(probe.offset.y())
                                                          .arg(describe(pixel), describe(expected))));
    }

    // The rings are centred on the pointer's pixel: the frame is its own mirror image about that
    // pixel's top-left corner, pixel k to the right matching pixel k + 1 to the left.
    for (int dy = 0; dy <= 155; ++dy) {
        for (int dx = 0; dx <= 155; ++dx) {
            const QRgb pixel = frame.pixel(centre + QPoint(dx, dy));
            const QRgb mirrored[]
                = { frame.pixel(centre + QPoint(-1 - dx, dy)), frame.pixel(centre + QPoint(dx, -1 - dy)) };
            for (const QRgb other : mirrored) {
                if (qAbs(qAlpha(pixel) - qAlpha(other)) > 2)
                    QFAIL(qPrintable(QStringLiteral("not symmetric at offset (%1, %2): %3 against %4")
                                         .arg(dx)
                                         .arg(dy)
                                         .arg(describe(pixel), describe(other))));
            }
        }
    }
}

void TestGlintor::redRingPixels_data()
{
    QTest::addColumn<int>("ticks");
    QTest::addColumn<int>("radius");
    QTest::addColumn<int>("centreAlpha"); // int(f * 255), the gradient's colour at its centre
    QTest::addColumn<int>("middleAlpha"); // int(f * 60), at 0.7 of the radius
    QTest::addColumn<int>("outlineAlpha"); // int(f * 200), black

    // Only ring 0 is left from tick 33 on, so nothing overlaps.
    QTest::newRow("tick 33: radius 18") << 33 << 18 << 224 << 52 << 176;
    QTest::newRow("tick 34: radius 14") << 34 << 14 << 231 << 54 << 181;
    QTest::newRow("tick 36: radius 6") << 36 << 6 << 244 << 57 << 192;
}

void TestGlintor::redRingPixels()
{
    QFETCH(int, ticks);
    QFETCH(int, radius);
    QFETCH(int, centreAlpha);
    QFETCH(int, middleAlpha);
    QFETCH(int, outlineAlpha);

    writeSettings({ { GlintorSettings::Key::AnimationEffect, 1 } }); // colour absent: red
    Glintor overlay;
    const QPoint pointer(400, 300);
    overlay.startAnimation(pointer);
    tick(overlay, ticks);
    QCOMPARE(overlay.radius(), radius);

    const QImage frame = frameOf(overlay);
    const QPoint centre = ringCentre(overlay, pointer);

    // Just outside the disc the black outline alone covers the pixel.
    for (const QPoint &offset :
         { QPoint(radius, 0), QPoint(-radius - 1, 0), QPoint(0, radius), QPoint(0, -radius - 1) }) {
        const QRgb pixel = frame.pixel(centre + offset);
        QVERIFY2(qAbs(qAlpha(pixel) - outlineAlpha) <= 2 && qRed(pixel) == 0 && qGreen(pixel) == 0 && qBlue(pixel) == 0,
                 qPrintable(describe(pixel)));
    }

    // Inside, the disc's alpha falls off along the gradient: a at the centre, int(f * 60) at 0.7 of
    // the radius, nothing at the rim. Sampled at pixel centres on the line to the right, inside the pen.
    for (int k = 0; k < int(radius - 2.5); ++k) {
        const double t = std::sqrt((k + 0.5) * (k + 0.5) + 0.25) / radius;
        const double alpha
            = t <= 0.7 ? centreAlpha + (middleAlpha - centreAlpha) * t / 0.7 : middleAlpha * (1.0 - t) / 0.3;
        const QRgb pixel = frame.pixel(centre + QPoint(k, 0));
        QVERIFY2(qAbs(qAlpha(pixel) - alpha) <= 3 && qGreen(pixel) == 0 && qBlue(pixel) == 0
                     && qAbs(qRed(pixel) - qAlpha(pixel)) <= 1,
                 qPrintable(QStringLiteral("%1 px right of the centre: %2, expected red with alpha %3")
                                .arg(k)
                                .arg(describe(pixel))
                                .arg(alpha)));
    }
    // Beyond the outline nothing.
    QCOMPARE(qAlpha(frame.pixel(centre + QPoint(radius + 3, 0))), 0);
}

void TestGlintor::particleShape_data()
{
    QTest::addColumn<int>("effectSetting");
    QTest::addColumn<QVector<RadialProbe>>("probes");

    QVector<RadialProbe> dot;
    for (int a = 0; a < 360; a += 30)
        dot << RadialProbe { double(a), 2.6, true } << RadialProbe { double(a), 3.4, false };
    QTest::newRow("fireworks dot, 6 px across") << 2 << dot;

    QVector<RadialProbe> star;
    for (int k = 0; k < 5; ++k) {
        const double point = k * 72.0 - 90.0;
        const double notch = (k + 0.5) * 72.0 - 90.0;
        star << RadialProbe { point, 5.5, true } << RadialProbe { point, 6.5, false }
             << RadialProbe { notch, 2.5, true } << RadialProbe { notch, 3.5, false };
    }
    QTest::newRow("star, points at 6 px, notches at 3 px, one point up") << 3 << star;
}

void TestGlintor::particleShape()
{
    QFETCH(int, effectSetting);
    QFETCH(QVector<RadialProbe>, probes);

    writeSettings({ { GlintorSettings::Key::AnimationEffect, effectSetting } });
    Glintor overlay;
    useSeams(overlay);
    random.angleSteps = 6; // far apart: no shape overlaps another
    random.lifeDraw = 600000; // opaque for the ticks below
    overlay.startAnimation(QPoint(400, 300));
    tick(overlay, 25);

    const Particle particle = overlay.liveParticles().front();
    QVERIFY(particle.life >= 1.0);

    // Render the particle's surroundings eight times enlarged: the painting is vector work, so the
    // outline lands with sub-pixel precision.
    constexpr int Scale = 8;
    const QRect source(qFloor(particle.position.x()) - 10, qFloor(particle.position.y()) - 10, 20, 20);
    QImage image(source.size() * Scale, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.scale(Scale, Scale);
        overlay.render(&painter, QPoint(), QRegion(source));
    }

    for (const RadialProbe &probe : std::as_const(probes)) {
        const double angle = probe.angleDegrees * 3.141592653589793 / 180.0;
        const QPointF at = particle.position + QPointF(std::cos(angle), std::sin(angle)) * probe.distance;
        const QPoint pixel(qFloor((at.x() - source.x()) * Scale), qFloor((at.y() - source.y()) * Scale));
        const int alpha = qAlpha(image.pixel(pixel));
        QVERIFY2(
            probe.covered ? alpha == 255 : alpha == 0,
            qPrintable(
                QStringLiteral("%1 degrees, %2 px: alpha %3").arg(probe.angleDegrees).arg(probe.distance).arg(alpha)));
    }
}

void TestGlintor::particleOpacity_data()
{
    QTest::addColumn<int>("effectSetting");
    QTest::addColumn<int>("lifeDraw");
    QTest::addColumn<int>("ticks");
    QTest::addColumn<double>("life");
    QTest::addColumn<int>("alpha");

    QTest::newRow("stars with life 1.4 opaque") << 3 << 728000 << 20 << 1.4 << 255;
    QTest::newRow("fireworks with life 1.4 opaque") << 2 << 664000 << 10 << 1.4 << 255;
    QTest::newRow("fireworks with life 1.0 opaque") << 2 << 648000 << 70 << 1.0 << 255;
    QTest::newRow("fireworks with life 0.3 at opacity 0.3") << 2 << 5600 << 79 << 0.3 << 77;
    QTest::newRow("stars with life 0.5 at opacity 0.5") << 3 << 20000 << 50 << 0.5 << 128;
}

void TestGlintor::particleOpacity()
{
    QFETCH(int, effectSetting);
    QFETCH(int, lifeDraw);
    QFETCH(int, ticks);
    QFETCH(double, life);
    QFETCH(int, alpha);

    writeSettings({ { GlintorSettings::Key::AnimationEffect, effectSetting } });
    Glintor overlay;
    useSeams(overlay);
    // A direction for every particle: translucent shapes must not pile up on one another.
    random.angleSteps = effectSetting == 2 ? 80 : 60;
    random.lifeDraw = lifeDraw;
    random.hueDraw = 45;
    overlay.startAnimation(QPoint(400, 300));
    tick(overlay, ticks);
    QVERIFY(overlay.animating());

    const std::vector<Particle> &particles = overlay.liveParticles();
    QCOMPARE(int(particles.size()), effectSetting == 2 ? 80 : 60);
    QVERIFY2(qAbs(particles.front().life - life) < 1e-9, qPrintable(QString::number(particles.front().life)));

    const QImage frame = frameOf(overlay);
    for (int k = 0; k < 8; ++k) {
        const Particle &particle = particles.at(size_t(k));
        const QRgb pixel = frame.pixel(qFloor(particle.position.x()), qFloor(particle.position.y()));
        QColor expectedColour = particle.color;
        expectedColour.setAlpha(alpha);
        const QRgb expected = qPremultiply(expectedColour.rgba());
        QVERIFY2(
            qAbs(qAlpha(pixel) - qAlpha(expected)) <= 1 && qAbs(qRed(pixel) - qRed(expected)) <= 1
                && qAbs(qGreen(pixel) - qGreen(expected)) <= 1 && qAbs(qBlue(pixel) - qBlue(expected)) <= 1,
            qPrintable(QStringLiteral("particle %1: %2, expected %3").arg(k).arg(describe(pixel), describe(expected))));
    }
}

void TestGlintor::emptyFrame_data()
{
    QTest::addColumn<QString>("situation");

    QTest::newRow("before any trigger") << "idle";
    QTest::newRow("after the ring has ended") << "ended";
    QTest::newRow("after the fireworks have ended") << "fireworks ended";
    QTest::newRow("trigger while animations are disabled") << "disabled";
}

void TestGlintor::emptyFrame()
{
    QFETCH(QString, situation);

    QVariantMap settings { { GlintorSettings::Key::AnimationEffect, situation == "fireworks ended" ? 2 : 1 } };
    if (situation == "disabled")
        settings.insert(GlintorSettings::Key::EnableAnimation, false);
    writeSettings(settings);
    Glintor overlay;
    useSeams(overlay);
    if (situation != "idle") {
        overlay.startAnimation(QPoint(400, 300));
        tick(overlay, 120);
    }
    QVERIFY(!overlay.animating());

    const QImage frame = frameOf(overlay);
    QCOMPARE(frame.size(), overlay.size());
    QCOMPARE(countPainted(frame), 0);
}

void TestGlintor::framesMatchScreenSizedWindow_data()
{
    QTest::addColumn<int>("effectSetting");
    QTest::addColumn<int>("colorMode");

    QTest::newRow("white rings") << 1 << 0;
    QTest::newRow("red rings") << 1 << 1;
    QTest::newRow("rainbow rings") << 1 << 2;
    QTest::newRow("fireworks") << 2 << 1;
    QTest::newRow("stars") << 3 << 1;
}

// Every frame of the small window is, pixel for pixel, what a window as large as a screen draws
// around its centre: nothing is cut off and nothing depends on the window's size.
void TestGlintor::framesMatchScreenSizedWindow()
{
    QFETCH(int, effectSetting);
    QFETCH(int, colorMode);

    writeSettings(
        { { GlintorSettings::Key::AnimationEffect, effectSetting }, { GlintorSettings::Key::ColorMode, colorMode } });
    Glintor overlay;
    Glintor screenSized;
    screenSized.resize(1920, 1080);
    for (Glintor *widget : { &overlay, &screenSized }) {
        widget->setClock([this] { return now; });
        widget->setRandomSource(
            [random = QRandomGenerator(7)](int bound) mutable { return int(random.bounded(bound)); });
        widget->startAnimation(widget->centre());
    }

    int frames = 0;
    while (overlay.animating()) {
        const QImage frame = frameOf(overlay);
        const QImage expected = screenSized.grab(screenSized.animationRect()).toImage().convertToFormat(frame.format());
        QVERIFY2(frame == expected, qPrintable(QStringLiteral("frame %1 differs").arg(frames)));
        QVERIFY(screenSized.animating());
        overlay.updateAnimation();
        screenSized.updateAnimation();
        ++frames;
    }
    QVERIFY(!screenSized.animating());
    QCOMPARE(frames, effectSetting == 1 ? 38 : effectSetting == 2 ? 98 : 54);
}

void TestGlintor::repaintCoversOnlyAnimationSquare()
{
    writeSettings({ { GlintorSettings::Key::AnimationEffect, 1 } });
    Glintor overlay;
    PaintRecorder recorder;
    overlay.installEventFilter(&recorder);

    const QPoint pointer(150, 120);
    overlay.startAnimation(pointer);
    QVERIFY(QTest::qWaitForWindowExposed(&overlay));
    // Past the first few ticks the paints are the ticks' own.
    QTRY_VERIFY(overlay.radius() <= 150 - 4 * 3);
    recorder.regions.clear();
    QTRY_VERIFY(recorder.regions.size() >= 5 || !overlay.animating());
    QVERIFY(recorder.regions.size() >= 3);

    const QRect square = overlay.animationRect();
    // The window is the square, and it holds everything a frame can draw: the outer ring with its
    // pen, and a star at the rim, around the pointer.
    QCOMPARE(square, overlay.rect());
    const QPoint centre = ringCentre(overlay, pointer);
    QVERIFY(square.contains(QRect(centre - QPoint(157, 157), centre + QPoint(157, 157))));

    for (const QRegion &region : std::as_const(recorder.regions)) {
        QVERIFY2(square.contains(region.boundingRect()), qPrintable(QStringLiteral("repainted (%1, %2, %3 x %4)")
                                                                        .arg(region.boundingRect().x())
                                                                        .arg(region.boundingRect().y())
                                                                        .arg(region.boundingRect().width())
                                                                        .arg(region.boundingRect().height())));
        QCOMPARE(region, QRegion(square));
    }
}

int main(int argc, char *argv[])
{
    return runIsolatedTest<QApplication, TestGlintor>(
        argc, argv, [](QApplication &app) { app.setAttribute(Qt::AA_Use96Dpi, true); });
}

#include "tst_glintor.moc"
