#pragma once

#include "effectframe.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class QTimer;
namespace X11Support {
class Connection;
}

// The service's one widget: a transparent, click-through, always-on-top window as large as the
// square an animation can touch. A trigger centres it on the pointer and plays one effect on a
// 16 ms clock.
class Glintor final : public QWidget
{
    Q_OBJECT

public:
    // Seams so tests can drive the effect memory and the spawning exactly.
    using Clock = std::function<qint64()>;
    using RandomBounded = std::function<int(int bound)>; // uniform in [0, bound)

    // Off for an overlay that another program borrows to show an effect: the service's log lines
    // would only clutter its output.
    enum class Logging { On, Off };

    explicit Glintor(QWidget *parent = nullptr, Logging logging = Logging::On);
    ~Glintor() override;

    // Plays an effect at once, as the settings window's "试一试" shows a choice before it is saved:
    // animationEffect and colorMode as in the settings (0 random, 1 rings, 2 fireworks, 3 stars;
    // 0 white, 1 red, other rainbow), whatever the settings file says, leaving the effect memory alone.
    void tryEffect(const QPoint &mousePos, int animationEffect, int colorMode);
    // Whether the settings let a trigger show anything now.
    bool animationEnabled() const;

    void setClock(Clock clock);
    void setRandomSource(RandomBounded random);

    // Read-only views of the animation state, for tests and tools.
    bool animating() const { return isAnimating; }
    int radius() const { return currentRadius; }
    int effectKind() const { return currentEffect; }
    int colorModeSetting() const { return colorMode; }
    int animationEffectSetting() const { return animationEffect; }
    const std::vector<Particle> &liveParticles() const { return particles; }
    int effectiveMax() const { return int(maxRadius * sizeMultiplier); }
    // The pixel that a trigger places on the pointer's pixel, the window's middle one. Rings are
    // drawn around its top-left corner and particles start there.
    QPoint centre() const { return rect().center(); }
    // The square around the centre that any frame can touch: the whole window.
    QRect animationRect() const;
    // Whether the running animation is drawn opaque in a window shaped to it, because no
    // compositing manager ran when it started. Never on platforms other than X11.
    bool drawsShaped() const { return shapedFrames; }
    // The frame to paint now, in this window's coordinates.
    EffectFrame currentFrame() const;

public slots:
    void startAnimation(const QPoint &mousePos);
    void updateAnimation();
    void loadSettings();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void chooseEffect();
    int freshEffect(int setting) const;
    void play(const QPoint &mousePos);
    struct SpawnRule;
    void spawnParticles(const SpawnRule &rule);
    // On Wayland: this window on the output that holds square's centre, and a window painting the
    // same frames on every other output square touches.
    void placeOnOutputs(const QRect &square);

    // Without a compositing manager the X server ignores alpha: each frame then becomes a set of
    // solid shapes, the window is shaped to their union and they are painted opaque.
    void presentShapedFrame();
    void setWindowShape(const QRegion &shape);
    void clearWindowShape();

    QTimer *animationTimer;
    int currentRadius = 0;
    int maxRadius = 100;
    int animationSpeed = 2;
    int colorMode = 1;
    int settingsColorMode = 1;
    double sizeMultiplier = 1.5;
    int animationEffect = 0;
    bool isAnimating = false;
    int currentEffect = 0;
    int lastEffect = 0;
    qint64 lastEffectTime = 0;
    std::vector<Particle> particles;

    bool logging;
    bool shapedFrames = false;
    bool drawingModeLogged = false;
    SolidFrame solidFrame;

    // Opened at the first start and kept: a connection per start cost a millisecond or more of
    // every trigger's latency.
    std::unique_ptr<X11Support::Connection> x11;
    std::vector<std::unique_ptr<QWidget>> mirrors;

    Clock clock;
    RandomBounded randomBounded;
};
