// The real glintor-service as a user runs it: the display check, the command line, and the
// signals, each run on a private X server with settings of its own.

#include "serviceprocess.h"
#include "testmain.h"
#include "xserver.h"

#include "glintorsettings.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QLibraryInfo>
#include <QSettings>
#include <QtTest>

#include <csignal>
#include <memory>

namespace {

const QByteArray NoDisplayLine = "No graphical display found (DISPLAY or WAYLAND_DISPLAY unset). Exiting.\n";
const QByteArray UsageLines = "Usage:\n"
                              "  ./glintor-service          # Normal mode\n"
                              "  ./glintor-service --debug  # Debug mode\n"
                              "  ./glintor-service --help   # Show help\n";

QString settingsLine(int animationEffect)
{
    return QStringLiteral("Settings loaded - maxRadius: 100 animationSpeed: 2 sizeMultiplier: 1.5 animationEffect: %1")
        .arg(animationEffect);
}

void writeSettings(const QVariantMap &values)
{
    QSettings settings(GlintorSettings::Organization, GlintorSettings::Application);
    settings.clear();
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        settings.setValue(it.key(), it.value());
    settings.sync();
}

int indexOfLine(const QStringList &lines, const QString &text, int from = 0)
{
    for (int i = from; i < lines.size(); ++i) {
        if (lines.at(i).contains(text))
            return i;
    }
    return -1;
}

} // namespace

class TestServiceProcess : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void noDisplay_data();
    void noDisplay();
    void waylandWithoutQtPlugin();
    void help_data();
    void help();
    void startsAndStops_data();
    void startsAndStops();
    void reloadOnSigusr1_data();
    void reloadOnSigusr1();
    void stopDuringAnimation_data();
    void stopDuringAnimation();

private:
    // Presses the hotkey until the service reacts; its grab is made on a thread of its own,
    // shortly after start-up.
    bool triggerHotkey(ProgramRun &service);

    std::unique_ptr<XServer> server;
};

void TestServiceProcess::initTestCase()
{
    QVERIFY(!qEnvironmentVariableIsEmpty("XDG_CONFIG_HOME"));
    server = std::make_unique<XServer>();
    QVERIFY(server->isRunning());
}

void TestServiceProcess::cleanupTestCase()
{
    server.reset();
}

void TestServiceProcess::init()
{
    writeSettings({});
}

bool TestServiceProcess::triggerHotkey(ProgramRun &service)
{
    QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired()) {
        if (!server->xdotool({ QStringLiteral("key"), QStringLiteral("ctrl+alt+m") }))
            return false;
        if (!service.waitForLine(QStringLiteral("Animation started at position:"), 300).isEmpty())
            return true;
    }
    return false;
}

void TestServiceProcess::noDisplay_data()
{
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("no arguments") << QStringList();
    QTest::newRow("--debug") << QStringList { "--debug" };
    QTest::newRow("--help: the display check comes first") << QStringList { "--help" };
}

void TestServiceProcess::noDisplay()
{
    QFETCH(QStringList, arguments);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    ProgramRun service(builtProgram(QStringLiteral("glintor-service")), arguments, environment);
    QProcess &process = service.process();
    QVERIFY(process.waitForFinished(10000));

    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 1);
    const QByteArray error = process.readAllStandardError();
    QCOMPARE(error, NoDisplayLine);
    QCOMPARE(error.size(), 72);
    QCOMPARE(process.readAllStandardOutput(), QByteArray());
}

void TestServiceProcess::waylandWithoutQtPlugin()
{
    if (!QDir(QLibraryInfo::location(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms"))
             .entryList({ QStringLiteral("libqwayland*.so") }, QDir::Files)
             .isEmpty())
        QSKIP("Qt's Wayland platform plugin is installed here");

    // Only a Wayland display and no way for Qt to reach it: a message and the "no display"
    // status, not Qt's abort.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    environment.remove(QStringLiteral("QT_PLUGIN_PATH"));
    environment.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-test"));
    ProgramRun service(builtProgram(QStringLiteral("glintor-service")), { QStringLiteral("--debug") }, environment);
    QProcess &process = service.process();
    QVERIFY(process.waitForFinished(10000));

    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 1);
    QCOMPARE(process.readAllStandardError(),
             QByteArray("No X11 display (DISPLAY unset) and no Qt Wayland platform plugin (qtwayland5). Exiting.\n"));
    QCOMPARE(process.readAllStandardOutput(), QByteArray());
}

void TestServiceProcess::help_data()
{
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("--help") << QStringList { "--help" };
    QTest::newRow("--debug --help") << QStringList { "--debug", "--help" };
    QTest::newRow("--help --debug") << QStringList { "--help", "--debug" };
    QTest::newRow("foo --help") << QStringList { "foo", "--help" };
    QTest::newRow("--help --help") << QStringList { "--help", "--help" };
}

void TestServiceProcess::help()
{
    QFETCH(QStringList, arguments);

    ProgramRun service(builtProgram(QStringLiteral("glintor-service")), arguments, server->environment());
    QCOMPARE(service.waitForExit(10000), 0);
    QCOMPARE(service.standardOutput(), UsageLines);
    // Nothing was started: no overlay read its settings, no debug start-up line.
    QCOMPARE(service.linesContaining(QStringLiteral("Settings loaded")), QStringList());
    QCOMPARE(service.linesContaining(QStringLiteral("debug mode")), QStringList());
}

void TestServiceProcess::startsAndStops_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("waylandOnly");
    QTest::addColumn<bool>("debugLines");

    QTest::newRow("no arguments") << QStringList() << false << false;
    QTest::newRow("--debug") << QStringList { "--debug" } << false << true;
    QTest::newRow("unknown argument is ignored") << QStringList { "--verbose" } << false << false;
    QTest::newRow("misspelt help is ignored") << QStringList { "-help", "--Help", "help" } << false << false;
    QTest::newRow("unknown argument before --debug") << QStringList { "foo", "--debug" } << false << true;
    QTest::newRow("only WAYLAND_DISPLAY set") << QStringList { "--debug" } << true << true;
}

