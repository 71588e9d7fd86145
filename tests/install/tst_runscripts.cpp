// Runs the README's commands against the build tree: scripts/run installs into a private prefix and
// starts the service (through a stand-in systemctl, or directly on a private Xvfb), scripts/uninstall
// takes away what the run made and nothing else, and without a display scripts/run plays the
// demonstration. scripts/install-deps waits for apt's locks.

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
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/un.h>
#include <unistd.h>

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

// Files and folders under path, relative to it, sorted.
QStringList entriesUnder(const QString &path)
{
    QStringList entries;
    QDirIterator it(
        path, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        entries << QDir(path).relativeFilePath(it.next());
    entries.sort();
    return entries;
}

// Processes running program.
QList<qint64> processesOf(const QString &program)
{
    QList<qint64> pids;
    QDirIterator processes("/proc", { "[0-9]*" }, QDir::Dirs);
    while (processes.hasNext()) {
        processes.next();
        if (QFileInfo(processes.filePath() + "/exe").symLinkTarget() == program
            && processRuns(processes.fileName().toLongLong()))
            pids << processes.fileName().toLongLong();
    }
    return pids;
}

QProcessEnvironment scriptEnvironment(QProcessEnvironment environment, const QTemporaryDir &home)
{
    environment.insert("HOME", home.path());
    environment.insert("XDG_CONFIG_HOME", home.filePath("config"));
    environment.remove("XDG_STATE_HOME");
    environment.remove("QT_QPA_PLATFORM");
    environment.insert("GLINTOR_BUILD_DIR", GLINTOR_BUILD_DIR);
    return environment;
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

// The service scripts/run started directly, as its output names it.
struct DirectStart {
    qint64 pid = 0;
    QString log;
};

DirectStart directStart(const QByteArray &said)
{
    const QString text = QString::fromUtf8(said);
    return { QRegularExpression("directly \\(PID (\\d+)\\)").match(text).captured(1).toLongLong(),
        QRegularExpression("Its log: (.+)$", QRegularExpression::MultilineOption).match(text).captured(1) };
}

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
    void twoPrefixesKeepApart();
    void demoWithoutDisplay();
    void installDepsWaitsForApt();
    void packagesOfTheRelease_data();
    void packagesOfTheRelease();
    void qtOfTheBuild_data();
    void qtOfTheBuild();
};

void TestRunScripts::runAndUninstall_data()
{
    QTest::addColumn<bool>("userManager");
    QTest::addColumn<QString>("prefixName");
    QTest::addColumn<bool>("usersOwnFiles");
    QTest::addColumn<bool>("wayland"); // a Wayland session's socket beside the X display
    QTest::addColumn<bool>("shellRuns"); // else gnome-extensions fails, and the setting is changed directly

    // Next to Glintor's files lie the user's own: an autostart entry, a program and an empty folder
    // in the prefix, and a first run finds a program of the user's where its own would go. Both
    // scripts leave them as they are. A second run installs over the first one's files while the
    // autostart entry's service runs.
    QTest::newRow("user manager, shell syntax in the prefix, the user's own files, run twice")
        << true << "My Apps $(touch INJECTED);x" << true << true << true;
    // Uninstalling also removes the prefix, the log and every folder the run made. No GNOME Shell
    // runs, and none of its extensions is enabled: gsettings says "@as []".
    QTest::newRow("no user manager, no GNOME Shell running") << false << "prefix" << false << false << false;
}

void TestRunScripts::runAndUninstall()
{
    QFETCH(bool, userManager);
    QFETCH(QString, prefixName);
    QFETCH(bool, usersOwnFiles);
    QFETCH(bool, wayland);
    QFETCH(bool, shellRuns);

    XServer x;
    QVERIFY(x.isRunning());
    QTemporaryDir home;
    QVERIFY(home.isValid());
    const QString prefix = home.filePath(prefixName);
    const QString bin = home.filePath("fake-bin");
    const QString cwd = home.filePath("cwd"); // where a "$(touch INJECTED)" would leave its file
    QVERIFY(QDir().mkpath(bin) && QDir().mkpath(cwd));
    QVERIFY(writeFakeSystemctl(bin));
    const QString calls = home.filePath("systemctl.log");
    // GNOME Shell, and what its extension is enabled with: the run enables the extension it
    // installs, the uninstall disables it.
    const QString extensionCalls = home.filePath("gnome-extensions.log");
    const QString extensionLink = home.filePath(".local/share/gnome-shell/extensions/glintor@glintor.org");
    const QString enabled = home.filePath("enabled-extensions"); // the setting, as gsettings prints it
    QVERIFY(writeScript(bin + "/gnome-shell", "#!/bin/sh\n") && writeScript(enabled, "@as []\n")
        && writeScript(bin + "/gsettings",
            "#!/bin/sh\n[ \"$1\" = get ] && cat \"$FAKE_ENABLED\"\n[ \"$1\" = set ] && echo \"$4\" > \"$FAKE_ENABLED\"\n"
            "exit 0\n")
        && writeScript(bin + "/gnome-extensions",
            QByteArray("#!/bin/sh\necho \"$@\" >> \"$FAKE_EXTENSIONS_LOG\"\nexit ") + (shellRuns ? "0\n" : "1\n")));
    const QString autostartLink = home.filePath("config/autostart/glintor.desktop");
    const QByteArray usersEntry = "[Desktop Entry]\nType=Application\nName=Mine\nExec=true\n";
    const QStringList usersFiles { "bin", "bin/my-tool", "share", "share/applications" };
    if (usersOwnFiles) {
        QVERIFY(QDir().mkpath(prefix + "/bin") && QDir().mkpath(prefix + "/share/applications"));
        QVERIFY(QDir().mkpath(home.filePath("config/autostart")));
        QVERIFY(writeScript(prefix + "/bin/my-tool", "#!/bin/sh\n") && writeScript(autostartLink, usersEntry));
    }

    QProcessEnvironment environment = scriptEnvironment(x.environment(), home);
    environment.insert("PATH", bin + ':' + environment.value("PATH"));
    environment.insert("FAKE_SYSTEMCTL_LOG", calls);
    environment.insert("FAKE_EXTENSIONS_LOG", extensionCalls);
    environment.insert("FAKE_ENABLED", enabled);
    environment.insert("FAKE_SYSTEMCTL_STATUS", userManager ? "0" : "1");
    if (wayland) {
        // A socket no compositor listens on any more: scripts/run takes it for the session's, and
        // the service, finding no compositor there, stays on X11.
        const QByteArray socketPath = QFile::encodeName(home.filePath("wayland-0"));
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, socketPath.constData(), sizeof(address.sun_path));
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        QVERIFY(fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0);
        ::close(fd);
        environment.insert("WAYLAND_DISPLAY", QString::fromLocal8Bit(socketPath));
    }

    const QString state = home.filePath(".local/state/glintor");
    const auto runScript = [&] {
        return runCommand(Scripts + "run", { "--no-build", "--prefix", prefix }, 120000, environment, cwd);
    };
    CommandResult run;
    if (usersOwnFiles) {
        QVERIFY(writeScript(prefix + "/bin/glintor-gui", "#!/bin/sh\n"));
        run = runScript();
        QVERIFY2(run.finished && run.exitCode == 1 && run.err.contains(QFile::encodeName(prefix + "/bin/glintor-gui")),
            qPrintable(run.describe()));
        QCOMPARE(entriesUnder(prefix),
            QStringList({ "bin", "bin/glintor-gui", "bin/my-tool", "share", "share/applications" }));
        QVERIFY(QFile::remove(prefix + "/bin/glintor-gui"));
    }
    run = runScript();
    QVERIFY2(run.succeeded(), qPrintable(run.describe()));
    const QString said = QString::fromUtf8(run.out);

    QVERIFY(QFileInfo(prefix + "/bin/glintor-service").isExecutable());
    QCOMPARE(QFileInfo(extensionLink).symLinkTarget(), prefix + "/share/gnome-shell/extensions/glintor@glintor.org");
    QVERIFY(QFileInfo::exists(extensionLink + "/extension.js"));
    QCOMPARE(readFile(extensionCalls), QByteArray("enable glintor@glintor.org\n"));
    QCOMPARE(readFile(enabled), QByteArray(shellRuns ? "@as []\n" : "['glintor@glintor.org']\n"));
    QVERIFY2(said.contains("GNOME loads a new extension at the next login"), qPrintable(said));
    if (usersOwnFiles) {
        QCOMPARE(readFile(autostartLink), usersEntry);
        QVERIFY2(said.contains("Left " + autostartLink), qPrintable(said));
    } else {
        QCOMPARE(QFileInfo(autostartLink).symLinkTarget(), prefix + "/etc/xdg/autostart/glintor.desktop");
        QVERIFY2(said.contains(autostartLink), qPrintable(said));
    }

    ServiceGuard guard;
    if (userManager) {
        const QStringList made = QString::fromUtf8(readFile(calls)).split('\n', Qt::SkipEmptyParts);
        const QString imported = wayland ? "^--user import-environment DISPLAY( XAUTHORITY)? WAYLAND_DISPLAY$"
                                         : "^--user import-environment DISPLAY( XAUTHORITY)?$";
        QVERIFY2(!made.filter(QRegularExpression(imported)).isEmpty(), qPrintable(made.join('\n')));
        QCOMPARE(said.contains("bind a key to " + prefix + "/bin/glintor-locate"), wayland);
        QVERIFY2(made.contains("--user enable " + prefix + "/lib/systemd/user/glintor.service"), qPrintable(made.join('\n')));
        QVERIFY2(made.contains("--user restart glintor.service"), qPrintable(made.join('\n')));
        QCOMPARE(QDir(state).entryList({ "*.pid" }, QDir::Files), QStringList());
        // The next login: the unit is not enabled, so the autostart entry starts the program itself.
        // The program writes where gio did: into a file, as a pipe would close with gio.
        const CommandResult launch = runCommand("sh",
            { "-c", "exec gio launch \"$0\" > \"$1\" 2>&1", prefix + "/etc/xdg/autostart/glintor.desktop",
                home.filePath("autostart.log") },
            30000, environment, cwd);
        QVERIFY2(launch.succeeded(), qPrintable(launch.describe()));
        QTRY_VERIFY2_WITH_TIMEOUT(!processesOf(prefix + "/bin/glintor-service").isEmpty(),
            readFile(home.filePath("autostart.log")).constData(), 20000);
        guard.pid = processesOf(prefix + "/bin/glintor-service").first();
        run = runScript();
        QVERIFY2(run.succeeded(), qPrintable(run.describe()));
    } else {
        const DirectStart started = directStart(run.out);
        guard.pid = started.pid;
        QVERIFY(guard.pid > 0);
        QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(QStringLiteral("/proc/%1/exe").arg(guard.pid)).symLinkTarget(),
                                  prefix + "/bin/glintor-service", 20000);
        QVERIFY2(started.log.startsWith(state + "/glintor-service"), qPrintable(said));
        QTRY_VERIFY_WITH_TIMEOUT(readFile(started.log).contains("Glintor服务已启动"), 20000);
        // The installed service answers the hotkey on this display. Its hotkey thread may still be
        // taking the grab just after start-up, so the key is pressed until an animation starts.
        QElapsedTimer waited;
        waited.start();
        bool animated = false;
        while (!animated && waited.elapsed() < 20000) {
            QVERIFY(x.xdotool({ "mousemove", "300", "200", "key", "ctrl+alt+m" }));
            for (int i = 0; i < 20 && !animated; ++i) {
                QThread::msleep(25);
                animated = readFile(started.log).contains("Animation started at position: QPoint(300,200)");
            }
        }
        QVERIFY2(animated, readFile(started.log).constData());
    }

    // The undo command as printed, pasted into a shell.
    const QRegularExpressionMatch undo
        = QRegularExpression("^To undo all of this: (.+)$", QRegularExpression::MultilineOption)
              .match(QString::fromUtf8(run.out));
    QVERIFY2(undo.hasMatch(), run.out.constData());
    const CommandResult uninstall = runCommand("bash", { "-c", undo.captured(1) }, 60000, environment, cwd);
    QVERIFY2(uninstall.succeeded(), qPrintable(uninstall.describe()));
    QVERIFY(!QFileInfo(extensionLink).isSymLink());
    QVERIFY(readFile(extensionCalls).endsWith("disable glintor@glintor.org\n"));
    QCOMPARE(readFile(enabled), QByteArray(shellRuns ? "@as []\n" : "[]\n"));
    if (usersOwnFiles) {
        QCOMPARE(entriesUnder(prefix), usersFiles);
        QCOMPARE(readFile(autostartLink), usersEntry);
    } else {
        QVERIFY2(!QFileInfo::exists(prefix), qPrintable(entriesUnder(prefix).join('\n')));
        QVERIFY2(
            !QFileInfo::exists(home.filePath(".local")), qPrintable(entriesUnder(home.filePath(".local")).join('\n')));
        QVERIFY(!QFileInfo::exists(home.filePath("config/autostart")));
    }
    if (userManager) {
        const QStringList made = QString::fromUtf8(readFile(calls)).split('\n', Qt::SkipEmptyParts);
        QVERIFY2(made.contains("--user disable --now glintor.service"), qPrintable(made.join('\n')));
    } else {
        QVERIFY(!processRuns(guard.pid));
    }
    // Nothing in the prefix's name ran as a command.
    QDirIterator injected(home.path(), { "INJECTED" }, QDir::Files, QDirIterator::Subdirectories);
    QVERIFY(!injected.hasNext());
}

