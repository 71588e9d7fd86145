// The settings window against a systemctl that prints garbage or crashes halfway through a restart:
// the outcome is reported by its exit code alone, the window stays usable afterwards, and nothing is
// written, neither in the settings folder nor in the working directory.

#include "fakesystemctl.h"
#include "glintor-gui.h"
#include "guitest.h"
#include "soaksupport.h"

#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>

namespace {

enum class Misbehaviour { Garbage, GarbageAndFailure, GarbageAndCrash };

const QString Success = QStringLiteral("成功");
const QString Error = QStringLiteral("错误");
const QString Notice = QStringLiteral("信息");
const QString Started = QStringLiteral("Glintor服务已成功启动。");
const QString Stopped = QStringLiteral("Glintor服务已成功停止。");
const QString Restarted = QStringLiteral("Glintor服务已成功重启。");
const QString CannotStart = QStringLiteral("无法启动Glintor服务。");
const QString CannotStop = QStringLiteral("无法停止Glintor服务。");
const QString TriedRestart = QStringLiteral("已尝试重启Glintor服务。如果服务未运行，请手动启动。");

QByteArray garbage(int size)
{
    QRandomGenerator random(size);
    QByteArray bytes(size, '\0');
    for (char &byte : bytes)
        byte = char(random.bounded(256));
    // Text that looks like an answer, inside the noise, must not count either.
    bytes.replace(size / 2, 8, "active\n\0", 8);
    return bytes;
}

} // namespace

Q_DECLARE_METATYPE(Misbehaviour)
Q_DECLARE_METATYPE(QMessageBox::Icon)

class TestSystemctlFaults : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void misbehavingSystemctl_data();
    void misbehavingSystemctl();

private:
    FakeSystemctl systemctl;
    QTemporaryDir workingFolder;
};

void TestSystemctlFaults::initTestCase()
{
    QVERIFY(systemctl.isValid());
    QVERIFY(workingFolder.isValid());
    // A failed restart launches ./glintor-service: there is none here, and nothing may appear.
    QVERIFY(QDir::setCurrent(workingFolder.path()));
    systemctl.installOnPath();
}

void TestSystemctlFaults::init()
{
    for (const char *command : { "is-active", "start", "stop", "daemon-reload" })
        systemctl.answerNormally(QLatin1String(command));
}

void TestSystemctlFaults::misbehavingSystemctl_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("unitRunning");
    QTest::addColumn<QString>("command"); // the systemctl command that misbehaves
    QTest::addColumn<Misbehaviour>("misbehaviour");
    QTest::addColumn<int>("garbageSize");
    QTest::addColumn<QMessageBox::Icon>("icon");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");

    const auto info = QMessageBox::Information;
    const auto warning = QMessageBox::Warning;
    QTest::newRow("start prints garbage, exits 0")
        << "startButton" << false << "start" << Misbehaviour::Garbage << 4096 << info << Success << Started;
    QTest::newRow("start prints garbage, exits 1")
        << "startButton" << false << "start" << Misbehaviour::GarbageAndFailure << 4096 << warning << Error
        << CannotStart;
    QTest::newRow("start prints a megabyte of garbage, exits 1")
        << "startButton" << false << "start" << Misbehaviour::GarbageAndFailure << 1048576 << warning << Error
        << CannotStart;
    QTest::newRow("stop prints garbage, exits 0")
        << "stopButton" << true << "stop" << Misbehaviour::Garbage << 4096 << info << Success << Stopped;
    QTest::newRow("stop prints garbage, then crashes")
        << "stopButton" << true << "stop" << Misbehaviour::GarbageAndCrash << 4096 << warning << Error << CannotStop;
    QTest::newRow("restart: daemon-reload crashes")
        << "restartButton" << true << "daemon-reload" << Misbehaviour::GarbageAndCrash << 16 << info << Success
        << Restarted;
    QTest::newRow("restart: daemon-reload prints garbage, exits 1")
        << "restartButton" << true << "daemon-reload" << Misbehaviour::GarbageAndFailure << 4096 << info << Success
        << Restarted;
    QTest::newRow("restart: stop crashes")
        << "restartButton" << true << "stop" << Misbehaviour::GarbageAndCrash << 16 << info << Success << Restarted;
    QTest::newRow("restart: start prints garbage, then crashes")
        << "restartButton" << true << "start" << Misbehaviour::GarbageAndCrash << 4096 << info << Notice
        << TriedRestart;
    QTest::newRow("restart: start prints garbage, exits 0")
        << "restartButton" << false << "start" << Misbehaviour::Garbage << 4096 << info << Success << Restarted;
}

void TestSystemctlFaults::misbehavingSystemctl()
{
    QFETCH(QString, button);
    QFETCH(bool, unitRunning);
    QFETCH(QString, command);
    QFETCH(Misbehaviour, misbehaviour);
    QFETCH(int, garbageSize);
    QFETCH(QMessageBox::Icon, icon);
    QFETCH(QString, title);
    QFETCH(QString, text);

    {
        QProcess set;
        set.start(systemctl.binDirectory() + QStringLiteral("/systemctl"),
            { QStringLiteral("--user"), QLatin1String(unitRunning ? "start" : "stop"),
                QStringLiteral("glintor.service") });
        QVERIFY(set.waitForFinished(10000));
    }
    const auto configBefore = Soak::fingerprint(QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME")));

    GlintorGUI window;
    namedChild<QTimer>(&window, "statusTimer")->stop();
    window.setSystemctlTimeout(5000);
    const QByteArray output = garbage(garbageSize);
    switch (misbehaviour) {
    case Misbehaviour::Garbage:
        systemctl.answerOutput(command, output);
        break;
    case Misbehaviour::GarbageAndFailure:
        systemctl.answerExitCode(command, 1, output);
        break;
    case Misbehaviour::GarbageAndCrash:
        systemctl.answerCrash(command, output);
        break;
    }

    {
        MessageBoxAnswerer answerer;
        namedChild<QPushButton>(&window, button.toLatin1().constData())->click();
        QCOMPARE(answerer.boxes.size(), 1);
        QCOMPARE(answerer.boxes.at(0).icon, icon);
        QCOMPARE(answerer.boxes.at(0).title, title);
        QCOMPARE(answerer.boxes.at(0).text, text);
    }

    // Still usable: shown, enabled, and the next request with a sane systemctl works as usual.
    QVERIFY(window.isVisible());
    QVERIFY(window.isEnabled());
    QVERIFY(namedChild<QPushButton>(&window, "restartButton")->isEnabled());
    systemctl.answerNormally(command);
    {
        MessageBoxAnswerer answerer;
        namedChild<QPushButton>(&window, "restartButton")->click();
        QCOMPARE(answerer.boxes.size(), 1);
        QCOMPARE(answerer.boxes.at(0).text, Restarted);
    }
    QCOMPARE(namedChild<QLabel>(&window, "statusLabel")->text(), QStringLiteral("服务状态: 运行中"));
    QVERIFY(!namedChild<QPushButton>(&window, "startButton")->isEnabled());
    QVERIFY(namedChild<QPushButton>(&window, "stopButton")->isEnabled());

    QVERIFY2(Soak::fingerprint(QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"))) == configBefore,
        "the settings folder was changed");
    QCOMPARE(
        QDir(workingFolder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
}

GLINTOR_GUI_TEST_MAIN(TestSystemctlFaults)
#include "tst_systemctlfaults.moc"
