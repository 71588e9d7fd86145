// Runs glintor-preview, the tool that draws the effects through the overlay's own painting code,
// and checks the pictures it writes: the right effect and colour where the animation should be,
// the right number of frames, the requested size, and the user's own settings left alone.

#include "installtools.h"

#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <set>
#include <vector>

namespace {

const QColor Background(0x80, 0x80, 0x80);

// The pixels the effect changed, against the flat background the test asks for.
struct Drawn {
    std::vector<QPoint> points;
    std::vector<QColor> colors;
};

Drawn drawnPixels(const QImage &image)
{
    Drawn drawn;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - Background.red()) > 8 || std::abs(c.green() - Background.green()) > 8
                || std::abs(c.blue() - Background.blue()) > 8) {
                drawn.points.push_back(QPoint(x, y));
                drawn.colors.push_back(c);
            }
        }
    }
    return drawn;
}

} // namespace

class TestPreview : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void effect_data();
    void effect();
    void frameCount_data();
    void frameCount();
    void size();
    void leavesUserSettingsAlone();
    void refusesUnknownEffect();

private:
    CommandResult preview(const QStringList &arguments);

    QTemporaryDir config;
    QProcessEnvironment environment;
};

void TestPreview::initTestCase()
{
    QVERIFY(config.isValid());
    environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    // The tool picks the offscreen platform by itself when none is named.
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    environment.remove(QStringLiteral("DISPLAY"));
}

CommandResult TestPreview::preview(const QStringList &arguments)
{
    return runCommand(QStringLiteral(GLINTOR_BIN_DIR "/glintor-preview"), arguments, 60000, environment);
}

void TestPreview::effect_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("colour"); // white, red, given hues or many hues
    QTest::addColumn<double>("nearest"); // band of distances from the centre that the drawing fills
    QTest::addColumn<double>("farthest");

    // At tick 10 the rings have radii 110, 89 and 68; the dots have flown about 23 px and the
    // stars, which are faster, about 34 px.
    QTest::newRow("ring white") << "ring-white" << "white" << 60.0 << 115.0;
    QTest::newRow("ring red") << "ring-red" << "red" << 0.0 << 115.0;
    // Rainbow hues are i * 60 + r * 1.2: 132, 166 and 201 for the three rings at tick 10.
    QTest::newRow("ring rainbow") << "ring-rainbow" << "hues 132 166 201" << 60.0 << 115.0;
    QTest::newRow("fireworks") << "fireworks" << "many hues" << 17.0 << 29.0;
    QTest::newRow("stars") << "stars" << "many hues" << 27.0 << 42.0;
}

void TestPreview::effect()
{
    QFETCH(QString, name);
    QFETCH(QString, colour);
    QFETCH(double, nearest);
    QFETCH(double, farthest);

    QTemporaryDir out;
    const CommandResult run = preview({ "--output", out.path(), "--ticks", "10", "--background", Background.name(), name });
    QVERIFY2(run.succeeded(), qPrintable(run.describe()));
    const QString path = out.filePath(name + ".png");
    QCOMPARE(QString::fromUtf8(run.out).trimmed(), path);

    const QImage image(path);
    QVERIFY(!image.isNull());
    QCOMPARE(image.width(), image.height());
    const QPointF centre((image.width() - 1) / 2.0, (image.height() - 1) / 2.0);

    const Drawn drawn = drawnPixels(image);
    QVERIFY2(drawn.points.size() > 100, qPrintable(QString::number(drawn.points.size())));
    double closest = 1e9;
    double farthestSeen = 0;
    for (const QPoint &point : drawn.points) {
        const double distance = std::hypot(point.x() - centre.x(), point.y() - centre.y());
        closest = std::min(closest, distance);
        farthestSeen = std::max(farthestSeen, distance);
    }
    QVERIFY2(closest >= nearest && farthestSeen <= farthest,
             qPrintable(QStringLiteral("drawn from %1 to %2 px").arg(closest).arg(farthestSeen)));

    int white = 0, red = 0;
    std::set<int> hues;
    for (const QColor &c : drawn.colors) {
        // Translucent strokes blend with the grey: white ones stay grey-white but get lighter.
        if (c.hsvSaturation() < 30 && c.value() > 170)
            ++white;
        if (c.red() > 180 && c.green() < 90 && c.blue() < 90)
            ++red;
        if (c.hsvSaturation() > 60 && c.hsvHue() >= 0)
            hues.insert(c.hsvHue());
    }
    const std::set<int> sectors = [&hues] {
        std::set<int> s;
        for (int hue : hues)
            s.insert(hue / 60);
        return s;
    }();
    if (colour == QLatin1String("white")) {
        QVERIFY2(white > 50, qPrintable(QString::number(white)));
        QVERIFY(hues.empty());
    } else if (colour == QLatin1String("red")) {
        QVERIFY2(red > 200, qPrintable(QString::number(red)));
        QCOMPARE(white, 0);
    } else if (colour == QLatin1String("many hues")) {
        QVERIFY2(sectors.size() >= 4, qPrintable(QString::number(sectors.size())));
    } else {
        for (const QString &expected : colour.mid(5).split(' ')) {
            const int hue = expected.toInt();
            const auto near = hues.lower_bound(hue - 6);
            QVERIFY2(near != hues.end() && *near <= hue + 6, qPrintable(QStringLiteral("no hue near %1").arg(hue)));
        }
        QVERIFY2(sectors.size() <= 2, qPrintable(QString::number(sectors.size())));
    }
}

