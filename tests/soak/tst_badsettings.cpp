// Both programs against a settings store that is not what they expect: text where numbers belong,
// negatives, the int extremes, empty values, binary garbage, a thousand unknown keys, a folder
// where the file belongs, a file nobody may read. Both start, use what Qt's conversions give (the
// defaults where a key cannot be read; the service pulls shake numbers into the settings window's
// ranges, takes the default for a shake value that is no number, and says so), never crash, and
// never write the store they only read.

#include "fakesystemctl.h"
#include "glintor-gui.h"
#include "serviceprocess.h"
#include "soaksupport.h"
#include "testmain.h"
#include "xserver.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QRandomGenerator>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <csignal>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

enum class Store { File, Folder, Unreadable };

// The values the readers get: QVariant::toInt and toBool of the stored text, or the default.
struct Reading {
    int colorMode = 1;
    int animationEffect = 0;
    bool enableAnimation = true;
    bool enableShake = true;
    int shakeDistance = 80;
    int shakeWindowMs = 700;
    int shakeAlternations = 3;
    // Shake keys whose text is no number: the service uses their defaults instead of the 0 above.
    QStringList notNumbers;
};

// What the settings window shows for a reading: a combo box has no selection for an index outside
// its list, a spin box pulls a value into its range.
struct Shown {
    int colorIndex;
    int effectIndex;
    bool enableAnimation;
    bool enableShake;
    int shakeDistance;
    int shakeWindowMs;
    int shakeAlternations;

    bool operator==(const Shown &other) const
    {
        return colorIndex == other.colorIndex && effectIndex == other.effectIndex
            && enableAnimation == other.enableAnimation && enableShake == other.enableShake
            && shakeDistance == other.shakeDistance && shakeWindowMs == other.shakeWindowMs
            && shakeAlternations == other.shakeAlternations;
    }
};

Shown shownFor(const Reading &r)
{
    const auto index = [](int value, int count) { return value >= 0 && value < count ? value : -1; };
    return { index(r.colorMode, 3), index(r.animationEffect, 4), r.enableAnimation, r.enableShake,
        qBound(10, r.shakeDistance, 1000), qBound(100, r.shakeWindowMs, 5000), qBound(1, r.shakeAlternations, 10) };
}

template <typename T> T *child(QObject *window, const char *name)
{
    T *widget = window->findChild<T *>(QLatin1String(name));
    if (!widget)
        qFatal("no child %s", name);
    return widget;
}

Shown shownBy(QObject *window)
{
    return { child<QComboBox>(window, "colorModeCombo")->currentIndex(),
        child<QComboBox>(window, "animationEffectCombo")->currentIndex(),
        child<QCheckBox>(window, "enableAnimationCheck")->isChecked(),
        child<QCheckBox>(window, "enableShakeCheck")->isChecked(),
        child<QSpinBox>(window, "shakeDistanceSpin")->value(), child<QSpinBox>(window, "shakeWindowMsSpin")->value(),
        child<QSpinBox>(window, "shakeAlternationsSpin")->value() };
}

QString describe(const Shown &s)
{
    return QStringLiteral("colour %1, effect %2, animation %3, shake %4, %5 px, %6 ms, %7 changes")
        .arg(s.colorIndex)
        .arg(s.effectIndex)
        .arg(s.enableAnimation)
        .arg(s.enableShake)
        .arg(s.shakeDistance)
        .arg(s.shakeWindowMs)
        .arg(s.shakeAlternations);
}

// The service pulls a shake value outside the settings window's range into it and takes the
// default for one that is no number, with one warning each; written here as
// "<key> outside, using <value>" and "<key> not a number, using <value>".
QStringList expectedWarnings(const Reading &r)
{
    QStringList warnings;
    const auto check = [&](const char *key, int value, int minimum, int maximum, int fallback) {
        if (r.notNumbers.contains(QLatin1String(key)))
            warnings << QStringLiteral("%1 not a number, using %2").arg(QLatin1String(key)).arg(fallback);
        else if (value < minimum || value > maximum)
            warnings
                << QStringLiteral("%1 outside, using %2").arg(QLatin1String(key)).arg(qBound(minimum, value, maximum));
    };
    check("shakeDistance", r.shakeDistance, 10, 1000, 80);
    check("shakeWindowMs", r.shakeWindowMs, 100, 5000, 700);
    check("shakeAlternations", r.shakeAlternations, 1, 10, 3);
    return warnings;
}

