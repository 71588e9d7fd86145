// Runs the README's commands against the build tree: scripts/run installs into a private prefix and
// starts the service (through a stand-in systemctl, or directly on a private Xvfb), scripts/uninstall
// takes everything away again, and without a display scripts/run plays the demonstration.

#include "installtools.h"
#include "xserver.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <csignal>
#include <sys/types.h>

namespace {

const QString Scripts = QStringLiteral(GLINTOR_SOURCE_DIR "/scripts/");

// True while the process runs; a zombie nobody has reaped yet counts as ended.
bool processRuns(qint64 pid)
{
    const QByteArray stat = readFile(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.isEmpty())
        return false;
    const int close = stat.lastIndexOf(')');
    return close > 0 && stat.size() > close + 2 && stat.at(close + 2) != 'Z';
}

QStringList filesUnder(const QString &path)
{
    QStringList files;
    QDirIterator it(path, QDir::Files | QDir::System | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    return files;
}

// Kills a service the scripts left running when a check fails half-way.
struct ServiceGuard {
    qint64 pid = 0;
    ~ServiceGuard()
    {
        if (pid > 0 && processRuns(pid))
            ::kill(pid_t(pid), SIGKILL);
    }
};

int differingPixels(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return -1;
    int count = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x)
            count += a.pixel(x, y) != b.pixel(x, y);
    }
    return count;
}

} // namespace

class TestRunScripts : public QObject
{
    Q_OBJECT

private slots:
    void runAndUninstall_data();
    void runAndUninstall();
    void demoWithoutDisplay();
};

void TestRunScripts::runAndUninstall_data()
{
    QTest::addColumn<bool>("userManager");

    QTest::newRow("systemd user manager") << true;
    QTest::newRow("no user manager") << false;
}

void TestRunScripts::runAndUninstall()
{
    QFETCH(bool, userManager);

    XServer x;
    QVERIFY(x.isRunning());
    QTemporaryDir home;
    QVERIFY(home.isValid());
    const QString prefix = home.filePath("prefix");
    const QString bin = home.filePath("fake-bin");
    QVERIFY(QDir().mkpath(bin));
    QVERIFY(writeFakeSystemctl(bin));
    const QString calls = home.filePath("systemctl.log");

    QProcessEnvironment environment = x.environment();
    environment.insert("HOME", home.path());
    environment.insert("XDG_CONFIG_HOME", home.filePath("config"));
    environment.remove("XDG_STATE_HOME");
    environment.remove("QT_QPA_PLATFORM");
    environment.insert("PATH", bin + ':' + environment.value("PATH"));
    environment.insert("GLINTOR_BUILD_DIR", GLINTOR_BUILD_DIR);
    environment.insert("FAKE_SYSTEMCTL_LOG", calls);
    environment.insert("FAKE_SYSTEMCTL_STATUS", userManager ? "0" : "1");

    const CommandResult run = runCommand(Scripts + "run", { "--no-build", "--prefix", prefix }, 120000, environment);
    QVERIFY2(run.succeeded(), qPrintable(run.describe()));
    const QString said = QString::fromUtf8(run.out);
    QVERIFY2(said.contains(Scripts + "uninstall --prefix " + prefix), qPrintable(said));

    QVERIFY(QFileInfo(prefix + "/bin/glintor-service").isExecutable());
    const QStringList recorded = QString::fromUtf8(readFile(prefix + "/share/glintor/installed-files.txt")).split('\n', Qt::SkipEmptyParts);
    QVERIFY(recorded.contains(prefix + "/lib/systemd/user/glintor.service"));
    for (const QString &file : recorded)
        QVERIFY2(file.startsWith(prefix + '/') && QFileInfo::exists(file), qPrintable(file));
    const QString autostartLink = home.filePath("config/autostart/glintor.desktop");
    QCOMPARE(QFileInfo(autostartLink).symLinkTarget(), prefix + "/etc/xdg/autostart/glintor.desktop");

    const QString state = home.filePath(".local/state/glintor");
    ServiceGuard guard;
    if (userManager) {
        const QStringList made = QString::fromUtf8(readFile(calls)).split('\n', Qt::SkipEmptyParts);
        QVERIFY2(!made.filter(QRegularExpression("^--user import-environment DISPLAY( XAUTHORITY)?$")).isEmpty(),
                 qPrintable(made.join('\n')));
        QVERIFY2(made.contains("--user enable " + prefix + "/lib/systemd/user/glintor.service"), qPrintable(made.join('\n')));
        QVERIFY2(made.contains("--user restart glintor.service"), qPrintable(made.join('\n')));
        QVERIFY(!QFileInfo::exists(state + "/glintor-service.pid"));
    } else {
        guard.pid = QString::fromUtf8(readFile(state + "/glintor-service.pid")).trimmed().toLongLong();
        QVERIFY(guard.pid > 0);
        QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(QStringLiteral("/proc/%1/exe").arg(guard.pid)).symLinkTarget(),
                                  prefix + "/bin/glintor-service", 20000);
        QVERIFY2(said.contains(state + "/glintor-service.log"), qPrintable(said));
        QTRY_VERIFY_WITH_TIMEOUT(readFile(state + "/glintor-service.log").contains("Glintor服务已启动"), 20000);
        // The installed service answers the hotkey on this display. Its hotkey thread may still be
        // taking the grab just after start-up, so the key is pressed until an animation starts.
        QElapsedTimer waited;
        waited.start();
        bool animated = false;
        while (!animated && waited.elapsed() < 20000) {
            QVERIFY(x.xdotool({ "mousemove", "300", "200", "key", "ctrl+alt+m" }));
            for (int i = 0; i < 20 && !animated; ++i) {
                QThread::msleep(25);
                animated = readFile(state + "/glintor-service.log").contains("Animation started at position: QPoint(300,200)");
            }
        }
        QVERIFY2(animated, readFile(state + "/glintor-service.log").constData());
    }

    const CommandResult uninstall = runCommand(Scripts + "uninstall", { "--prefix", prefix }, 60000, environment);
    QVERIFY2(uninstall.succeeded(), qPrintable(uninstall.describe()));
    QVERIFY2(filesUnder(prefix).isEmpty(), qPrintable(filesUnder(prefix).join('\n')));
    QVERIFY(!QFileInfo(autostartLink).isSymLink());
    if (userManager) {
        const QStringList made = QString::fromUtf8(readFile(calls)).split('\n', Qt::SkipEmptyParts);
        QVERIFY2(made.contains("--user disable --now glintor.service"), qPrintable(made.join('\n')));
    } else {
        QVERIFY(!processRuns(guard.pid));
        QVERIFY(!QFileInfo::exists(state + "/glintor-service.pid"));
    }
}