// Two prefixes, each with its service started directly on a display of its own: uninstalling one
// stops only that one's service and removes only its log.
void TestRunScripts::twoPrefixesKeepApart()
{
    XServer displays[2];
    QTemporaryDir home;
    QVERIFY(home.isValid());
    const QString bin = home.filePath("fake-bin");
    QVERIFY(QDir().mkpath(bin) && writeFakeSystemctl(bin));
    const QString prefixes[2] = { home.filePath("first"), home.filePath("second") };
    QProcessEnvironment environments[2];
    DirectStart started[2];
    ServiceGuard guards[2];
    for (int i = 0; i < 2; ++i) {
        QVERIFY(displays[i].isRunning());
        environments[i] = scriptEnvironment(displays[i].environment(), home);
        environments[i].insert("PATH", bin + ':' + environments[i].value("PATH"));
        environments[i].insert("FAKE_SYSTEMCTL_STATUS", "1");
        const CommandResult run
            = runCommand(Scripts + "run", { "--no-build", "--prefix", prefixes[i] }, 120000, environments[i]);
        QVERIFY2(run.succeeded(), qPrintable(run.describe()));
        started[i] = directStart(run.out);
        guards[i].pid = started[i].pid;
        QTRY_VERIFY_WITH_TIMEOUT(readFile(started[i].log).contains("Glintor服务已启动"), 20000);
    }
    QVERIFY2(started[0].log != started[1].log, qPrintable(started[0].log));

    for (int i = 0; i < 2; ++i) {
        const CommandResult uninstall
            = runCommand(Scripts + "uninstall", { "--prefix", prefixes[i] }, 60000, environments[i]);
        QVERIFY2(uninstall.succeeded(), qPrintable(uninstall.describe()));
        QTRY_VERIFY_WITH_TIMEOUT(!processRuns(started[i].pid), 10000);
        QVERIFY(!QFileInfo::exists(started[i].log));
        if (i == 0) {
            QVERIFY(processRuns(started[1].pid));
            QVERIFY(readFile(started[1].log).contains("Glintor服务已启动"));
        }
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

    // apt answers that nothing is installed: the demonstration asks for its own few packages.
    const QString bin = home.filePath("fake-bin");
    QVERIFY(QDir().mkpath(bin) && writeFakeApt(bin));

    QProcessEnvironment environment = scriptEnvironment(QProcessEnvironment::systemEnvironment(), home);
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.insert("TMPDIR", home.filePath("tmp"));
    environment.insert("PATH", bin + ':' + environment.value("PATH"));
    environment.insert("APT_CONFIG", bin + "/apt.conf");
    environment.insert("FAKE_APT_LOG", home.filePath("apt.log"));

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
    QCOMPARE(processesOf(prefix + "/bin/glintor-service"), QList<qint64>());

    const QByteArray installed = readFile(home.filePath("apt.log")).split('\n').value(1);
    QVERIFY2(installed.contains(" install ") && installed.contains(" xvfb") && !installed.contains("lintian")
            && !installed.contains("fonts-noto-cjk"),
        installed.constData());
}

// Right after boot the automatic updates hold apt's locks for minutes: install-deps waits for them,
// says who holds them, and calls apt only once they are free.
void TestRunScripts::installDepsWaitsForApt()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid() && writeFakeApt(dir.path()));
    // install-deps learns where the locks are from apt's configuration.
    const QString lock = dir.filePath("lists/lock");
    const int fd = ::open(QFile::encodeName(lock).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    struct flock hold = {};
    hold.l_type = F_WRLCK;
    hold.l_whence = SEEK_SET;
    QVERIFY(fd >= 0 && ::fcntl(fd, F_SETLK, &hold) == 0);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PATH", dir.path() + ':' + environment.value("PATH"));
    environment.insert("APT_CONFIG", dir.filePath("apt.conf"));
    environment.insert("FAKE_APT_LOG", dir.filePath("apt.log"));
    QProcess deps;
    deps.setProcessEnvironment(environment);
    deps.start(Scripts + "install-deps", { "demo" });
    QByteArray said;
    const QByteArray holder
        = QStringLiteral("(PID %1) holds %2").arg(QCoreApplication::applicationPid()).arg(lock).toUtf8();
    QTRY_VERIFY2_WITH_TIMEOUT((said += deps.readAllStandardOutput()).contains(holder), said.constData(), 20000);
    QVERIFY(!QFileInfo::exists(dir.filePath("apt.log")));
    ::close(fd);

    QVERIFY(deps.waitForFinished(30000));
    QCOMPARE(deps.exitCode(), 0);
    const QList<QByteArray> calls = readFile(dir.filePath("apt.log")).split('\n');
    QCOMPARE(calls.size(), 3);
    QVERIFY2(
        calls[0].endsWith(" update") && calls[1].contains(" install "), readFile(dir.filePath("apt.log")).constData());
}