void TestServiceProcess::startsAndStops()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, waylandOnly);
    QFETCH(bool, debugLines);

    QProcessEnvironment environment = server->environment();
    if (waylandOnly) {
        // No X display: Qt paints offscreen and the hotkey thread finds no server.
        environment.remove(QStringLiteral("DISPLAY"));
        environment.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-glintor-test"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    }
    ProgramRun service(builtProgram(QStringLiteral("glintor-service")), arguments, environment);
    QCOMPARE(service.waitForLine(QStringLiteral("Settings loaded"), 15000), settingsLine(0));
    if (debugLines)
        QVERIFY(!service.waitForLine(QStringLiteral("Glintor服务已启动"), 5000).isEmpty());

    QVERIFY(service.sendSignal(SIGTERM));
    QCOMPARE(service.waitForExit(10000), 0);
    QCOMPARE(service.standardOutput(), QByteArray());
    const QStringList lines = service.lines();
    QCOMPARE(indexOfLine(lines, QStringLiteral("Running service in debug mode")) >= 0, debugLines);
    QCOMPARE(indexOfLine(lines, QStringLiteral("Interrupt signal ( 15 ) received.")) >= 0, debugLines);
    QCOMPARE(indexOfLine(lines, QStringLiteral("Usage:")), -1);
}

void TestServiceProcess::reloadOnSigusr1_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("debugLines");

    QTest::newRow("debug mode") << QStringList { "--debug" } << true;
    QTest::newRow("normal mode") << QStringList() << false;
}

void TestServiceProcess::reloadOnSigusr1()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, debugLines);

    writeSettings({ { GlintorSettings::Key::AnimationEffect, 2 } });
    ProgramRun service(builtProgram(QStringLiteral("glintor-service")), arguments, server->environment());
    QCOMPARE(service.waitForLine(QStringLiteral("Settings loaded"), 15000), settingsLine(2));
    // The handler is installed before the overlay reads its settings.

    for (const int effect : { 3, 0 }) {
        writeSettings({ { GlintorSettings::Key::AnimationEffect, effect } });
        const int linesBefore = service.lines().size();
        QVERIFY(service.sendSignal(SIGUSR1));

        QTRY_VERIFY_WITH_TIMEOUT(indexOfLine(service.lines(), QStringLiteral("Settings loaded"), linesBefore) >= 0,
                                 10000);
        const QStringList lines = service.lines();
        const int reloaded = indexOfLine(lines, QStringLiteral("Settings loaded"), linesBefore);
        QCOMPARE(lines.at(reloaded), settingsLine(effect));

        const int received = indexOfLine(lines, QStringLiteral("Interrupt signal ( 10 ) received."), linesBefore);
        const int announced
            = indexOfLine(lines, QStringLiteral("Reloaded settings due to SIGUSR1 signal"), linesBefore);
        if (debugLines) {
            QVERIFY(received >= 0);
            QVERIFY(announced > received);
            QCOMPARE(lines.at(received), QStringLiteral("Interrupt signal ( 10 ) received."));
            QCOMPARE(lines.at(announced), QStringLiteral("Reloaded settings due to SIGUSR1 signal"));
        } else {
            QCOMPARE(received, -1);
            QCOMPARE(announced, -1);
        }
    }
    QCOMPARE(service.process().state(), QProcess::Running);
    QVERIFY(service.sendSignal(SIGTERM));
    QCOMPARE(service.waitForExit(10000), 0);
}

void TestServiceProcess::stopDuringAnimation_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("SIGTERM, debug mode") << int(SIGTERM) << QStringList { "--debug" };
    QTest::newRow("SIGINT, debug mode") << int(SIGINT) << QStringList { "--debug" };
    QTest::newRow("SIGTERM, normal mode") << int(SIGTERM) << QStringList();
}

void TestServiceProcess::stopDuringAnimation()
{
    QFETCH(int, signalNumber);
    QFETCH(QStringList, arguments);

    // Fireworks last about 1.6 s: long enough to be stopped midway.
    writeSettings({ { GlintorSettings::Key::AnimationEffect, 2 } });
    ProgramRun service(builtProgram(QStringLiteral("glintor-service")), arguments, server->environment());
    QVERIFY(!service.waitForLine(QStringLiteral("Settings loaded"), 15000).isEmpty());
    QVERIFY(triggerHotkey(service));

    QVERIFY(service.sendSignal(signalNumber));
    QCOMPARE(service.waitForExit(10000), 0);
    const QStringList lines = service.lines();
    const QString received = QStringLiteral("Interrupt signal ( %1 ) received.").arg(signalNumber);
    QCOMPARE(indexOfLine(lines, received) >= 0, arguments.contains(QStringLiteral("--debug")));
    QCOMPARE(indexOfLine(lines, QStringLiteral("Lost the connection")), -1);
}

int main(int argc, char *argv[])
{
    return runIsolatedTest<QCoreApplication, TestServiceProcess>(argc, argv);
}

#include "tst_serviceprocess.moc"
