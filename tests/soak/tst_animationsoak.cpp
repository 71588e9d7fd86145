// Ten thousand animations in one overlay, driven tick by tick and painted on the offscreen
// platform, with the effect, the colour and the settings changing under them: nothing is logged
// but the overlay's own lines, every animation ends, and the memory stays where it was after the
// first animations. The real X server gets its share in tst_servicesoak, through the hotkey.

#include "glintor.h"
#include "glintorsettings.h"
#include "soaksupport.h"
#include "testmain.h"

#include <QApplication>
#include <QRandomGenerator>
#include <QScreen>
#include <QSettings>
#include <QtTest>

namespace {

// Qt's warnings and worse, and the count of the overlay's own lines; the debug lines are not
// passed on, or the log would hold twenty thousand of them.
QStringList g_warnings;
int g_started = 0;
int g_finished = 0;
QtMessageHandler g_testLogHandler = nullptr;

void watchMessages(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg) {
        if (message.startsWith(QLatin1String("Animation started at position:")))
            ++g_started;
        else if (message == QLatin1String("Animation finished"))
            ++g_finished;
        return;
    }
    if (type == QtInfoMsg) {
        if (g_testLogHandler)
            g_testLogHandler(type, context, message);
        return;
    }
    // The offscreen platform cannot stack or shape windows and says so each time it is asked.
    if (message.startsWith(QLatin1String("This plugin does not support "))
        && QGuiApplication::platformName() == QLatin1String("offscreen"))
        return;
    g_warnings << message;
    if (g_testLogHandler)
        g_testLogHandler(type, context, message);
}

const int AnimationCount = Soak::rounds(10000);

void writeSettings(int colorMode, int animationEffect)
{
    QSettings settings(GlintorSettings::Organization, GlintorSettings::Application);
    settings.setValue(GlintorSettings::Key::ColorMode, colorMode);
    settings.setValue(GlintorSettings::Key::AnimationEffect, animationEffect);
}

} // namespace

class TestAnimationSoak : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void backToBack_data();
    void backToBack();

private:
    qint64 now = 1700000000000;
};

void TestAnimationSoak::initTestCase()
{
    QVERIFY(!qEnvironmentVariableIsEmpty("XDG_CONFIG_HOME"));
    g_testLogHandler = qInstallMessageHandler(watchMessages);
}

void TestAnimationSoak::backToBack_data()
{
    QTest::addColumn<int>("restartAfterTicks"); // 0: every animation runs to its end
    QTest::addColumn<int>("paintEvery"); // paint every n-th frame

    QTest::newRow("each animation runs to its end") << 0 << 10;
    QTest::newRow("each animation restarted after 7 ticks") << 7 << 3;
}

void TestAnimationSoak::backToBack()
{
    QFETCH(int, restartAfterTicks);
    QFETCH(int, paintEvery);

    writeSettings(1, 0);
    g_warnings.clear();
    g_started = 0;
    g_finished = 0;

    Glintor overlay;
    // A clock that jumps past the effect memory at every start makes every effect choice fresh.
    overlay.setClock([this] { return now; });
    QRandomGenerator random(20240611);
    overlay.setRandomSource([&random](int bound) { return int(random.bounded(bound)); });

    qint64 ticks = 0;
    const auto frame = [&] {
        overlay.updateAnimation();
        if (++ticks % paintEvery == 0)
            QCoreApplication::processEvents();
    };

    // Anywhere on the screen; the window is only the animation's square.
    const QSize screen = QGuiApplication::primaryScreen()->size();
    qint64 rssAfterFirst = 0;
    for (int i = 0; i < AnimationCount; ++i) {
        now += 10001;
        // The first three play one of each effect; later ones change colour and effect as the
        // settings file does, reloaded as SIGUSR1 would.
        if (i < 3) {
            writeSettings(i % 3, i + 1);
            overlay.loadSettings();
        } else if (i % 97 == 0) {
            writeSettings(int(random.bounded(4)), int(random.bounded(5)));
            overlay.loadSettings();
        }
        const QPoint pointer(int(random.bounded(screen.width())), int(random.bounded(screen.height())));
        overlay.startAnimation(pointer);
        QVERIFY(overlay.animating());

        if (restartAfterTicks > 0 && i + 1 < AnimationCount && i >= 3) {
            for (int t = 0; t < restartAfterTicks; ++t)
                frame();
            continue;
        }
        int guard = 0;
        while (overlay.animating() && ++guard < 1000)
            frame();
        QVERIFY2(!overlay.animating(), qPrintable(QStringLiteral("animation %1 never ended").arg(i)));
        QCoreApplication::processEvents();
        if (i == 2)
            rssAfterFirst = Soak::statusField(0, "VmRSS");
    }
    QCoreApplication::processEvents();
    const qint64 rssAfterAll = Soak::statusField(0, "VmRSS");

    QCOMPARE(g_warnings, QStringList());
    QCOMPARE(g_started, AnimationCount);
    const int expectedFinished = restartAfterTicks > 0 ? 4 : AnimationCount;
    QCOMPARE(g_finished, expectedFinished);
    QVERIFY(overlay.isHidden());
    QVERIFY(overlay.liveParticles().empty());

    qInfo("%lld frames; RSS after the first animations %lld kB, after %d: %lld kB", ticks, rssAfterFirst,
        AnimationCount, rssAfterAll);
    QVERIFY(rssAfterFirst > 0);
    SOAK_VERIFY_RSS_GROWTH(rssAfterFirst, rssAfterAll);
}

int main(int argc, char *argv[])
{
    return runIsolatedTest<QApplication, TestAnimationSoak>(argc, argv);
}

#include "tst_animationsoak.moc"
