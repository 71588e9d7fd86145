#include "glintor.h"

#include "glintorsettings.h"
#include "x11support.h"

#include <QDateTime>
#include <QDebug>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QRandomGenerator>
#include <QScreen>
#include <QSettings>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr int FrameIntervalMs = 16;
constexpr double FrameSeconds = 0.016;
constexpr qint64 EffectMemoryMs = 10000;
constexpr double TwoPi = 6.283185307179586;
constexpr double Pi = 3.141592653589793;

// Room beyond effectiveMax that a frame may paint into: a star's points (6 px), the ring pen
// (3 px, antialiased) and the one pixel between the ring centre and the particles' start.
constexpr int PaintMargin = 10;

enum EffectKind { Ring = 0, Fireworks = 1, Stars = 2 };

// A star's ten vertices as unit offsets; the angles never change, so compute them once.
struct StarShape {
    std::array<QPointF, 10> unit; // outer 0, inner 0, outer 1, ...
    StarShape()
    {
        for (int k = 0; k < 5; ++k) {
            const double outer = (k * 72.0 - 90.0) * Pi / 180.0;
            const double inner = ((k + 0.5) * 72.0 - 90.0) * Pi / 180.0;
            unit[2 * k] = QPointF(std::cos(outer), std::sin(outer));
            unit[2 * k + 1] = QPointF(std::cos(inner), std::sin(inner));
        }
    }
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

Glintor::Glintor(QWidget *parent)
    : QWidget(parent)
    , animationTimer(new QTimer(this))
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

    if (const QScreen *screen = QGuiApplication::primaryScreen())
        resize(screen->geometry().size());

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
    const QPoint centre(width() / 2, height() / 2);
    return QRect(centre.x() - half, centre.y() - half, 2 * half + 1, 2 * half + 1);
}

void Glintor::loadSettings()
{
    QSettings settings(GlintorSettings::Organization, GlintorSettings::Application);
    colorMode = settings.value(GlintorSettings::Key::ColorMode, colorMode).toInt();
    animationEffect = settings.value(GlintorSettings::Key::AnimationEffect, animationEffect).toInt();
    qDebug() << "Settings loaded - maxRadius:" << maxRadius << "animationSpeed:" << animationSpeed
             << "sizeMultiplier:" << sizeMultiplier << "animationEffect:" << animationEffect;
    update(animationRect());
}

void Glintor::startAnimation(const QPoint &mousePos)
{
    {
        QSettings settings(GlintorSettings::Organization, GlintorSettings::Application);
        if (!settings.value(GlintorSettings::Key::EnableAnimation, GlintorSettings::Default::EnableAnimation).toBool())
            return;
    }

    move(mousePos.x() - width() / 2, mousePos.y() - height() / 2);
    show();
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        X11Support::raiseWindow(winId());

    chooseEffect();

    particles.clear(); // keeps the storage for the next burst
    if (currentEffect == Fireworks)
        spawnParticles({ 80, 100.0, 300000, 1000000.0, 700000, 220 });
    else if (currentEffect == Stars)
        spawnParticles({ 60, 150.0, 150000, 1000.0, 1000000, 200 });

    isAnimating = true;
    currentRadius = effectiveMax();
    animationTimer->start(FrameIntervalMs);

    qDebug() << "Animation started at position:" << mousePos << "effect:" << currentEffect
             << "effectiveMax:" << effectiveMax();
}

void Glintor::chooseEffect()
{
    const qint64 now = clock();
    if (lastEffectTime != 0 && now - lastEffectTime <= EffectMemoryMs) {
        currentEffect = lastEffect;
        return;
    }
    switch (animationEffect) {
    case 1:
        currentEffect = Ring;
        break;
    case 2:
        currentEffect = Fireworks;
        break;
    case 3:
        currentEffect = Stars;
        break;
    default:
        currentEffect = randomBounded(3);
        break;
    }
    lastEffect = currentEffect;
    lastEffectTime = now;
}

