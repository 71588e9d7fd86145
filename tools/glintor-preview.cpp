// glintor-preview: draws the effects of glintor-service into PNG pictures (and animated GIFs) by
// driving the real overlay widget frame by frame on Qt's offscreen platform; no X server needed.

#include "glintor.h"
#include "glintorsettings.h"

#include <QApplication>
#include <QColor>
#include <QCommandLineParser>
#include <QDir>
#include <QImage>
#include <QLoggingCategory>
#include <QPainter>
#include <QPixmap>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>
#include <vector>

namespace {

struct Effect {
    const char *name;
    int animationEffect; // the settings' numbers: 1 ring, 2 fireworks, 3 stars
    int colorMode; // 0 white, 1 red, 2 rainbow; only the ring uses it
};

const Effect Effects[] = {
    { "ring-white", 1, 0 },
    { "ring-red", 1, 1 },
    { "ring-rainbow", 1, 2 },
    { "fireworks", 2, 1 },
    { "stars", 3, 1 },
};

struct Options {
    QDir output;
    int size = 0; // 0: the animation square's own size
    std::vector<int> ticks;
    bool allFrames = false;
    bool gif = false;
    QColor background; // invalid: a checkerboard, so that translucent pixels show as such
    quint32 seed = 1;
};

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

// The overlay reads its settings file when it is built; a private file holds the effect to draw.
void writeSettings(const Effect &effect)
{
    QSettings settings(GlintorSettings::Organization, GlintorSettings::Application);
    settings.clear();
    settings.setValue(GlintorSettings::Key::ColorMode, effect.colorMode);
    settings.setValue(GlintorSettings::Key::AnimationEffect, effect.animationEffect);
    settings.setValue(GlintorSettings::Key::EnableAnimation, true);
    settings.setValue(GlintorSettings::Key::EnableShake, false);
}

QImage backdrop(QSize size, const QColor &background)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    if (background.isValid()) {
        image.fill(background);
        return image;
    }
    const int square = 16;
    QPainter painter(&image);
    for (int y = 0; y < size.height(); y += square) {
        for (int x = 0; x < size.width(); x += square)
            painter.fillRect(x, y, square, square, ((x + y) / square) % 2 ? QColor(0x59, 0x5f, 0x69) : QColor(0x4b, 0x50, 0x59));
    }
    return image;
}

