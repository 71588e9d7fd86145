// The real glintor-service as a user runs it: the display check, the command line, and the
// signals, each run on a private X server with settings of its own.

#include "serviceprocess.h"
#include "testmain.h"
#include "xserver.h"

#include "displaycheck.h"
#include "glintorsettings.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <csignal>
#include <memory>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray NoDisplayLine = "No graphical display found (DISPLAY or WAYLAND_DISPLAY unset). Exiting.\n";

// A display number no X server answers on.
QString deadDisplay()
{
    int number = 4242;
    while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)))
        ++number;
    return QStringLiteral(":%1").arg(number);
}

// Whether the process has begun to handle sig itself: the signal is blocked or caught.
bool handlesSignal(qint64 pid, int sig)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    quint64 mask = 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("SigBlk:") || line.startsWith("SigCgt:"))
            mask |= line.mid(7).trimmed().toULongLong(nullptr, 16);
    }
    return mask & (quint64(1) << (sig - 1));
}

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
    void earlySignals_data();
    void earlySignals();
    void signalsWhileXServerHangs_data();
    void signalsWhileXServerHangs();
    void logReaderGone();
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
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("display"); // a null string: DISPLAY unset
    QTest::addColumn<QByteArray>("named"); // what the one line must name

    const QString service = QStringLiteral("glintor-service");
    const QString gui = QStringLiteral("glintor-gui");
    const QString dead = deadDisplay();
    const QByteArray deadNamed = '"' + dead.toLatin1() + '"';
    QTest::newRow("service, no display") << service << QStringList() << QString() << NoDisplayLine;
    QTest::newRow("service --debug, no display") << service << QStringList { "--debug" } << QString() << NoDisplayLine;
    QTest::newRow("service, nobody answers") << service << QStringList() << dead << deadNamed;
    QTest::newRow("service --debug, empty DISPLAY") << service << QStringList { "--debug" } << QString("") << QByteArray("\"\"");
    QTest::newRow("settings window, no display") << gui << QStringList() << QString() << NoDisplayLine;
    QTest::newRow("settings window, nobody answers") << gui << QStringList() << dead << deadNamed;
    QTest::newRow("settings window, empty DISPLAY") << gui << QStringList() << QString("") << QByteArray("\"\"");
}

void TestServiceProcess::noDisplay()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(QString, display);
    QFETCH(QByteArray, named);

    // One line and status 1, not Qt's abort with a core dump (a restart loop under systemd).
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    if (!display.isNull())
        environment.insert(QStringLiteral("DISPLAY"), display);
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    ProgramRun run(builtProgram(program), arguments, environment);
    QProcess &process = run.process();
    QVERIFY(process.waitForFinished(10000));

    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 1);
    const QByteArray error = process.readAllStandardError();
    QCOMPARE(error.count('\n'), 1);
    QVERIFY(error.endsWith('\n'));
    QVERIFY2(error.contains(named), error.constData());
    QCOMPARE(process.readAllStandardOutput(), QByteArray());
}

void TestServiceProcess::waylandWithoutQtPlugin()
{
    const bool pluginInstalled
        = !QDir(DisplayCheck::qtPluginsFolder() + QStringLiteral("/platforms"))
               .entryList({ QStringLiteral("libqwayland*.so") }, QDir::Files)
               .isEmpty();

    // Only a Wayland display and no way for Qt to reach it (no plugin, or no compositor behind the
    // name): a message and the "no display" status, not Qt's abort.
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
        pluginInstalled ? QByteArray("Cannot connect to the Wayland display \"wayland-test\" named by WAYLAND_DISPLAY: no "
                                     "compositor answers there. Exiting.\n")
                        : QByteArray("No X11 display (DISPLAY unset) and no Qt Wayland platform plugin (qtwayland5). "
                                     "Exiting.\n"));
    QCOMPARE(process.readAllStandardOutput(), QByteArray());
}

void TestServiceProcess::help_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("display");

    QTest::newRow("--help, no display (ssh, a console)") << QStringList { "--help" } << false;
    QTest::newRow("--debug --help, no display") << QStringList { "--debug", "--help" } << false;
    QTest::newRow("--help --debug") << QStringList { "--help", "--debug" } << true;
    QTest::newRow("foo --help") << QStringList { "foo", "--help" } << true;
    QTest::newRow("--help --help") << QStringList { "--help", "--help" } << true;
}

void TestServiceProcess::help()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, display);

    QProcessEnvironment environment = server->environment();
    if (!display)
        environment.remove(QStringLiteral("DISPLAY"));
    ProgramRun service(builtProgram(QStringLiteral("glintor-service")), arguments, environment);
    QCOMPARE(service.waitForExit(10000), 0);
    const QString usage = QString::fromLocal8Bit(service.standardOutput());
    QVERIFY2(usage.startsWith(QStringLiteral("Usage: glintor-service [--debug] [--help]\n")), qPrintable(usage));
    // The settings file this service would read, the signals and where the log goes.
    QVERIFY2(usage.contains(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Glintor/Settings.conf")),
             qPrintable(usage));
    QVERIFY(usage.contains(QStringLiteral("SIGUSR1")) && usage.contains(QStringLiteral("journalctl")));
    // Nothing was started: no overlay read its settings, no debug start-up line.
    QCOMPARE(service.lines(), QStringList());
}

