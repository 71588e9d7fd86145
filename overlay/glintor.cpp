#include "glintor.h"

#include "glintorsettings.h"
#include "waylandsupport.h"
#include "x11support.h"

#include <QCursor>
#include <QDateTime>
#include <QDebug>
#include <QGuiApplication>
#include <QPainter>
#include <QRandomGenerator>
#include <QScreen>
#include <QSettings>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

constexpr int FrameIntervalMs = 16;
constexpr double FrameSeconds = 0.016;
constexpr qint64 EffectMemoryMs = 10000;
constexpr double TwoPi = 6.283185307179586;

// Room beyond effectiveMax that a frame may paint into: a star's points (6 px) and the ring pen
// (3 px, antialiased), with room to spare.
constexpr int PaintMargin = 10;

// The animation's square where it crosses onto another output: a Wayland surface shows on one
// output only, so each output the square touches gets a window of its own that paints the same frame.
class FrameMirror final : public QWidget
{
public:
    explicit FrameMirror(const Glintor *source)
        : overlay(source)
    {
        setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowTransparentForInput);
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        resize(source->size());
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        if (!overlay->animating())
            return;
        QPainter painter(this);
        paintEffectFrame(painter, overlay->currentFrame());
    }

private:
    const Glintor *overlay;
};

} // namespace

struct Glintor::SpawnRule {
    int count;
    double baseSpeed;
    int speedBound;
    double speedDivisor;
    int lifeBound;
    int saturation;
};

Glintor::Glintor(QWidget *parent, Logging logs)
    : QWidget(parent)
    , animationTimer(new QTimer(this))
    , logging(logs == Logging::On)
    , clock([] { return QDateTime::currentMSecsSinceEpoch(); })
    , randomBounded([](int bound) { return int(QRandomGenerator::global()->bounded(bound)); })
{
    // WindowTransparentForInput gives the window an empty input shape: without it a click over the
    // shown overlay never reaches the window below on a real X server.
    setWindowFlags(Qt::Tool | Qt::X11BypassWindowManagerHint | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                   | Qt::WindowTransparentForInput);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);

    // Only as large as the square a frame can touch: a screen-sized window costs a backing store
    // of the screen's size and a repaint and composite of the whole screen at every show.
    resize(animationRect().size());

    connect(animationTimer, &QTimer::timeout, this, &Glintor::updateAnimation);
    hide();
    loadSettings();
}

Glintor::~Glintor() = default;

void Glintor::setClock(Clock newClock)
{
    clock = std::move(newClock);
}

void Glintor::setRandomSource(RandomBounded random)
{
    randomBounded = std::move(random);
}

QRect Glintor::animationRect() const
{
    const int half = effectiveMax() + PaintMargin;
    return QRect(-half, -half, 2 * half + 1, 2 * half + 1).translated(centre());
}

void Glintor::loadSettings()
{
    QSettings settings(GlintorSettings::Organization, GlintorSettings::Application);
    settingsColorMode = settings.value(GlintorSettings::Key::ColorMode, settingsColorMode).toInt();
    colorMode = settingsColorMode;
    animationEffect = settings.value(GlintorSettings::Key::AnimationEffect, animationEffect).toInt();
    if (logging) {
        qDebug() << "Settings loaded - maxRadius:" << maxRadius << "animationSpeed:" << animationSpeed
                 << "sizeMultiplier:" << sizeMultiplier << "animationEffect:" << animationEffect;
    }
    update();
}

bool Glintor::animationEnabled() const
{
    QSettings settings(GlintorSettings::Organization, GlintorSettings::Application);
    return settings.value(GlintorSettings::Key::EnableAnimation, GlintorSettings::Default::EnableAnimation).toBool();
}

void Glintor::startAnimation(const QPoint &mousePos)
{
    if (!animationEnabled())
        return;
    // A preview of another colour played before must not outlast itself.
    colorMode = settingsColorMode;
    chooseEffect();
    play(mousePos);
}

void Glintor::tryEffect(const QPoint &mousePos, int effectSetting, int colorSetting)
{
    colorMode = colorSetting;
    currentEffect = freshEffect(effectSetting);
    play(mousePos);
}

void Glintor::play(const QPoint &mousePos)
{
    if (WaylandSupport::active())
        placeOnOutputs(QRect(mousePos - centre(), size()));
    else
        move(mousePos - centre());
    particles.clear(); // keeps the storage for the next burst
    if (currentEffect == Fireworks)
        spawnParticles({ 80, 100.0, 300000, 1000000.0, 700000, 220 });
    else if (currentEffect == Stars)
        spawnParticles({ 60, 150.0, 150000, 1000.0, 1000000, 200 });

    isAnimating = true;
    currentRadius = effectiveMax();

    // The overlay's own X connection tells at every start whether a compositing manager runs (one
    // can come and go at any time) and raises the window once shown.
    const bool onX11 = QGuiApplication::platformName() == QLatin1String("xcb");
    bool shaped = false;
    if (onX11) {
        const WId window = winId();
        if (!x11 || !x11->isOpen())
            x11 = std::make_unique<X11Support::Connection>();
        // With no answer, shape: a shaped frame looks right with or without a compositor.
        shaped = !x11->isOpen() || !x11->hasCompositor(window);
    }
    const bool logDrawingMode = onX11 && (!drawingModeLogged || shaped != shapedFrames);
    if (shaped != shapedFrames) {
        // A running animation goes on in the other mode from a fresh window.
        hide();
        clearWindowShape();
        shapedFrames = shaped;
    }
    // The first frame's shape goes in before the window is mapped: unshaped, it would show black.
    if (shapedFrames)
        presentShapedFrame();
    show();
    if (onX11)
        x11->raiseWindow(winId());

    animationTimer->start(FrameIntervalMs);

    if (!logging)
        return;
    qDebug() << "Animation started at position:" << mousePos << "effect:" << currentEffect
             << "effectiveMax:" << effectiveMax();
    if (logDrawingMode) {
        drawingModeLogged = true;
        qDebug() << (shapedFrames ? "No compositing manager: drawing the animation opaque in a shaped window"
                                  : "Compositing manager running: drawing the animation translucent");
    }
}