// One frame: the overlay's animation square over the backdrop, scaled to the requested size.
QImage frame(Glintor &overlay, const Options &options)
{
    const QRect square = overlay.animationRect();
    QImage image = backdrop(square.size(), options.background);
    {
        QPainter painter(&image);
        painter.drawPixmap(0, 0, overlay.grab(square));
    }
    if (options.size > 0 && options.size != square.width())
        image = image.scaled(options.size, options.size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image.convertToFormat(QImage::Format_RGB32);
}

QImage strip(const std::vector<QImage> &frames)
{
    const int gap = 4;
    const QSize one = frames.front().size();
    QImage image(int(frames.size()) * one.width() + (int(frames.size()) - 1) * gap, one.height(), QImage::Format_RGB32);
    image.fill(QColor(0x2b, 0x2e, 0x33));
    QPainter painter(&image);
    for (size_t i = 0; i < frames.size(); ++i)
        painter.drawImage(int(i) * (one.width() + gap), 0, frames[i]);
    return image;
}

bool save(const QImage &image, const QString &path)
{
    if (!image.save(path, "PNG")) {
        err() << "glintor-preview: cannot write " << path << Qt::endl;
        return false;
    }
    QTextStream(stdout) << path << Qt::endl;
    return true;
}

bool render(const Effect &effect, const Options &options)
{
    writeSettings(effect);
    Glintor overlay;
    // A fixed seed gives the same pictures on every run; a fixed clock, no effect memory.
    overlay.setRandomSource([generator = QRandomGenerator(options.seed)](int bound) mutable {
        return int(generator.bounded(bound));
    });
    overlay.setClock([] { return qint64(1); });
    // Centred on the widget's own centre, the widget stays where it is.
    overlay.startAnimation(QPoint(overlay.width() / 2, overlay.height() / 2));

    // The overlay's 16 ms timer never fires: no event loop runs, each tick is driven here.
    std::vector<QImage> frames;
    QStringList framePaths;
    const int lastTick = options.allFrames ? 10000 : options.ticks.back();
    size_t nextWanted = 0;
    for (int tick = 0; tick <= lastTick && overlay.animating(); ++tick) {
        if (options.allFrames) {
            const QString path = options.output.filePath(QStringLiteral("%1-%2.png").arg(QLatin1String(effect.name)).arg(tick, 3, 10, QLatin1Char('0')));
            if (!save(frame(overlay, options), path))
                return false;
            framePaths << path;
        } else if (nextWanted < options.ticks.size() && options.ticks[nextWanted] == tick) {
            frames.push_back(frame(overlay, options));
            ++nextWanted;
        }
        overlay.updateAnimation();
    }

    if (!options.allFrames) {
        if (frames.size() != options.ticks.size()) {
            err() << "glintor-preview: " << effect.name << " ends before tick " << options.ticks[frames.size()] << Qt::endl;
            return false;
        }
        if (!save(strip(frames), options.output.filePath(QLatin1String(effect.name) + QLatin1String(".png"))))
            return false;
    }

    if (options.gif) {
        const QString gifPath = options.output.filePath(QLatin1String(effect.name) + QLatin1String(".gif"));
        // GIF delays count in 1/100 s; 2 is the closest to the 16 ms frame that browsers honour.
        QStringList arguments { QStringLiteral("-delay"), QStringLiteral("2"), QStringLiteral("-loop"), QStringLiteral("0") };
        arguments << framePaths << QStringLiteral("-layers") << QStringLiteral("Optimize") << gifPath;
        if (QProcess::execute(QStringLiteral("convert"), arguments) != 0) {
            err() << "glintor-preview: ImageMagick's convert could not write " << gifPath << Qt::endl;
            return false;
        }
        QTextStream(stdout) << gifPath << Qt::endl;
    }
    return true;
}

int usageError(const QString &message)
{
    err() << "glintor-preview: " << message << Qt::endl;
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    // Pictures need no display: draw offscreen unless a platform was asked for.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    // The user's own settings are never read or written: the overlay reads a private file, and the
    // system-wide fallbacks in XDG_CONFIG_DIRS are shut out too. QSettings fixes its paths at its
    // first use, so this comes before anything else.
    QTemporaryDir configDir;
    if (!configDir.isValid()) {
        std::fputs("glintor-preview: cannot create a temporary folder\n", stderr);
        return 1;
    }
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configDir.path()));
    qputenv("XDG_CONFIG_DIRS", QFile::encodeName(configDir.path()));

    // The overlay logs every load and start, and the offscreen platform warns that it cannot raise
    // a window: a picture tool keeps quiet and reports its own errors on standard error.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false\ndefault.warning=false"));

    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("glintor-preview"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Draws the effects of glintor-service into PNG pictures, through the overlay's own painting code.\n"
        "Effects: ring-white, ring-red, ring-rainbow, fireworks, stars (default: all of them)."));
    parser.addHelpOption();
    const QCommandLineOption outputOption({ QStringLiteral("o"), QStringLiteral("output") },
                                          QStringLiteral("Folder for the pictures (default: the current one)."),
                                          QStringLiteral("dir"), QStringLiteral("."));
    const QCommandLineOption sizeOption({ QStringLiteral("s"), QStringLiteral("size") },
                                        QStringLiteral("Side of each frame in pixels (default: the animation's own square)."),
                                        QStringLiteral("pixels"));
    const QCommandLineOption ticksOption({ QStringLiteral("t"), QStringLiteral("ticks") },
                                         QStringLiteral("Frames to draw, counted in 16 ms ticks from the start, side by side "
                                                        "in one picture: e.g. 10 or 2,10,18 (default: 10)."),
                                         QStringLiteral("list"), QStringLiteral("10"));
    const QCommandLineOption allOption({ QStringLiteral("a"), QStringLiteral("all-frames") },
                                       QStringLiteral("Write every frame as <effect>-<tick>.png instead."));
    const QCommandLineOption gifOption(QStringLiteral("gif"),
                                       QStringLiteral("With --all-frames: also join the frames into <effect>.gif "
                                                      "(needs ImageMagick's convert)."));
    const QCommandLineOption backgroundOption(QStringLiteral("background"),
                                              QStringLiteral("Background colour (default: a grey checkerboard)."),
                                              QStringLiteral("colour"));
    const QCommandLineOption seedOption(QStringLiteral("seed"),
                                        QStringLiteral("Seed of the particles' random numbers (default: 1)."),
                                        QStringLiteral("n"), QStringLiteral("1"));
    parser.addOptions({ outputOption, sizeOption, ticksOption, allOption, gifOption, backgroundOption, seedOption });
    parser.addPositionalArgument(QStringLiteral("effect"), QStringLiteral("Effects to draw."), QStringLiteral("[effect...]"));
    parser.process(app);

    Options options;
    bool ok = true;
    options.output = QDir(parser.value(outputOption));
    if (!options.output.exists() && !QDir().mkpath(options.output.path()))
        return usageError(QStringLiteral("cannot create ") + options.output.path());
    if (parser.isSet(sizeOption)) {
        options.size = parser.value(sizeOption).toInt(&ok);
        if (!ok || options.size < 8 || options.size > 4096)
            return usageError(QStringLiteral("--size takes 8 to 4096 pixels"));
    }
    int previous = -1;
    for (const QString &tick : parser.value(ticksOption).split(QLatin1Char(','))) {
        const int value = tick.trimmed().toInt(&ok);
        if (!ok || value <= previous)
            return usageError(QStringLiteral("--ticks takes rising numbers from 0, e.g. 2,10,18"));
        options.ticks.push_back(value);
        previous = value;
    }
    options.allFrames = parser.isSet(allOption);
    options.gif = parser.isSet(gifOption);
    if (options.gif && !options.allFrames)
        return usageError(QStringLiteral("--gif needs --all-frames"));
    if (parser.isSet(backgroundOption)) {
        options.background = QColor(parser.value(backgroundOption));
        if (!options.background.isValid())
            return usageError(QStringLiteral("unknown colour ") + parser.value(backgroundOption));
    }
    options.seed = parser.value(seedOption).toUInt(&ok);
    if (!ok)
        return usageError(QStringLiteral("--seed takes a number"));

    std::vector<const Effect *> chosen;
    for (const QString &name : parser.positionalArguments()) {
        const Effect *found = nullptr;
        for (const Effect &effect : Effects) {
            if (name == QLatin1String(effect.name))
                found = &effect;
        }
        if (!found)
            return usageError(QStringLiteral("unknown effect ") + name);
        chosen.push_back(found);
    }
    if (chosen.empty()) {
        for (const Effect &effect : Effects)
            chosen.push_back(&effect);
    }

    for (const Effect *effect : chosen) {
        if (!render(*effect, options))
            return 1;
    }
    return 0;
}
