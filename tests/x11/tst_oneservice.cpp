// One glintor-service per display: a newer service takes over, the older ones say so and exit 0,
// and the hotkey ends with the newest, whether the copies were started one after another, all at
// once, or by the settings window's fallback at every failed restart.

#include "fakesystemctl.h"
#include "glintor-gui.h"
#include "guitest.h"
#include "servicefixture.h"
#include "sessionbus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QPushButton>
#include <QScopeGuard>
#include <QThread>
#include <QtTest>

#include <csignal>
#include <memory>
#include <vector>

namespace {

const QString TakenOver = QStringLiteral("Another glintor-service took over this display. Exiting.");
const QString Pressed = QStringLiteral("Hotkey Ctrl+Alt+M pressed at position:");

// Services running from the real program on the given display, found by their executable and
// environment: the settings window's fallback starts them detached.
QList<qint64> servicesOn(const QString &display)
{
    const QString program = QFileInfo(builtProgram(QStringLiteral("glintor-service"))).canonicalFilePath();
    const QByteArray wanted = "DISPLAY=" + display.toLatin1();
    QList<qint64> pids;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number || QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget() != program)
            continue;
        QFile environ(QStringLiteral("/proc/%1/environ").arg(pid));
        if (environ.open(QIODevice::ReadOnly) && environ.readAll().split('\0').contains(wanted))
            pids << pid;
    }
    return pids;
}

} // namespace

class TestOneService final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void newestWins_data();
    void newestWins();
    void hungServiceReplaced();
    void fallbackOfTheSettingsWindowLeavesOne();

private:
    ServiceFixture fixture;
    SessionBus bus;
};

void TestOneService::initTestCase()
{
    QVERIFY(fixture.isReady() && bus.isRunning());
}

void TestOneService::newestWins_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("atOnce");
    QTest::addColumn<int>("rounds");

    // Started in the same instant, they race for the selection and the hotkey: whatever the order,
    // one must be left, holding the hotkey. Fewer rounds where the sanitizers slow every start.
    const int rounds = qEnvironmentVariableIsSet("GLINTOR_SANITIZED") ? 3 : 20;
    QTest::newRow("two, one after the other") << 2 << false << 1;
    QTest::newRow("three, one after the other") << 3 << false << 1;
    QTest::newRow("two at once") << 2 << true << rounds;
    QTest::newRow("three at once") << 3 << true << rounds;
    // As at a login that starts the unit and the autostart entry, and more.
    QTest::newRow("five at once") << 5 << true << rounds / 2;
}

void TestOneService::newestWins()
{
    QFETCH(int, count);
    QFETCH(bool, atOnce);
    QFETCH(int, rounds);

    const QDBusConnection watcher = QDBusConnection::connectToBus(bus.address(), QStringLiteral("watcher"));
    const QString name = QStringLiteral("org.glintor.Glintor.x11_") + fixture.x().display().mid(1);
    for (int round = 0; round < rounds; ++round) {
        std::vector<std::unique_ptr<ProgramRun>> runs;
        for (int i = 0; i < count; ++i) {
            runs.push_back(std::make_unique<ProgramRun>(builtProgram(QStringLiteral("glintor-service")),
                QStringList { QStringLiteral("--debug") }, bus.environment(fixture.environment())));
            if (atOnce) {
                // A few milliseconds apart, a different gap each round.
                QThread::msleep(unsigned(round % 8));
                continue;
            }
            // Each one holds the hotkey as soon as the one before it has gone.
            QVERIFY2(pressHotkeyUntil(fixture.x(), *runs.back(), Pressed), qPrintable(runs.back()->lines().join('\n')));
            if (i > 0)
                QCOMPARE(runs.at(size_t(i) - 1)->waitForExit(10000), 0);
        }

        // Exactly one is left (started last, unless they raced), and the others said why they went.
        QTRY_COMPARE_WITH_TIMEOUT(servicesOn(fixture.x().display()).size(), 1, 15000);
        const qint64 left = servicesOn(fixture.x().display()).constFirst();
        ProgramRun *survivor = nullptr;
        for (const auto &run : runs) {
            if (run->pid() == left) {
                survivor = run.get();
            } else {
                QVERIFY2(run->waitForExit() == 0, qPrintable(run->lines().join(QLatin1Char('\n'))));
                QCOMPARE(run->linesContaining(TakenOver), QStringList { TakenOver });
            }
        }
        QVERIFY(survivor);
        QCOMPARE(survivor->linesContaining(TakenOver), QStringList());
        if (!atOnce)
            QCOMPARE(survivor, runs.back().get());
        QVERIFY2(pressHotkeyUntil(fixture.x(), *survivor, QStringLiteral("Animation started at position:")),
            qPrintable(QStringLiteral("round %1:\n").arg(round) + survivor->lines().join(QLatin1Char('\n'))));
        // The bus name too, even where a loser's late request took it for a moment: each loss is
        // logged, and the return.
        QTRY_COMPARE_WITH_TIMEOUT(watcher.interface()->servicePid(name).value(), uint(survivor->pid()), 5000);
        QCOMPARE(survivor->linesContaining(QStringLiteral("Holding the bus name")).size(),
            survivor->linesContaining(QStringLiteral("Another client took the bus name")).size());
        QVERIFY(survivor->sendSignal(SIGTERM));
        QCOMPARE(survivor->waitForExit(10000), 0);
    }
}