// The unhealthy lines with each shake warning written as expectedWarnings does; others stay as they are.
QStringList asShakeWarnings(const QStringList &lines)
{
    static const QRegularExpression warning(
        QStringLiteral("^warning\\|Setting (\\w+)=.* is (outside|not a number)(?: \\d+\\.\\.\\d+)?; using (\\d+)$"));
    QStringList result;
    for (const QString &line : lines) {
        const QRegularExpressionMatch match = warning.match(line);
        result << (match.hasMatch()
                ? QStringLiteral("%1 %2, using %3").arg(match.captured(1), match.captured(2), match.captured(3))
                : line);
    }
    return result;
}

QByteArray general(const QByteArray &lines)
{
    return "[General]\n" + lines;
}

QByteArray garbage(int size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, '\0');
    for (char &byte : bytes)
        byte = char(random.bounded(256));
    return bytes;
}

QByteArray unknownKeys(int count)
{
    QByteArray lines;
    for (int i = 0; i < count; ++i)
        lines += "unknownKey" + QByteArray::number(i) + "=value " + QByteArray::number(i * 7919) + '\n';
    return lines;
}

const QString StartedLine = QStringLiteral("Animation started at position:");
const QString HotkeyLine = QStringLiteral("Hotkey Ctrl+Alt+M pressed at position:");
const QString LoadedLine = QStringLiteral("Settings loaded - maxRadius:");

} // namespace

Q_DECLARE_METATYPE(Store)
Q_DECLARE_METATYPE(Reading)

class TestBadSettings : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void serviceRunsOnWhatItReads_data() { addRows(); }
    void serviceRunsOnWhatItReads();
    void settingsWindowShowsWhatItReads_data() { addRows(); }
    void settingsWindowShowsWhatItReads();
    void settingsProgramStarts_data() { addRows(); }
    void settingsProgramStarts();

private:
    static void addRows();
    // Lays out the store for the current row; false with a reason to skip it.
    bool prepareStore(QString *skipReason);
    QString configHome() const { return QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME")); }
    QString storePath() const { return configHome() + QStringLiteral("/Glintor/Settings.conf"); }
    bool pressUntil(ProgramRun &run, const QString &line, int count);

    std::unique_ptr<XServer> xserver;
    FakeSystemctl systemctl;
    QTemporaryDir runtimeDir;
    int rowNumber = 0;
};

void TestBadSettings::addRows()
{
    QTest::addColumn<Store>("store");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<Reading>("reading");

    Reading r;
    r.colorMode = 0;
    r.animationEffect = 0;
    r.shakeDistance = 0;
    r.shakeWindowMs = 0;
    r.shakeAlternations = 0;
    r.notNumbers = QStringList { "shakeDistance", "shakeWindowMs", "shakeAlternations" };
    QTest::newRow("words where numbers belong")
        << Store::File
        << general("colorMode=red\nanimationEffect=stars\nenableAnimation=yes\nenableShake=no\n"
                   "shakeDistance=far\nshakeWindowMs=1s\nshakeAlternations=three\n")
        << r;

    r = Reading();
    r.colorMode = -1;
    r.animationEffect = -3;
    r.shakeDistance = -80;
    r.shakeWindowMs = -700;
    r.shakeAlternations = -3;
    QTest::newRow("negatives")
        << Store::File
        << general("colorMode=-1\nanimationEffect=-3\nshakeDistance=-80\nshakeWindowMs=-700\nshakeAlternations=-3\n")
        << r;

    r = Reading();
    r.colorMode = 2147483647;
    r.animationEffect = -2147483647 - 1;
    r.shakeDistance = 2147483647;
    r.shakeWindowMs = -2147483647 - 1;
    r.shakeAlternations = 2147483647;
    QTest::newRow("2^31-1 and -2^31")
        << Store::File
        << general("colorMode=2147483647\nanimationEffect=-2147483648\nshakeDistance=2147483647\n"
                   "shakeWindowMs=-2147483648\nshakeAlternations=2147483647\n")
        << r;

    // Qt converts text to int through a 64-bit number and keeps its low 32 bits; text that is not
    // a decimal number at all reads as 0.
    r = Reading();
    r.colorMode = 1215752191; // 99999999999 - 23 * 2^32
    r.animationEffect = -1215752191;
    r.shakeDistance = 0;
    r.shakeWindowMs = 0;
    r.notNumbers = QStringList { "shakeDistance", "shakeWindowMs" };
    QTest::newRow("numbers beyond int")
        << Store::File
        << general(
               "colorMode=99999999999\nanimationEffect=-99999999999\nshakeDistance=1e400\nshakeWindowMs=0x7fffffff\n")
        << r;

    r = Reading();
    r.colorMode = 0;
    r.animationEffect = 0;
    r.enableAnimation = false;
    r.enableShake = false;
    r.shakeDistance = 0;
    r.shakeWindowMs = 0;
    r.shakeAlternations = 0;
    r.notNumbers = QStringList { "shakeDistance", "shakeWindowMs", "shakeAlternations" };
    QTest::newRow("empty values")
        << Store::File
        << general("colorMode=\nanimationEffect=\nenableAnimation=\nenableShake=\nshakeDistance=\nshakeWindowMs=\n"
                   "shakeAlternations=\n")
        << r;

    QTest::newRow("binary garbage") << Store::File << garbage(8192, 7) << Reading();
    QTest::newRow("binary garbage after a section header") << Store::File << general(garbage(8192, 11)) << Reading();

    r = Reading();
    r.colorMode = 0;
    r.animationEffect = 3;
    QTest::newRow("a thousand unknown keys")
        << Store::File << general(unknownKeys(500) + "colorMode=0\n" + unknownKeys(500) + "animationEffect=3\n") << r;

    QTest::newRow("a folder where the file belongs") << Store::Folder << QByteArray() << Reading();
    QTest::newRow("a file nobody may read")
        << Store::Unreadable << general("colorMode=0\nanimationEffect=2\nenableAnimation=false\n") << Reading();
}