void TestServiceProcess::earlySignals_data()
{
    QTest::addColumn<int>("signalNumber");

    QTest::newRow("SIGUSR1") << int(SIGUSR1);
    QTest::newRow("SIGTERM") << int(SIGTERM);
}

void TestServiceProcess::earlySignals()
{
    QFETCH(int, signalNumber);

    // Sent the moment the service begins to take the signal, long before its handler and event loop
    // are ready: it must be neither fatal nor lost.
    for (int start = 0; start < 15; ++start) {
        ProgramRun service(builtProgram(QStringLiteral("glintor-service")), {}, server->environment());
        QDeadlineTimer deadline(10000);
        while (!handlesSignal(service.pid(), signalNumber) && !deadline.hasExpired())
            QThread::yieldCurrentThread();
        QVERIFY(service.sendSignal(signalNumber));
        if (signalNumber == SIGUSR1) {
            // Read once as the overlay is built, and once more for the signal.
            QTRY_COMPARE_WITH_TIMEOUT(service.linesContaining(QStringLiteral("Settings loaded")).size(), 2, 10000);
            QVERIFY(service.sendSignal(SIGTERM));
        }
        QCOMPARE(service.waitForExit(10000), 0);
    }
}

void TestServiceProcess::signalsWhileXServerHangs_data()
{
    QTest::addColumn<QList<int>>("signalNumbers"); // sent one after another

    QTest::newRow("SIGTERM") << QList<int> { SIGTERM };
    QTest::newRow("SIGINT") << QList<int> { SIGINT };
    QTest::newRow("SIGUSR1, then SIGTERM") << QList<int> { SIGUSR1, SIGTERM };
}

void TestServiceProcess::signalsWhileXServerHangs()
{
    QFETCH(QList<int>, signalNumbers);

    // An "X server" on loopback that takes the connection and never answers.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    QVERIFY(listener >= 0);
    auto closeListener = qScopeGuard([&] { ::close(listener); });
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int number = 4300;
    for (; number < 4400; ++number) {
        address.sin_port = htons(quint16(6000 + number));
        if (::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0)
            break;
    }
    QVERIFY(number < 4400 && ::listen(listener, 4) == 0);

    QProcessEnvironment environment = server->environment();
    environment.insert(QStringLiteral("DISPLAY"), QStringLiteral("127.0.0.1:%1").arg(number));
    ProgramRun service(builtProgram(QStringLiteral("glintor-service")), {}, environment);
    pollfd waiting { listener, POLLIN, 0 };
    QCOMPARE(::poll(&waiting, 1, 10000), 1);
    const int connection = ::accept(listener, nullptr, nullptr);
    auto closeConnection = qScopeGuard([&] { ::close(connection); });

    for (const int sig : signalNumbers) {
        QTest::qWait(200);
        QCOMPARE(service.process().state(), QProcess::Running);
        QVERIFY(service.sendSignal(sig));
    }
    QCOMPARE(service.waitForExit(5000), 0);
}

void TestServiceProcess::logReaderGone()
{
    // Standard error into a pipe whose reader goes away, as when a terminal or log reader closes.
    QTemporaryDir folder;
    const QByteArray fifo = QFile::encodeName(folder.filePath(QStringLiteral("log")));
    QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
    int reader = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    QVERIFY(reader >= 0);
    auto closeReader = qScopeGuard([&] { ::close(reader); });
    QProcess service;
    service.setProcessEnvironment(server->environment());
    service.setStandardErrorFile(QFile::decodeName(fifo));
    service.start(builtProgram(QStringLiteral("glintor-service")), { QStringLiteral("--debug") });
    QVERIFY(service.waitForStarted(5000));
    QByteArray read;
    QDeadlineTimer deadline(15000);
    while (!read.contains("Glintor") && !deadline.hasExpired()) {
        char buffer[256];
        const ssize_t n = ::read(reader, buffer, sizeof(buffer));
        if (n > 0)
            read.append(buffer, int(n));
        else
            QThread::msleep(20);
    }
    QVERIFY2(read.contains("Glintor"), read.constData());
    closeReader.dismiss();
    ::close(reader);

    // Each signal logs a line in debug mode: a write into the broken pipe.
    for (int i = 0; i < 3; ++i)
        ::kill(pid_t(service.processId()), SIGUSR1);
    QTest::qWait(500);
    QCOMPARE(service.state(), QProcess::Running);
    ::kill(pid_t(service.processId()), SIGTERM);
    QVERIFY(service.waitForFinished(10000));
    QCOMPARE(service.exitStatus(), QProcess::NormalExit);
    QCOMPARE(service.exitCode(), 0);
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