void TestOneService::hungServiceReplaced()
{
    auto older = ServiceFixture::startService({ QStringLiteral("--debug") }, fixture.environment());
    QVERIFY(pressHotkeyUntil(fixture.x(), *older, Pressed));
    QVERIFY(older->sendSignal(SIGSTOP));
    auto resume = qScopeGuard([&] { older->sendSignal(SIGCONT); });

    // The newer one cannot have the key while the stopped one holds it, and says so once.
    auto newer = ServiceFixture::startService({ QStringLiteral("--debug") }, fixture.environment());
    const QString waiting = QStringLiteral("still holds the hotkey Ctrl+Alt+M - waiting for it to let go");
    QVERIFY(!newer->waitForLine(waiting, 15000).isEmpty());
    QVERIFY(newer->linesContaining(QStringLiteral("Took over")).isEmpty());

    // Continued, the older one sees it was replaced and goes; the newer one then holds the key.
    resume.dismiss();
    QVERIFY(older->sendSignal(SIGCONT));
    QCOMPARE(older->waitForExit(10000), 0);
    QCOMPARE(older->linesContaining(TakenOver), QStringList { TakenOver });
    QVERIFY(!newer->waitForLine(QStringLiteral("Took over from an older glintor-service"), 5000).isEmpty());
    QVERIFY(pressHotkeyUntil(fixture.x(), *newer, QStringLiteral("Animation started at position:")));
    QCOMPARE(newer->linesContaining(waiting).size(), 1);
    QVERIFY(newer->sendSignal(SIGTERM));
    QCOMPARE(newer->waitForExit(10000), 0);
}

void TestOneService::fallbackOfTheSettingsWindowLeavesOne()
{
    // The real service stands beside this program; the services it starts draw on the private display.
    QVERIFY(QFileInfo(QCoreApplication::applicationDirPath() + QStringLiteral("/glintor-service")).isExecutable());
    qputenv("DISPLAY", fixture.x().display().toLatin1());
    qunsetenv("QT_QPA_PLATFORM");
    FakeSystemctl systemctl;
    QVERIFY(systemctl.isValid());
    systemctl.installOnPath();
    GlintorGUI window;
    namedChild<QTimer>(&window, "statusTimer")->stop();
    systemctl.answerExitCode(QStringLiteral("start"), 1);

    MessageBoxAnswerer answerer;
    for (int click = 0; click < 5; ++click)
        namedChild<QPushButton>(&window, "restartButton")->click();
    QCOMPARE(answerer.boxes.size(), 5);

    // Every fallback start replaced the one before it.
    QTRY_COMPARE_WITH_TIMEOUT(servicesOn(fixture.x().display()).size(), 1, 15000);
    QTest::qWait(1000);
    const QList<qint64> left = servicesOn(fixture.x().display());
    QCOMPARE(left.size(), 1);
    ::kill(pid_t(left.constFirst()), SIGTERM);
    QTRY_VERIFY_WITH_TIMEOUT(servicesOn(fixture.x().display()).isEmpty(), 10000);
}

GLINTOR_GUI_TEST_MAIN(TestOneService)

#include "tst_oneservice.moc"