void TestBadSettings::initTestCase()
{
    QVERIFY(!qEnvironmentVariableIsEmpty("XDG_CONFIG_HOME"));
    QVERIFY(systemctl.isValid());
    QVERIFY(runtimeDir.isValid());
    systemctl.installOnPath();
    xserver = std::make_unique<XServer>();
    QVERIFY(xserver->isRunning());
}

void TestBadSettings::cleanup()
{
    const QString folder = configHome() + QStringLiteral("/Glintor");
    ::chmod(QFile::encodeName(storePath()).constData(), 0600);
    QDir(folder).removeRecursively();
}

bool TestBadSettings::prepareStore(QString *skipReason)
{
    QFETCH(Store, store);
    QFETCH(QByteArray, content);

    if (store == Store::Unreadable && ::geteuid() == 0) {
        *skipReason = QStringLiteral("root reads a file whatever its mode");
        return false;
    }
    QDir().mkpath(configHome() + QStringLiteral("/Glintor"));
    if (store == Store::Folder)
        return QDir().mkpath(storePath());

    QFile file(storePath());
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return false;
    file.close();
    // Qt re-reads a settings file whose size or time changed; a time of its own for every row
    // keeps this process from taking one row's file for the last one's.
    const timespec times[2] = { { 1500000000 + ++rowNumber * 1000, 0 }, { 1500000000 + rowNumber * 1000, 0 } };
    if (::utimensat(AT_FDCWD, QFile::encodeName(storePath()).constData(), times, 0) != 0)
        return false;
    if (store == Store::Unreadable)
        return ::chmod(QFile::encodeName(storePath()).constData(), 0) == 0;
    return true;
}

bool TestBadSettings::pressUntil(ProgramRun &run, const QString &line, int count)
{
    QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired()) {
        if (!xserver->xdotool({ QStringLiteral("key"), QStringLiteral("ctrl+alt+m") }))
            return false;
        QDeadlineTimer wait(500);
        while (!wait.hasExpired()) {
            if (run.linesContaining(line).size() >= count)
                return true;
            run.process().waitForReadyRead(50);
        }
    }
    return false;
}