void TestPreview::frameCount_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("frames");

    // The countdown of 150 px falls by 4 a tick; the particles end when they leave the circle.
    QTest::newRow("ring") << "ring-rainbow" << 38;
    QTest::newRow("fireworks") << "fireworks" << 98;
    QTest::newRow("stars") << "stars" << 54;
}

void TestPreview::frameCount()
{
    QFETCH(QString, name);
    QFETCH(int, frames);

    QTemporaryDir out;
    const CommandResult run = preview({ "--output", out.path(), "--all-frames", "--size", "40", name });
    QVERIFY2(run.succeeded(), qPrintable(run.describe()));
    const QStringList files = QDir(out.path()).entryList({ name + "-*.png" }, QDir::Files, QDir::Name);
    QCOMPARE(files.size(), frames);
    QCOMPARE(files.first(), name + "-000.png");
    QCOMPARE(files.last(), QStringLiteral("%1-%2.png").arg(name).arg(frames - 1, 3, 10, QLatin1Char('0')));
    QCOMPARE(QImage(out.filePath(files.first())).size(), QSize(40, 40));
}

void TestPreview::size()
{
    QTemporaryDir out;
    const CommandResult run = preview({ "-o", out.path(), "-s", "100", "-t", "2,10,20", "stars" });
    QVERIFY2(run.succeeded(), qPrintable(run.describe()));
    const QImage strip(out.filePath("stars.png"));
    QCOMPARE(strip.size(), QSize(3 * 100 + 2 * 4, 100));
}

// The tool draws what it is asked for, whatever the user's settings say, and never writes them.
void TestPreview::leavesUserSettingsAlone()
{
    const QByteArray userSettings = "[General]\nanimationEffect=3\ncolorMode=0\nenableAnimation=false\n";
    QVERIFY(QDir().mkpath(config.filePath("Glintor")));
    const QString file = config.filePath("Glintor/Settings.conf");
    {
        QFile settings(file);
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write(userSettings);
    }

    QTemporaryDir out;
    const CommandResult run = preview({ "--output", out.path(), "--background", Background.name(), "ring-red" });
    QVERIFY2(run.succeeded(), qPrintable(run.describe()));
    int red = 0;
    for (const QColor &c : drawnPixels(QImage(out.filePath("ring-red.png"))).colors)
        red += c.red() > 180 && c.green() < 90 && c.blue() < 90;
    QVERIFY(red > 200);

    QCOMPARE(readFile(file), userSettings);
    QCOMPARE(QDir(config.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name), QStringList { "Glintor" });
    QCOMPARE(QDir(config.filePath("Glintor")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList { "Settings.conf" });
}

void TestPreview::refusesUnknownEffect()
{
    QTemporaryDir out;
    const CommandResult run = preview({ "--output", out.path(), "sparkles" });
    QVERIFY(run.finished);
    QVERIFY(run.exitCode != 0);
    QVERIFY2(run.err.contains("unknown effect sparkles"), run.err.constData());
    QVERIFY(QDir(out.path()).isEmpty());
}

QTEST_GUILESS_MAIN(TestPreview)
#include "tst_preview.moc"
