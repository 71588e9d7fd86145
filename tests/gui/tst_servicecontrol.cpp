// The settings window against a stand-in systemctl: the status display, start, stop and restart, and
// the failures of systemctl itself (missing, crashed, hung). Nothing stands beside this test program,
// so a failed restart has no service to launch.

#include "fakesystemctl.h"
#include "glintor-gui.h"
#include "guitest.h"

#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>

namespace {

const QString IsActive = QStringLiteral("--user is-active glintor.service");
const QString Start = QStringLiteral("--user start glintor.service");
const QString Stop = QStringLiteral("--user stop glintor.service");
const QString Running = QStringLiteral("服务状态: 运行中");
const QString Stopped = QStringLiteral("服务状态: 已停止");
const QString RunningStyle = QStringLiteral("QLabel { color : green; }");
const QString StoppedStyle = QStringLiteral("QLabel { color : red; }");
// Long enough for any systemctl that does not hang, short enough to keep the hang cases quick.
constexpr int ShortTimeoutMs = 1500;

enum class Failure { None, ExitCode, Crash, Hang, Missing };

void stopStatusTimer(QObject *window)
{
    namedChild<QTimer>(window, "statusTimer")->stop();
}

void checkStatus(GlintorGUI &window)
{
    QVERIFY(QMetaObject::invokeMethod(&window, "checkServiceStatus"));
}

} // namespace

Q_DECLARE_METATYPE(Failure)
Q_DECLARE_METATYPE(QMessageBox::Icon)

class TestServiceControl : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void statusFollowsIsActiveOutput_data();
    void statusFollowsIsActiveOutput();
    void statusIsCheckedEveryFiveSeconds();
    void startAndStopReport_data();
    void startAndStopReport();
    void restartReplacesTheServiceProcess();
    void failedRestartStillInforms_data();
    void failedRestartStillInforms();

private:
    // Applies a failure to one command; Missing takes systemctl off PATH.
    void makeFail(const QString &command, Failure failure, const QByteArray &output = QByteArray());
    void runSystemctlNow(const QStringList &arguments);

    FakeSystemctl systemctl;
    QTemporaryDir emptyFolder;
    QTemporaryDir workingFolder;
};