void TestBadSettings::serviceRunsOnWhatItReads()
{
    QFETCH(Reading, reading);
    QString skipReason;
    if (!prepareStore(&skipReason)) {
        QVERIFY2(!skipReason.isEmpty(), "cannot lay out the settings store");
        QSKIP(qPrintable(skipReason));
    }
    const auto before = Soak::fingerprint(configHome());

    QProcessEnvironment env = xserver->environment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir.path());
    env.insert(QStringLiteral("QT_MESSAGE_PATTERN"), QString::fromLatin1(Soak::MessagePattern));
    ProgramRun run(builtProgram(QStringLiteral("glintor-service")), { QStringLiteral("--debug") }, env);
    run.process().setReadChannel(QProcess::StandardError);
    const QString loaded = run.waitForLine(LoadedLine, 15000);
    QVERIFY2(loaded.endsWith(QStringLiteral("animationEffect: %1").arg(reading.animationEffect)), qPrintable(loaded));

    // A press reaches the service (the debug line) and starts an animation only if the flag reads true.
    QVERIFY(pressUntil(run, HotkeyLine, 1));
    if (reading.enableAnimation) {
        QVERIFY(!run.waitForLine(StartedLine, 10000).isEmpty());
    } else {
        // A second press and a reload queue behind the first press: once the reload is logged,
        // the first press has been handled.
        QVERIFY(pressUntil(run, HotkeyLine, 2));
        QVERIFY(run.sendSignal(SIGUSR1));
        QTRY_COMPARE_WITH_TIMEOUT(run.linesContaining(LoadedLine).size(), 2, 10000);
        QCOMPARE(run.linesContaining(StartedLine), QStringList());
    }
    QVERIFY(run.sendSignal(SIGUSR1));
    QTRY_VERIFY_WITH_TIMEOUT(run.linesContaining(LoadedLine).size() >= 2, 10000);
    QVERIFY(run.linesContaining(LoadedLine)
                .constLast()
                .endsWith(QStringLiteral("animationEffect: %1").arg(reading.animationEffect)));

    QVERIFY(run.sendSignal(SIGTERM));
    QCOMPARE(run.waitForExit(10000), 0);
    QCOMPARE(asShakeWarnings(Soak::unhealthyLines(run.lines())), expectedWarnings(reading));
    QVERIFY2(Soak::fingerprint(configHome()) == before, "the service changed the settings folder");
}

void TestBadSettings::settingsWindowShowsWhatItReads()
{
    QFETCH(Reading, reading);
    QString skipReason;
    if (!prepareStore(&skipReason)) {
        QVERIFY2(!skipReason.isEmpty(), "cannot lay out the settings store");
        QSKIP(qPrintable(skipReason));
    }
    const auto before = Soak::fingerprint(configHome());
    {
        GlintorGUI window;
        QTimer *statusTimer = window.findChild<QTimer *>(QStringLiteral("statusTimer"));
        QVERIFY(statusTimer);
        statusTimer->stop();
        const Shown shown = shownBy(&window);
        const Shown expected = shownFor(reading);
        QVERIFY2(shown == expected, qPrintable(describe(shown) + QStringLiteral(" instead of ") + describe(expected)));
        QCoreApplication::processEvents();
    }
    QCoreApplication::processEvents();
    QVERIFY2(Soak::fingerprint(configHome()) == before, "the settings window changed the settings folder");
}

void TestBadSettings::settingsProgramStarts()
{
    QString skipReason;
    if (!prepareStore(&skipReason)) {
        QVERIFY2(!skipReason.isEmpty(), "cannot lay out the settings store");
        QSKIP(qPrintable(skipReason));
    }
    const auto before = Soak::fingerprint(configHome());
    systemctl.clearCalls();

    QProcessEnvironment env = systemctl.environment(QProcessEnvironment::systemEnvironment());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    ProgramRun run(builtProgram(QStringLiteral("glintor-gui")), {}, env);
    // The window asks for the status once it has loaded the settings; it must then keep running.
    QTRY_VERIFY_WITH_TIMEOUT(!systemctl.callsOf(QStringLiteral("is-active")).isEmpty(), 15000);
    QCOMPARE(run.process().state(), QProcess::Running);
    QVERIFY(run.sendSignal(SIGTERM));
    QVERIFY(run.process().waitForFinished(10000));
    QCOMPARE(run.process().exitStatus(), QProcess::CrashExit); // ended by the signal, not by itself
    QCOMPARE(run.process().error(), QProcess::Crashed);
    QVERIFY2(Soak::fingerprint(configHome()) == before, "glintor-gui changed the settings folder");
}

int main(int argc, char *argv[])
{
    return runIsolatedTest<QApplication, TestBadSettings>(argc, argv);
}

#include "tst_badsettings.moc"
