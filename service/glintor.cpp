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
#include <QSettings>
#include <QTimer>
#include <QVarLengthArray>
#include <QWindow>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>

namespace {

constexpr int FrameIntervalMs = 16;
constexpr double FrameSeconds = 0.016;
constexpr qint64 EffectMemoryMs = 10000;
constexpr double TwoPi = 6.283185307179586;
constexpr double Pi = 3.141592653589793;

// Room beyond effectiveMax that a frame may paint into: a star's points (6 px) and the ring pen
// (3 px, antialiased), with room to spare.
constexpr int PaintMargin = 10;

enum EffectKind { Ring = 0, Fireworks = 1, Stars = 2 };

// A shaped frame draws every shape at full alpha, so a shape whose alpha in the blended picture
// is below a quarter is left out: drawn solid it would stand out far more than it should (the
// first frame's outer ring has alpha 0, fading particles end near 40).
constexpr int FaintAlpha = 64;

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

// Appends the pixels of one shape to spans, row by row as rectangles one pixel high; spans of a
// row that touch are joined.
class SpanWriter {
public:
    explicit SpanWriter(std::vector<QRect> &target)
        : spans(target)
        , first(target.size())
    {
    }
    void add(int y, int left, int right)
    {
        if (left > right)
            return;
        if (spans.size() > first && spans.back().y() == y && spans.back().right() + 1 >= left)
            spans.back().setRight(std::max(spans.back().right(), right));
        else
            spans.emplace_back(left, y, right - left + 1, 1);
    }

private:
    std::vector<QRect> &spans;
    size_t first;
};

// The pixels whose centres lie between inner and outer from centre; a disc for inner < 0.
void addAnnulus(std::vector<QRect> &spans, const QPointF &centre, double inner, double outer)
{
    SpanWriter rows(spans);
    const int top = int(std::floor(centre.y() - outer));
    const int bottom = int(std::ceil(centre.y() + outer));
    for (int y = top; y <= bottom; ++y) {
        const double dy = y + 0.5 - centre.y();
        if (std::abs(dy) > outer)
            continue;
        const double outerHalf = std::sqrt(outer * outer - dy * dy);
        const int left = int(std::ceil(centre.x() - outerHalf - 0.5));
        const int right = int(std::floor(centre.x() + outerHalf - 0.5));
        if (inner <= std::abs(dy)) {
            rows.add(y, left, right);
            continue;
        }
        const double innerHalf = std::sqrt(inner * inner - dy * dy);
        rows.add(y, left, int(std::floor(centre.x() - innerHalf - 0.5)));
        rows.add(y, int(std::ceil(centre.x() + innerHalf - 0.5)), right);
    }
}

// The pixels whose centres lie inside the polygon (odd-even rule), found row by row from where
// the row's centre line crosses the edges.
void addPolygon(std::vector<QRect> &spans, const QPolygonF &polygon)
{
    SpanWriter rows(spans);
    const QRect bounds = polygon.boundingRect().toAlignedRect();
    QVarLengthArray<double, 16> crossings;
    for (int y = bounds.top(); y <= bounds.bottom(); ++y) {
        const double line = y + 0.5;
        crossings.clear();
        for (int i = 0, j = polygon.size() - 1; i < polygon.size(); j = i++) {
            const QPointF &a = polygon.at(j);
            const QPointF &b = polygon.at(i);
            if ((a.y() <= line) != (b.y() <= line))
                crossings.append(a.x() + (line - a.y()) * (b.x() - a.x()) / (b.y() - a.y()));
        }
        std::sort(crossings.begin(), crossings.end());
        for (int i = 0; i + 1 < crossings.size(); i += 2)
            rows.add(y, int(std::ceil(crossings[i] - 0.5)), int(std::floor(crossings[i + 1] - 0.5)));
    }
}

// The union of spans as one region: sorted by row and left edge, with overlapping and touching
// spans joined, as QRegion::setRects wants them. Far cheaper than uniting shape after shape.
QRegion unionOf(std::vector<QRect> spans)
{
    std::sort(spans.begin(), spans.end(),
        [](const QRect &a, const QRect &b) { return a.y() != b.y() ? a.y() < b.y() : a.x() < b.x(); });
    std::vector<QRect> joined;
    joined.reserve(spans.size());
    for (const QRect &span : spans) {
        if (!joined.empty() && joined.back().y() == span.y() && joined.back().right() + 1 >= span.left())
            joined.back().setRight(std::max(joined.back().right(), span.right()));
        else
            joined.push_back(span);
    }
    QRegion region;
    region.setRects(joined.data(), int(joined.size()));
    return region;
}

QColor opaque(QColor color)
{
    color.setAlpha(255);
    return color;
}

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
    colorMode = settings.value(GlintorSettings::Key::ColorMode, colorMode).toInt();
    animationEffect = settings.value(GlintorSettings::Key::AnimationEffect, animationEffect).toInt();
    qDebug() << "Settings loaded - maxRadius:" << maxRadius << "animationSpeed:" << animationSpeed
             << "sizeMultiplier:" << sizeMultiplier << "animationEffect:" << animationEffect;
    update();
}

