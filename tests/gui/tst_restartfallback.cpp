// A restart whose start fails launches the glintor-service that stands beside the running program
// (a stand-in here), with "--debug", never the one in the working directory.

#include "fakesystemctl.h"
#include "glintor-gui.h"
#include "guitest.h"

#include <QCoreApplication>
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>

namespace {

enum class Failure { ExitCode, Crash, Hang, Missing };

QStringList readLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

Q_DECLARE_METATYPE(Failure)

class TestRestartFallback : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void launchesTheServiceBesideTheProgram_data();
    void launchesTheServiceBesideTheProgram();

private:
    FakeSystemctl systemctl;
    QTemporaryDir emptyFolder;
};

void TestRestartFallback::initTestCase()
{
    QVERIFY(systemctl.isValid());
    QVERIFY(emptyFolder.isValid());
    QVERIFY2(QFileInfo(QCoreApplication::applicationDirPath() + QStringLiteral("/glintor-service")).isExecutable(),
             "the stand-in service is missing beside the test program");
}

void TestRestartFallback::launchesTheServiceBesideTheProgram_data()
{
    QTest::addColumn<Failure>("failure");

    QTest::newRow("start exits 1") << Failure::ExitCode;
    QTest::newRow("start crashes") << Failure::Crash;
    QTest::newRow("start hangs") << Failure::Hang;
    QTest::newRow("no systemctl on PATH") << Failure::Missing;
}

void TestRestartFallback::launchesTheServiceBesideTheProgram()
{
    QFETCH(Failure, failure);

    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString besideRecord = work.filePath(QStringLiteral("beside-launched"));
    const QString decoyRecord = work.filePath(QStringLiteral("decoy-launched"));
    qputenv("GLINTOR_TEST_LAUNCH_RECORD", QFile::encodeName(besideRecord));
    // A decoy in the working directory, which the window must leave alone.
    QFile decoy(work.filePath(QStringLiteral("glintor-service")));
    QVERIFY(decoy.open(QIODevice::WriteOnly));
    decoy.write("#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + QFile::encodeName(decoyRecord) + "'\n");
    decoy.close();
    QVERIFY(decoy.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QVERIFY(QDir::setCurrent(work.path()));

    systemctl.installOnPath();
    systemctl.answerNormally(QStringLiteral("start"));
    GlintorGUI window;
    namedChild<QTimer>(&window, "statusTimer")->stop();
    window.setSystemctlTimeout(1500);
    switch (failure) {
    case Failure::ExitCode:
        systemctl.answerExitCode(QStringLiteral("start"), 1);
        break;
    case Failure::Crash:
        systemctl.answerCrash(QStringLiteral("start"));
        break;
    case Failure::Hang:
        systemctl.answerHang(QStringLiteral("start"));
        break;
    case Failure::Missing:
        qputenv("PATH", QFile::encodeName(emptyFolder.path()));
        break;
    }

    MessageBoxAnswerer answerer;
    namedChild<QPushButton>(&window, "restartButton")->click();

    QCOMPARE(answerer.boxes.size(), 1);
    QCOMPARE(answerer.boxes.at(0).title, QStringLiteral("信息"));
    QCOMPARE(answerer.boxes.at(0).text, QStringLiteral("已尝试重启Glintor服务。如果服务未运行，请手动启动。"));
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/glintor-service");
    QTRY_COMPARE_WITH_TIMEOUT(readLines(besideRecord), QStringList({ beside, QStringLiteral("--debug") }), 10000);
    QVERIFY2(!QFile::exists(decoyRecord), "the glintor-service of the working directory was launched");

    QVERIFY(QDir::setCurrent(QDir::tempPath()));
}

GLINTOR_GUI_TEST_MAIN(TestRestartFallback)
#include "tst_restartfallback.moc"
