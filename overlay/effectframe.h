#pragma once

#include <QColor>
#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QRegion>

#include <vector>

class QPainter;

// One dot or star of the fireworks and stars effects.
struct Particle {
    QPointF position; // widget coordinates, pixels
    QPointF velocity; // pixels per second
    double life = 0.0; // drawn with life clamped to 0..1 as opacity; removed at <= 0
    QColor color;
};

enum EffectKind { Ring = 0, Fireworks = 1, Stars = 2 };

// What one frame of an effect shows, apart from the window that animates it: a view of the
// window's state, valid while its particles are.
struct EffectFrame {
    int kind; // EffectKind; any other value draws nothing
    int radius; // the countdown: the radius of the outermost ring
    int effectiveMax;
    int colorMode; // of the rings: 0 white, 1 red, anything else rainbow
    double sizeMultiplier;
    QPoint centre; // the rings' centre, in widget coordinates
    const std::vector<Particle> &particles;
};

// Draws the frame translucent and antialiased, for a window that a compositing manager blends.
void paintEffectFrame(QPainter &painter, const EffectFrame &frame);

// A frame as opaque shapes, for a window shaped to them where no compositing manager runs: the X
// server then ignores alpha. A shape whose alpha in the translucent frame is below a quarter is
// left out, and the red rings' soft disc becomes a solid core.
class SolidFrame final
{
public:
    void build(const EffectFrame &frame);
    void clear();
    // The union of the shapes: what the window shows.
    const QRegion &region() const { return shape; }
    void paint(QPainter &painter) const;

private:
    struct SolidShape {
        QColor color;
        size_t firstSpan; // its pixels: spans[firstSpan, endSpan)
        size_t endSpan;
    };
    void addRings(const EffectFrame &frame);
    void addParticles(const EffectFrame &frame);

    std::vector<QRect> spans; // rectangles one pixel high
    std::vector<SolidShape> shapes;
    QRegion shape;
};