void Glintor::spawnParticles(const SpawnRule &rule)
{
    const QPointF centre(width() * 0.5, height() * 0.5);
    const double speedCap = effectiveMax() * 1.5;
    for (int i = 0; i < rule.count; ++i) {
        const double angle = double(randomBounded(1000000)) / 1000000.0 * TwoPi;
        const double rawSpeed = rule.baseSpeed + double(randomBounded(rule.speedBound)) / rule.speedDivisor;
        const double life = 0.8 + double(randomBounded(rule.lifeBound)) / 1000000.0;
        const int hue = randomBounded(360);
        const double speed = std::min(rawSpeed * sizeMultiplier * (maxRadius / 100.0), speedCap);

        Particle particle;
        particle.position = centre;
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
        const QPointF centre(width() * 0.5, height() * 0.5);
        const double limit = effectiveMax();
        const double decay = animationSpeed * FrameSeconds / 5.0;
        for (Particle &particle : particles) {
            particle.position += particle.velocity * FrameSeconds;
            particle.velocity *= 0.99;
            const QPointF offset = particle.position - centre;
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
        qDebug() << "Animation finished";
    }

    // Only the animation's square can change; repainting the whole screen-sized window each
    // frame would push megabytes of transparent pixels through the X server.
    update(animationRect());
}

void Glintor::paintEvent(QPaintEvent *)
{
    if (!isAnimating)
        return;

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    switch (currentEffect) {
    case Ring:
        paintRings(painter);
        break;
    case Fireworks:
        paintFireworks(painter);
        break;
    case Stars:
        paintStars(painter);
        break;
    default:
        break;
    }
}

namespace {

QPen ringPen(const QColor &color)
{
    QPen pen(QBrush(color), 3.0, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
    pen.setCosmetic(true);
    return pen;
}

QColor particleColor(const Particle &particle)
{
    QColor color = particle.color;
    color.setAlphaF(particle.life <= 0.0 ? 0.0 : std::min(particle.life, 1.0));
    return color;
}

} // namespace

void Glintor::paintRings(QPainter &painter) const
{
    const int maxR = effectiveMax();
    const QPoint centre = rect().center();
    const int ringSpacing = maxR / 10 + 6;

    for (int i = 0; i < 3; ++i) {
        const int r = currentRadius - i * ringSpacing;
        if (r <= 0)
            continue;
        const double fade = std::max(0.0, 1.0 - double(r) / maxR);
        const QRect circle(centre.x() - r, centre.y() - r, 2 * r, 2 * r);

        if (colorMode == 0) {
            painter.setBrush(Qt::NoBrush);
            painter.setPen(ringPen(QColor(255, 255, 255, int(fade * 220))));
            painter.drawEllipse(circle);
        } else if (colorMode == 1) {
            const int alpha = int(fade * 255.0);
            QColor base = QColor::fromHsv(0, 255, 255, alpha);
            QRadialGradient gradient{ QPointF(centre), double(r) };
            gradient.setColorAt(0.0, base);
            base.setAlpha(int(fade * 60.0));
            gradient.setColorAt(0.7, base);
            gradient.setColorAt(1.0, Qt::transparent);
            painter.setBrush(QBrush(gradient));
            painter.setPen(Qt::NoPen);
            painter.drawEllipse(circle);

            painter.setPen(ringPen(QColor(0, 0, 0, int(fade * 200))));
            painter.setBrush(Qt::NoBrush);
            painter.drawEllipse(circle);
        } else {
            const int hue = int(std::fmod(i * 60.0 + r * 1.2, 360.0));
            painter.setBrush(Qt::NoBrush);
            painter.setPen(ringPen(QColor::fromHsv(hue, 220, 255, int(fade * 230))));
            painter.drawEllipse(circle);
        }
    }
}

void Glintor::paintFireworks(QPainter &painter) const
{
    painter.setPen(Qt::NoPen);
    for (const Particle &particle : particles) {
        painter.setBrush(QBrush(particleColor(particle)));
        const QPointF &p = particle.position;
        painter.drawEllipse(QRectF(p.x() - 3.0, p.y() - 3.0, 6.0, 6.0));
    }
}

void Glintor::paintStars(QPainter &painter) const
{
    static const StarShape shape;
    const double outerRadius = 4.0 * sizeMultiplier;
    const double innerRadius = 2.0 * sizeMultiplier;

    painter.setPen(Qt::NoPen);
    for (const Particle &particle : particles) {
        painter.setBrush(QBrush(particleColor(particle)));
        const QPointF &p = particle.position;
        QPainterPath path;
        path.moveTo(p + shape.unit[0] * outerRadius);
        for (int v = 1; v < 10; ++v)
            path.lineTo(p + shape.unit[v] * (v % 2 ? innerRadius : outerRadius));
        path.closeSubpath();
        painter.drawPath(path);
    }
}