// Without a display, scripts/run installs and then shows every effect on a private X server,
// with settings of its own: the user's settings below would show nothing if they were read.
void TestRunScripts::demoWithoutDisplay()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    const QString prefix = home.filePath("prefix");
    const QByteArray userSettings = "[General]\nenableAnimation=false\n";
    QVERIFY(QDir().mkpath(home.filePath("config/Glintor")));
    const QString settingsFile = home.filePath("config/Glintor/Settings.conf");
    {
        QFile file(settingsFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(userSettings);
    }
    QVERIFY(QDir().mkpath(home.filePath("tmp")));

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.remove("QT_QPA_PLATFORM");
    environment.insert("HOME", home.path());
    environment.insert("XDG_CONFIG_HOME", home.filePath("config"));
    environment.insert("TMPDIR", home.filePath("tmp"));
    environment.insert("GLINTOR_BUILD_DIR", GLINTOR_BUILD_DIR);

    const CommandResult run = runCommand(Scripts + "run", { "--no-build", "--prefix", prefix }, 240000, environment);
    QVERIFY2(run.succeeded(), qPrintable(run.describe()));
    const QRegularExpressionMatch folder = QRegularExpression("are in (\\S+)\n").match(QString::fromUtf8(run.out));
    QVERIFY2(folder.hasMatch(), run.out.constData());
    const QDir shots(folder.captured(1));
    QVERIFY(shots.absolutePath().startsWith(home.filePath("tmp")));

    for (const char *name : { "ring-white", "ring-red", "ring-rainbow", "fireworks", "stars" }) {
        const QImage whole(shots.filePath(QString::fromLatin1(name) + ".png"));
        QCOMPARE(whole.size(), QSize(1920, 1080));
        const QImage before = QImage(shots.filePath(QString::fromLatin1(name) + "-before.png")).copy(760, 340, 400, 400);
        QVERIFY(!before.isNull());
        const QImage centre(shots.filePath(QString::fromLatin1(name) + "-centre.png"));
        QCOMPARE(centre.size(), QSize(400, 400));
        const int changed = differingPixels(before.convertToFormat(QImage::Format_RGB32), centre.convertToFormat(QImage::Format_RGB32));
        QVERIFY2(changed > 100, qPrintable(QStringLiteral("%1: %2 pixels changed").arg(name).arg(changed)));
        // Away from the animation the screen shows through the overlay, as the compositor blends it.
        const QRect corner(0, 0, 30, 30);
        QCOMPARE(differingPixels(before.copy(corner).convertToFormat(QImage::Format_RGB32),
                                 centre.copy(corner).convertToFormat(QImage::Format_RGB32)), 0);
    }
    const QByteArray log = readFile(shots.filePath("glintor-service.log"));
    QCOMPARE(log.count("Animation started"), 5);
    QVERIFY(log.contains("effect: 1"));
    QVERIFY(log.contains("effect: 2"));

    QCOMPARE(readFile(settingsFile), userSettings);
    // Nothing the demonstration started is left running.
    QDirIterator processes("/proc", { "[0-9]*" }, QDir::Dirs);
    while (processes.hasNext()) {
        const QString exe = QFileInfo(processes.next() + "/exe").symLinkTarget();
        QVERIFY2(exe != prefix + "/bin/glintor-service", qPrintable(processes.filePath()));
    }
}

QTEST_GUILESS_MAIN(TestRunScripts)
#include "tst_runscripts.moc"