void TestRunScripts::packagesOfTheRelease_data()
{
    QTest::addColumn<QByteArray>("osRelease");
    QTest::addColumn<QStringList>("wanted");
    QTest::addColumn<QStringList>("unwanted");

    const QStringList qt5 = { "qtbase5-dev", "qttools5-dev-tools", "qtwayland5" };
    const QStringList qt6 = { "qt6-base-dev", "qt6-l10n-tools", "qt6-wayland" };
    QTest::newRow("Debian 12") << QByteArray("ID=debian\nVERSION_ID=\"12\"\nVERSION_CODENAME=bookworm\n") << qt5 << qt6;
    QTest::newRow("Debian 13") << QByteArray("ID=debian\nVERSION_ID=\"13\"\nVERSION_CODENAME=trixie\n") << qt6 << qt5;
    QTest::newRow("sid") << QByteArray("ID=debian\nVERSION_CODENAME=forky\n") << qt6 << qt5;
}

// Debian 13 and later have layer-shell-qt for Qt 6 only: their lists are Qt 6's.
void TestRunScripts::packagesOfTheRelease()
{
    QFETCH(QByteArray, osRelease);
    QFETCH(QStringList, wanted);
    QFETCH(QStringList, unwanted);

    QTemporaryDir dir;
    QFile release(dir.filePath("os-release"));
    QVERIFY(release.open(QIODevice::WriteOnly) && release.write(osRelease) == osRelease.size());
    release.close();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("GLINTOR_OS_RELEASE", release.fileName());
    const CommandResult lists = runCommand(Scripts + "install-deps", { "--print", "build", "test" }, 30000, environment);
    QVERIFY2(lists.succeeded(), qPrintable(lists.describe()));
    const QStringList packages = QString::fromUtf8(lists.out).split('\n', Qt::SkipEmptyParts);
    for (const QString &package : wanted)
        QVERIFY2(packages.contains(package), qPrintable(package));
    for (const QString &package : unwanted)
        QVERIFY2(!packages.contains(package), qPrintable(package));
    QVERIFY(packages.contains("liblayershellqtinterface-dev") && packages.contains("cmake"));
}