void Glintor::startAnimation(const QPoint &mousePos)
{
    {
        QSettings settings(GlintorSettings::Organization, GlintorSettings::Application);
        if (!settings.value(GlintorSettings::Key::EnableAnimation, GlintorSettings::Default::EnableAnimation).toBool())
            return;
    }

    move(mousePos - centre());
    chooseEffect();

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

    qDebug() << "Animation started at position:" << mousePos << "effect:" << currentEffect
             << "effectiveMax:" << effectiveMax();
    if (logDrawingMode) {
        drawingModeLogged = true;
        qDebug() << (shapedFrames ? "No compositing manager: drawing the animation opaque in a shaped window"
                                  : "Compositing manager running: drawing the animation translucent");
    }
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
        if (shapedFrames)
            clearWindowShape();
        qDebug() << "Animation finished";
    }

    if (shapedFrames && isAnimating)
        presentShapedFrame();
    else
        update();
}

void Glintor::presentShapedFrame()
{
    const QRegion shown = frameShape;
    buildSolidShapes();
    if (isVisible()) {
        // The window keeps every pixel painted into it, in view or not, and most of them were
        // painted transparent, which shows black. So the shape first narrows to what both frames
        // cover, the new frame is painted at once, and only then does the shape widen to it.
        setWindowShape(shown & frameShape);
        repaint();
    }
    setWindowShape(frameShape);
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
    solidSpans.clear();
    solidShapes.clear();
    frameShape = QRegion();
    if (QWindow *window = windowHandle())
        window->setMask(QRegion());
}

void Glintor::buildSolidShapes()
{
    solidSpans.clear();
    solidShapes.clear();
    if (currentEffect == Ring)
        addRingShapes();
    else if (currentEffect == Fireworks || currentEffect == Stars)
        addParticleShapes();
    frameShape = unionOf(solidSpans);
}

void Glintor::paintEvent(QPaintEvent *)
{
    if (!isAnimating)
        return;

    QPainter painter(this);
    if (shapedFrames) {
        // No antialiasing: every pixel in the shape is shown at full alpha, so a partly covered
        // edge pixel would come out dark.
        for (const SolidShape &shape : solidShapes) {
            for (size_t i = shape.firstSpan; i < shape.endSpan; ++i)
                painter.fillRect(solidSpans[i], shape.color);
        }
        return;
    }
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

// The rings a frame draws: ring i has radius currentRadius - i * spacing and is skipped once that
// is 0 or less; it is faint while large and grows opaque as it closes in.
struct RingStep {
    int index;
    int radius;
    double fade;
};

QVarLengthArray<RingStep, 3> visibleRings(int currentRadius, int effectiveMax)
{
    const int ringSpacing = effectiveMax / 10 + 6;
    QVarLengthArray<RingStep, 3> rings; // no allocation in the frame path
    for (int i = 0; i < 3; ++i) {
        const int r = currentRadius - i * ringSpacing;
        if (r > 0)
            rings.push_back({ i, r, std::max(0.0, 1.0 - double(r) / effectiveMax) });
    }
    return rings;
}

QColor particleColor(const Particle &particle)
{
    QColor color = particle.color;
    color.setAlphaF(particle.life <= 0.0 ? 0.0 : std::min(particle.life, 1.0));
    return color;
}

QColor whiteRingColor(double fade)
{
    return QColor(255, 255, 255, int(fade * 220));
}

QColor rainbowRingColor(int ring, int radius, double fade)
{
    const int hue = int(std::fmod(ring * 60.0 + radius * 1.2, 360.0));
    return QColor::fromHsv(hue, 220, 255, int(fade * 230));
}

QColor redRingOutlineColor(double fade)
{
    return QColor(0, 0, 0, int(fade * 200));
}

QPolygonF starPolygon(const QPointF &centre, double sizeMultiplier)
{
    static const StarShape shape;
    const double outerRadius = 4.0 * sizeMultiplier;
    const double innerRadius = 2.0 * sizeMultiplier;
    QPolygonF star;
    star.reserve(10);
    for (int v = 0; v < 10; ++v)
        star << centre + shape.unit[size_t(v)] * (v % 2 ? innerRadius : outerRadius);
    return star;
}

} // namespace