void TestServiceControl::initTestCase()
{
    QVERIFY(systemctl.isValid());
    QVERIFY(emptyFolder.isValid());
    QVERIFY(workingFolder.isValid());
    // A decoy in the working directory: the window must never launch it.
    QFile decoy(workingFolder.filePath(QStringLiteral("glintor-service")));
    QVERIFY(decoy.open(QIODevice::WriteOnly));
    decoy.write("#!/bin/sh\necho \"$@\" > \"$(dirname \"$0\")/decoy-launched\"\n");
    decoy.close();
    QVERIFY(decoy.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QVERIFY(QDir::setCurrent(workingFolder.path()));
}

void TestServiceControl::init()
{
    systemctl.installOnPath();
    for (const char *command : { "is-active", "start", "stop", "daemon-reload" })
        systemctl.answerNormally(QLatin1String(command));
    runSystemctlNow({ QStringLiteral("stop"), QStringLiteral("glintor.service") });
    systemctl.clearCalls();
}

void TestServiceControl::cleanup()
{
    QVERIFY2(!QFile::exists(workingFolder.filePath(QStringLiteral("decoy-launched"))),
             "the glintor-service of the working directory was launched");
}

void TestServiceControl::makeFail(const QString &command, Failure failure, const QByteArray &output)
{
    switch (failure) {
    case Failure::None:
        break;
    case Failure::ExitCode:
        systemctl.answerExitCode(command, 1, output);
        break;
    case Failure::Crash:
        systemctl.answerCrash(command, output);
        break;
    case Failure::Hang:
        systemctl.answerHang(command, output);
        break;
    case Failure::Missing:
        qputenv("PATH", QFile::encodeName(emptyFolder.path()));
        break;
    }
}

void TestServiceControl::runSystemctlNow(const QStringList &arguments)
{
    QProcess process;
    process.start(systemctl.binDirectory() + QStringLiteral("/systemctl"), QStringList { "--user" } + arguments);
    QVERIFY(process.waitForFinished(10000));
}

void TestServiceControl::statusFollowsIsActiveOutput_data()
{
    QTest::addColumn<Failure>("failure");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<bool>("running");

    QTest::newRow("active with a line feed") << Failure::None << QByteArray("active\n") << true;
    QTest::newRow("active amid white space") << Failure::None << QByteArray("  active \n\n") << true;
    QTest::newRow("Active with a capital") << Failure::None << QByteArray("Active\n") << false;
    QTest::newRow("ACTIVE") << Failure::None << QByteArray("ACTIVE\n") << false;
    QTest::newRow("inactive") << Failure::None << QByteArray("inactive\n") << false;
    QTest::newRow("activating") << Failure::None << QByteArray("activating\n") << false;
    QTest::newRow("nothing printed") << Failure::None << QByteArray() << false;
    QTest::newRow("garbage bytes") << Failure::None << QByteArray("\x01\xfe\xff act\tive\n", 12) << false;
    QTest::newRow("active, but exit code 3") << Failure::ExitCode << QByteArray("active\n") << true;
    QTest::newRow("active, then a crash") << Failure::Crash << QByteArray("active\n") << false;
    QTest::newRow("active, then a hang") << Failure::Hang << QByteArray("active\n") << false;
    QTest::newRow("no systemctl on PATH") << Failure::Missing << QByteArray() << false;
}

void TestServiceControl::statusFollowsIsActiveOutput()
{
    QFETCH(Failure, failure);
    QFETCH(QByteArray, output);
    QFETCH(bool, running);

    // Start from the opposite display, so that the check has to change every part of it.
    if (running)
        systemctl.answerOutput(QStringLiteral("is-active"), "inactive\n");
    else
        runSystemctlNow({ QStringLiteral("start"), QStringLiteral("glintor.service") });
    GlintorGUI window;
    stopStatusTimer(&window);
    window.setSystemctlTimeout(ShortTimeoutMs);
    auto *label = namedChild<QLabel>(&window, "statusLabel");
    QCOMPARE(label->text(), running ? Stopped : Running);

    if (failure == Failure::None)
        systemctl.answerOutput(QStringLiteral("is-active"), output);
    else
        makeFail(QStringLiteral("is-active"), failure, output);
    checkStatus(window);

    QCOMPARE(label->text(), running ? Running : Stopped);
    QCOMPARE(label->styleSheet(), running ? RunningStyle : StoppedStyle);
    QCOMPARE(namedChild<QPushButton>(&window, "startButton")->isEnabled(), !running);
    QCOMPARE(namedChild<QPushButton>(&window, "stopButton")->isEnabled(), running);
    QVERIFY(namedChild<QPushButton>(&window, "restartButton")->isEnabled());
    if (failure == Failure::Hang)
        QTRY_VERIFY2(!FakeSystemctl::processExists(systemctl.hungPid()), "the hung systemctl was left running");
}

void TestServiceControl::statusIsCheckedEveryFiveSeconds()
{
    GlintorGUI window;
    auto *label = namedChild<QLabel>(&window, "statusLabel");
    // The first check ran in the constructor, before anything was painted.
    QCOMPARE(label->text(), Stopped);
    QCOMPARE(systemctl.calls(), QStringList { IsActive });
    QCOMPARE(namedChild<QTimer>(&window, "statusTimer")->interval(), 5000);

    // Nothing but the timer can notice that the unit came up behind the window's back.
    runSystemctlNow({ QStringLiteral("start"), QStringLiteral("glintor.service") });
    QTRY_COMPARE_WITH_TIMEOUT(label->text(), Running, 20000);
    QVERIFY(systemctl.callsOf(QStringLiteral("is-active")).size() >= 2);
    QVERIFY(!namedChild<QPushButton>(&window, "startButton")->isEnabled());
}

void TestServiceControl::startAndStopReport_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<Failure>("failure");
    QTest::addColumn<QMessageBox::Icon>("icon");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");

    const QString started = QStringLiteral("Glintor服务已成功启动。");
    const QString notStarted = QStringLiteral("无法启动Glintor服务。");
    const QString stopped = QStringLiteral("Glintor服务已成功停止。");
    const QString notStopped = QStringLiteral("无法停止Glintor服务。");
    const QString success = QStringLiteral("成功");
    const QString error = QStringLiteral("错误");
    QTest::newRow("start succeeds") << "start" << Failure::None << QMessageBox::Information << success << started;
    QTest::newRow("start exits 1") << "start" << Failure::ExitCode << QMessageBox::Warning << error << notStarted;
    QTest::newRow("start crashes") << "start" << Failure::Crash << QMessageBox::Warning << error << notStarted;
    QTest::newRow("start hangs") << "start" << Failure::Hang << QMessageBox::Warning << error << notStarted;
    QTest::newRow("start without systemctl") << "start" << Failure::Missing << QMessageBox::Warning << error
                                             << notStarted;
    QTest::newRow("stop succeeds") << "stop" << Failure::None << QMessageBox::Information << success << stopped;
    QTest::newRow("stop exits 5") << "stop" << Failure::ExitCode << QMessageBox::Warning << error << notStopped;
    QTest::newRow("stop crashes") << "stop" << Failure::Crash << QMessageBox::Warning << error << notStopped;
    QTest::newRow("stop hangs") << "stop" << Failure::Hang << QMessageBox::Warning << error << notStopped;
    QTest::newRow("stop without systemctl") << "stop" << Failure::Missing << QMessageBox::Warning << error
                                            << notStopped;
}

