#include "effectframe.h"

#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QVarLengthArray>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr double Pi = 3.141592653589793;

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

void paintRings(QPainter &painter, const EffectFrame &frame)
{
    const QPoint centre = frame.centre;
    for (const RingStep &ring : visibleRings(frame.radius, frame.effectiveMax)) {
        const int i = ring.index;
        const int r = ring.radius;
        const double fade = ring.fade;
        const QRect circle(centre.x() - r, centre.y() - r, 2 * r, 2 * r);

        if (frame.colorMode == 0) {
            painter.setBrush(Qt::NoBrush);
            painter.setPen(ringPen(whiteRingColor(fade)));
            painter.drawEllipse(circle);
        } else if (frame.colorMode == 1) {
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

void paintFireworks(QPainter &painter, const EffectFrame &frame)
{
    painter.setPen(Qt::NoPen);
    for (const Particle &particle : frame.particles) {
        painter.setBrush(QBrush(particleColor(particle)));
        const QPointF &p = particle.position;
        painter.drawEllipse(QRectF(p.x() - 3.0, p.y() - 3.0, 6.0, 6.0));
    }
}

void paintStars(QPainter &painter, const EffectFrame &frame)
{
    painter.setPen(Qt::NoPen);
    for (const Particle &particle : frame.particles) {
        painter.setBrush(QBrush(particleColor(particle)));
        QPainterPath path;
        path.addPolygon(starPolygon(particle.position, frame.sizeMultiplier));
        path.closeSubpath();
        painter.drawPath(path);
    }
}

} // namespace

void paintEffectFrame(QPainter &painter, const EffectFrame &frame)
{
    painter.setRenderHint(QPainter::Antialiasing);
    switch (frame.kind) {
    case Ring:
        paintRings(painter, frame);
        break;
    case Fireworks:
        paintFireworks(painter, frame);
        break;
    case Stars:
        paintStars(painter, frame);
        break;
    default:
        break;
    }
}

void SolidFrame::build(const EffectFrame &frame)
{
    spans.clear();
    shapes.clear();
    if (frame.kind == Ring)
        addRings(frame);
    else if (frame.kind == Fireworks || frame.kind == Stars)
        addParticles(frame);
    shape = unionOf(spans);
}

void SolidFrame::clear()
{
    spans.clear();
    shapes.clear();
    shape = QRegion();
}

void SolidFrame::paint(QPainter &painter) const
{
    // No antialiasing: every pixel in the shape is shown at full alpha, so a partly covered edge
    // pixel would come out dark.
    for (const SolidShape &solid : shapes) {
        for (size_t i = solid.firstSpan; i < solid.endSpan; ++i)
            painter.fillRect(spans[i], solid.color);
    }
}

void SolidFrame::addRings(const EffectFrame &frame)
{
    const QPointF centre = frame.centre;
    for (const RingStep &ring : visibleRings(frame.radius, frame.effectiveMax)) {
        const int i = ring.index;
        const int r = ring.radius;
        const double fade = ring.fade;
        QColor outline;
        if (frame.colorMode == 0) {
            outline = whiteRingColor(fade);
        } else if (frame.colorMode == 1) {
            // The red disc fades from alpha int(f * 255) at its centre to int(f * 60) at 0.7 of its
            // radius: the part at or above the faint limit becomes a solid red core.
            const int centreAlpha = int(fade * 255.0);
            const int middleAlpha = int(fade * 60.0);
            if (centreAlpha >= FaintAlpha) {
                const double coreRadius = r * 0.7 * (centreAlpha - FaintAlpha) / double(centreAlpha - middleAlpha);
                const size_t first = spans.size();
                addAnnulus(spans, centre, -1.0, coreRadius);
                shapes.push_back({ QColor(255, 0, 0), first, spans.size() });
            }
            outline = redRingOutlineColor(fade);
        } else {
            outline = rainbowRingColor(i, r, fade);
        }
        // The pen is 3 pixels wide, centred on the circle.
        if (outline.alpha() >= FaintAlpha) {
            const size_t first = spans.size();
            addAnnulus(spans, centre, r - 1.5, r + 1.5);
            shapes.push_back({ opaque(outline), first, spans.size() });
        }
    }
}

void SolidFrame::addParticles(const EffectFrame &frame)
{
    for (const Particle &particle : frame.particles) {
        const QColor color = particleColor(particle);
        if (color.alpha() < FaintAlpha)
            continue;
        const size_t first = spans.size();
        if (frame.kind == Fireworks)
            addAnnulus(spans, particle.position, -1.0, 3.0);
        else
            addPolygon(spans, starPolygon(particle.position, frame.sizeMultiplier));
        shapes.push_back({ opaque(color), first, spans.size() });
    }
}