void Glintor::placeOnOutputs(const QRect &square)
{
    // A layer surface takes its output and place when it is mapped: map each anew there.
    hide();
    mirrors.clear();
    const std::vector<QScreen *> outputs = WaylandSupport::outputsUnder(square);
    winId();
    WaylandSupport::placeOverlay(windowHandle(), square, outputs.empty() ? windowHandle()->screen() : outputs.front());
    for (size_t i = 1; i < outputs.size(); ++i) {
        auto mirror = std::make_unique<FrameMirror>(this);
        mirror->winId();
        WaylandSupport::placeOverlay(mirror->windowHandle(), square, outputs[i]);
        mirror->show();
        mirrors.push_back(std::move(mirror));
    }
}

void Glintor::chooseEffect()
{
    const qint64 now = clock();
    if (lastEffectTime != 0 && now - lastEffectTime <= EffectMemoryMs) {
        currentEffect = lastEffect;
        return;
    }
    currentEffect = freshEffect(animationEffect);
    lastEffect = currentEffect;
    lastEffectTime = now;
}

int Glintor::freshEffect(int setting) const
{
    switch (setting) {
    case 1:
        return Ring;
    case 2:
        return Fireworks;
    case 3:
        return Stars;
    default:
        return randomBounded(3);
    }
}

void Glintor::spawnParticles(const SpawnRule &rule)
{
    const QPointF start(centre());
    const double speedCap = effectiveMax() * 1.5;
    for (int i = 0; i < rule.count; ++i) {
        const double angle = double(randomBounded(1000000)) / 1000000.0 * TwoPi;
        const double rawSpeed = rule.baseSpeed + double(randomBounded(rule.speedBound)) / rule.speedDivisor;
        const double life = 0.8 + double(randomBounded(rule.lifeBound)) / 1000000.0;
        const int hue = randomBounded(360);
        const double speed = std::min(rawSpeed * sizeMultiplier * (maxRadius / 100.0), speedCap);

        Particle particle;
        particle.position = start;
        particle.velocity = QPointF(std::cos(angle) * speed, std::sin(angle) * speed);
        particle.life = life;
        particle.color = QColor::fromHsv(hue, rule.saturation, 255, 255);
        particles.push_back(particle);
    }
}

void Glintor::updateAnimation()
{
    currentRadius -= 2 * animationSpeed;

    if (!particles.empty()) {
        const QPointF start(centre());
        const double limit = effectiveMax();
        const double decay = animationSpeed * FrameSeconds / 5.0;
        for (Particle &particle : particles) {
            particle.position += particle.velocity * FrameSeconds;
            particle.velocity *= 0.99;
            const QPointF offset = particle.position - start;
            if (std::sqrt(offset.x() * offset.x() + offset.y() * offset.y()) > limit)
                particle.life = 0.0;
            particle.life -= decay;
        }
        particles.erase(std::remove_if(particles.begin(), particles.end(),
                                       [](const Particle &particle) { return particle.life <= 0.0; }),
                        particles.end());
    }

    if (currentRadius <= 0 && particles.empty()) {
        currentRadius = 0;
        isAnimating = false;
        animationTimer->stop();
        hide();
        mirrors.clear();
        if (shapedFrames)
            clearWindowShape();
        if (logging)
            qDebug() << "Animation finished";
    }

    if (shapedFrames && isAnimating)
        presentShapedFrame();
    else
        update();
    for (const std::unique_ptr<QWidget> &mirror : mirrors)
        mirror->update();
}

EffectFrame Glintor::currentFrame() const
{
    return { currentEffect, currentRadius, effectiveMax(), colorMode, sizeMultiplier, centre(), particles };
}

void Glintor::presentShapedFrame()
{
    const QRegion shown = solidFrame.region();
    solidFrame.build(currentFrame());
    if (isVisible()) {
        // The window keeps every pixel painted into it, in view or not, and most of them were
        // painted transparent, which shows black. So the shape first narrows to what both frames
        // cover, the new frame is painted at once, and only then does the shape widen to it.
        setWindowShape(shown & solidFrame.region());
        repaint();
    }
    setWindowShape(solidFrame.region());
}

void Glintor::setWindowShape(const QRegion &shape)
{
    // The shape is set on the native window, not through QWidget::setMask, which would also clip
    // Qt's painting to the old shape. An empty region would remove the shape altogether; X clips
    // a shape to its window, so a pixel just outside leaves nothing in view.
    if (QWindow *window = windowHandle())
        window->setMask(shape.isEmpty() ? QRegion(-1, -1, 1, 1) : shape);
}

void Glintor::clearWindowShape()
{
    solidFrame.clear();
    if (QWindow *window = windowHandle())
        window->setMask(QRegion());
}

void Glintor::paintEvent(QPaintEvent *)
{
    if (!isAnimating)
        return;
    QPainter painter(this);
    if (shapedFrames)
        solidFrame.paint(painter);
    else
        paintEffectFrame(painter, currentFrame());
}