void Glintor::paintRings(QPainter &painter) const
{
    const QPoint centre = this->centre();
    for (const RingStep &ring : visibleRings(currentRadius, effectiveMax())) {
        const int i = ring.index;
        const int r = ring.radius;
        const double fade = ring.fade;
        const QRect circle(centre.x() - r, centre.y() - r, 2 * r, 2 * r);

        if (colorMode == 0) {
            painter.setBrush(Qt::NoBrush);
            painter.setPen(ringPen(whiteRingColor(fade)));
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

            painter.setPen(ringPen(redRingOutlineColor(fade)));
            painter.setBrush(Qt::NoBrush);
            painter.drawEllipse(circle);
        } else {
            painter.setBrush(Qt::NoBrush);
            painter.setPen(ringPen(rainbowRingColor(i, r, fade)));
            painter.drawEllipse(circle);
        }
    }
}

void Glintor::addRingShapes()
{
    const QPointF centre = this->centre();
    for (const RingStep &ring : visibleRings(currentRadius, effectiveMax())) {
        const int i = ring.index;
        const int r = ring.radius;
        const double fade = ring.fade;
        QColor outline;
        if (colorMode == 0) {
            outline = whiteRingColor(fade);
        } else if (colorMode == 1) {
            // The red disc fades from alpha int(f * 255) at its centre to int(f * 60) at 0.7 of its
            // radius: the part at or above the faint limit becomes a solid red core.
            const int centreAlpha = int(fade * 255.0);
            const int middleAlpha = int(fade * 60.0);
            if (centreAlpha >= FaintAlpha) {
                const double coreRadius = r * 0.7 * (centreAlpha - FaintAlpha) / double(centreAlpha - middleAlpha);
                const size_t first = solidSpans.size();
                addAnnulus(solidSpans, centre, -1.0, coreRadius);
                solidShapes.push_back({ QColor(255, 0, 0), first, solidSpans.size() });
            }
            outline = redRingOutlineColor(fade);
        } else {
            outline = rainbowRingColor(i, r, fade);
        }
        // The pen is 3 pixels wide, centred on the circle.
        if (outline.alpha() >= FaintAlpha) {
            const size_t first = solidSpans.size();
            addAnnulus(solidSpans, centre, r - 1.5, r + 1.5);
            solidShapes.push_back({ opaque(outline), first, solidSpans.size() });
        }
    }
}

void Glintor::addParticleShapes()
{
    for (const Particle &particle : particles) {
        const QColor color = particleColor(particle);
        if (color.alpha() < FaintAlpha)
            continue;
        const size_t first = solidSpans.size();
        if (currentEffect == Fireworks)
            addAnnulus(solidSpans, particle.position, -1.0, 3.0);
        else
            addPolygon(solidSpans, starPolygon(particle.position, sizeMultiplier));
        solidShapes.push_back({ opaque(color), first, solidSpans.size() });
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
    painter.setPen(Qt::NoPen);
    for (const Particle &particle : particles) {
        painter.setBrush(QBrush(particleColor(particle)));
        QPainterPath path;
        path.addPolygon(starPolygon(particle.position, sizeMultiplier));
        path.closeSubpath();
        painter.drawPath(path);
    }
}