void TestServiceControl::startAndStopReport()
{
    QFETCH(QString, command);
    QFETCH(Failure, failure);
    QFETCH(QMessageBox::Icon, icon);
    QFETCH(QString, title);
    QFETCH(QString, text);

    const bool starting = command == QLatin1String("start");
    if (!starting)
        runSystemctlNow({ QStringLiteral("start"), QStringLiteral("glintor.service") });
    const qint64 unitBefore = systemctl.unitPid();
    GlintorGUI window;
    stopStatusTimer(&window);
    window.setSystemctlTimeout(ShortTimeoutMs);
    auto *label = namedChild<QLabel>(&window, "statusLabel");
    const QString statusBefore = label->text();
    QCOMPARE(statusBefore, starting ? Stopped : Running);
    makeFail(command, failure);
    systemctl.clearCalls();

    MessageBoxAnswerer answerer;
    namedChild<QPushButton>(&window, starting ? "startButton" : "stopButton")->click();

    QCOMPARE(answerer.boxes.size(), 1);
    QCOMPARE(answerer.boxes.at(0).icon, icon);
    QCOMPARE(answerer.boxes.at(0).title, title);
    QCOMPARE(answerer.boxes.at(0).text, text);
    const QString call = starting ? Start : Stop;
    if (failure == Failure::None) {
        // The display is refreshed once the success box is closed.
        QCOMPARE(systemctl.calls(), QStringList({ call, IsActive }));
        QCOMPARE(label->text(), starting ? Running : Stopped);
        QCOMPARE(systemctl.unitPid() != 0, starting);
        if (!starting)
            QVERIFY(!FakeSystemctl::processExists(unitBefore));
    } else {
        // No check follows a failure: the display stays as it was until the next tick.
        QCOMPARE(systemctl.calls(), failure == Failure::Missing ? QStringList() : QStringList { call });
        QCOMPARE(label->text(), statusBefore);
    }
    if (failure == Failure::Hang)
        QTRY_VERIFY2(!FakeSystemctl::processExists(systemctl.hungPid()), "the hung systemctl was left running");
}

void TestServiceControl::restartReplacesTheServiceProcess()
{
    runSystemctlNow({ QStringLiteral("start"), QStringLiteral("glintor.service") });
    const qint64 before = systemctl.unitPid();
    QVERIFY(before != 0);
    GlintorGUI window;
    stopStatusTimer(&window);
    systemctl.clearCalls();

    MessageBoxAnswerer answerer;
    namedChild<QPushButton>(&window, "restartButton")->click();

    QCOMPARE(systemctl.calls(), QStringList({ QStringLiteral("--user daemon-reload"), Stop, Start, IsActive }));
    QCOMPARE(answerer.boxes.size(), 1);
    QCOMPARE(answerer.boxes.at(0).icon, QMessageBox::Information);
    QCOMPARE(answerer.boxes.at(0).title, QStringLiteral("成功"));
    QCOMPARE(answerer.boxes.at(0).text, QStringLiteral("Glintor服务已成功重启。"));
    const qint64 after = systemctl.unitPid();
    QVERIFY(after != 0);
    QVERIFY(after != before);
    QVERIFY(!FakeSystemctl::processExists(before));
    QCOMPARE(namedChild<QLabel>(&window, "statusLabel")->text(), Running);
}

void TestServiceControl::failedRestartStillInforms_data()
{
    QTest::addColumn<Failure>("failure");

    QTest::newRow("start exits 1") << Failure::ExitCode;
    QTest::newRow("start crashes") << Failure::Crash;
    QTest::newRow("start hangs") << Failure::Hang;
    QTest::newRow("no systemctl on PATH") << Failure::Missing;
}

void TestServiceControl::failedRestartStillInforms()
{
    QFETCH(Failure, failure);

    GlintorGUI window;
    stopStatusTimer(&window);
    window.setSystemctlTimeout(ShortTimeoutMs);
    makeFail(QStringLiteral("start"), failure);
    systemctl.clearCalls();

    MessageBoxAnswerer answerer;
    namedChild<QPushButton>(&window, "restartButton")->click();

    QCOMPARE(answerer.boxes.size(), 1);
    QCOMPARE(answerer.boxes.at(0).icon, QMessageBox::Information);
    QCOMPARE(answerer.boxes.at(0).title, QStringLiteral("信息"));
    QCOMPARE(answerer.boxes.at(0).text, QStringLiteral("已尝试重启Glintor服务。如果服务未运行，请手动启动。"));
    if (failure != Failure::Missing)
        QCOMPARE(systemctl.calls(), QStringList({ QStringLiteral("--user daemon-reload"), Stop, Start, IsActive }));
    QCOMPARE(namedChild<QLabel>(&window, "statusLabel")->text(), Stopped);
    if (failure == Failure::Hang)
        QTRY_VERIFY2(!FakeSystemctl::processExists(systemctl.hungPid()), "the hung systemctl was left running");
}

GLINTOR_GUI_TEST_MAIN(TestServiceControl)
#include "tst_servicecontrol.moc"