void TestRunScripts::qtOfTheBuild_data()
{
    QTest::addColumn<QString>("asked"); // QT_MAJOR_VERSION
    QTest::addColumn<QString>("said");

    const QString mine = QString::number(QT_VERSION_MAJOR);
    QTest::newRow("the Qt layer-shell-qt was built for") << QString() << "Building with Qt " + mine + ".";
    QTest::newRow("the other Qt") << QString::number(QT_VERSION_MAJOR == 5 ? 6 : 5)
                                  << "is built for Qt " + mine + ", and one program cannot use two Qts";
    QTest::newRow("no such Qt") << "4" << "QT_MAJOR_VERSION must be 5 or 6";
}

// A Qt that cannot go with layer-shell-qt stops the configure with one line, before anything is generated.
void TestRunScripts::qtOfTheBuild()
{
    QFETCH(QString, asked);
    QFETCH(QString, said);

    QTemporaryDir build;
    const CommandResult configure = runCommand(CMAKE_COMMAND_PATH,
        { "-S", GLINTOR_SOURCE_DIR, "-B", build.path(), "-DBUILD_TESTING=OFF", "-DQT_MAJOR_VERSION=" + asked }, 120000);
    QVERIFY2(QString::fromUtf8(configure.out + configure.err).simplified().contains(said), qPrintable(configure.describe()));
    QCOMPARE(configure.succeeded(), asked.isEmpty());
    QCOMPARE(QFileInfo::exists(build.filePath("Makefile")), asked.isEmpty());
}

QTEST_GUILESS_MAIN(TestRunScripts)
#include "tst_runscripts.moc"
