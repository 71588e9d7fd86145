// Installs the build into a temporary DESTDIR with "cmake --install --prefix /usr", as a package
// does, and checks the tree: every file in place, the paths written into the unit and the entries,
// the entries valid, the version file, and the installed programs finding what they need. A second
// installation into a prefix with a space, shell syntax and "%" checks that systemd and a desktop's
// launcher read the program paths whole, and run nothing else.

#include "installtools.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

class TestInstall : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void installedFile_data();
    void installedFile();
    void unitLine_data();
    void unitLine();
    void unitVerifies_data();
    void unitVerifies();
    void desktopEntry_data();
    void desktopEntry();
    void entryLaunches_data();
    void entryLaunches();
    void versionFile();
    void aboutBoxFindsInstalledVersion();
    void installedService_data();
    void installedService();

private:
    QString installed(const QString &path) const { return root.path() + path; }
    // path lies in the DESTDIR tree of the /usr installation, or relative to the odd prefix.
    QString installed(bool odd, const QString &path) const { return odd ? oddPrefix + path : installed(path); }
    QProcessEnvironment quietEnvironment() const;

    QTemporaryDir root;
    QTemporaryDir scratch;
    QString oddPrefix;
};

QProcessEnvironment TestInstall::quietEnvironment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), scratch.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return environment;
}

void TestInstall::initTestCase()
{
    QVERIFY(root.isValid());
    QVERIFY(scratch.isValid());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DESTDIR"), root.path());
    const CommandResult install = runCommand(QStringLiteral(CMAKE_COMMAND_PATH),
                                             { QStringLiteral("--install"), QStringLiteral(GLINTOR_BUILD_DIR),
                                               QStringLiteral("--prefix"), QStringLiteral("/usr") },
                                             120000, environment);
    QVERIFY2(install.succeeded(), qPrintable(install.describe()));

    oddPrefix = scratch.filePath(QStringLiteral("My Apps $(touch INJECTED);x 100%"));
    const CommandResult odd = runCommand(QStringLiteral(CMAKE_COMMAND_PATH),
        { QStringLiteral("--install"), QStringLiteral(GLINTOR_BUILD_DIR), QStringLiteral("--prefix"), oddPrefix });
    QVERIFY2(odd.succeeded(), qPrintable(odd.describe()));
    // Stand-ins for its programs say by which path they were started.
    for (const char *program : { "/bin/glintor-service", "/bin/glintor-gui" })
        QVERIFY(writeScript(oddPrefix + program, "#!/bin/sh\necho \"$0\" >> \"$LAUNCH_LOG\"\n"));
}

void TestInstall::installedFile_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("executable");

    QTest::newRow("service program") << "/usr/bin/glintor-service" << true;
    QTest::newRow("settings program") << "/usr/bin/glintor-gui" << true;
    QTest::newRow("locate command") << "/usr/bin/glintor-locate" << true;
    QTest::newRow("locate manual page") << "/usr/share/man/man1/glintor-locate.1.gz" << false;
    QTest::newRow("AppStream metadata") << "/usr/share/metainfo/org.glintor.Glintor.metainfo.xml" << false;
    QTest::newRow("english catalogue") << "/usr/share/glintor/translations/glintor_en.qm" << false;
    QTest::newRow("version file") << "/usr/share/glintor/version.txt" << false;
    QTest::newRow("user unit") << "/usr/lib/systemd/user/glintor.service" << false;
    QTest::newRow("desktop entry") << "/usr/share/applications/glintor-gui.desktop" << false;
    QTest::newRow("autostart entry in /etc") << "/etc/xdg/autostart/glintor.desktop" << false;
    QTest::newRow("icon") << "/usr/share/icons/hicolor/scalable/apps/glintor.svg" << false;
    QTest::newRow("service manual page") << "/usr/share/man/man1/glintor-service.1.gz" << false;
    QTest::newRow("settings manual page") << "/usr/share/man/man1/glintor-gui.1.gz" << false;
    QTest::newRow("copyright") << "/usr/share/doc/glintor/copyright" << false;
    QTest::newRow("changelog") << "/usr/share/doc/glintor/changelog.gz" << false;
}

void TestInstall::installedFile()
{
    QFETCH(QString, path);
    QFETCH(bool, executable);

    const QFileInfo info(installed(path));
    QVERIFY2(info.isFile(), qPrintable(path + QStringLiteral(" is missing")));
    QVERIFY(info.size() > 0);
    QCOMPARE(info.isExecutable(), executable);
}

void TestInstall::unitLine_data()
{
    QTest::addColumn<QString>("line");

    QTest::newRow("runs the installed program") << "ExecStart=/usr/bin/glintor-service";
    QTest::newRow("part of the graphical session") << "PartOf=graphical-session.target";
    QTest::newRow("after the graphical session") << "After=graphical-session.target";
    QTest::newRow("wanted by the graphical session") << "WantedBy=graphical-session.target";
    QTest::newRow("restarts on failure") << "Restart=on-failure";
    QTest::newRow("not after the no-display exit") << "RestartPreventExitStatus=1";
    QTest::newRow("a limit to restarts") << "StartLimitBurst=5";
    // Five starts 2 s apart must fit in the window, or the limit never stops them.
    QTest::newRow("a window the five restarts fit in") << "StartLimitIntervalSec=60";
}

void TestInstall::unitLine()
{
    QFETCH(QString, line);

    const QStringList lines = QString::fromUtf8(readFile(installed("/usr/lib/systemd/user/glintor.service"))).split('\n');
    QVERIFY2(lines.contains(line), qPrintable(lines.join('\n')));
}

void TestInstall::unitVerifies_data()
{
    QTest::addColumn<bool>("odd");

    QTest::newRow("/usr") << false;
    QTest::newRow("prefix with a space, shell syntax and %") << true;
}

// systemd's own check of the unit: unknown keys, bad values, a program that is not there (also when
// its path is read wrongly).
void TestInstall::unitVerifies()
{
    QFETCH(bool, odd);

    if (QStandardPaths::findExecutable(QStringLiteral("systemd-analyze")).isEmpty())
        QSKIP("systemd-analyze is not installed");
    QTemporaryDir runtime; // the analyser wants a private runtime folder even offline
    QString copy = installed(odd, QStringLiteral("/lib/systemd/user/glintor.service"));
    if (!odd) {
        QString unit = QString::fromUtf8(readFile(installed("/usr/lib/systemd/user/glintor.service")));
        // The program is checked where it lies in DESTDIR.
        unit.replace(QLatin1String("ExecStart=/usr/bin/"), QStringLiteral("ExecStart=") + installed("/usr/bin/"));
        copy = runtime.filePath(QStringLiteral("glintor.service"));
        QFile file(copy);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(unit.toUtf8());
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    const CommandResult verify = runCommand(QStringLiteral("systemd-analyze"),
                                            { QStringLiteral("verify"), QStringLiteral("--man=no"), QStringLiteral("--user"), copy },
                                            60000, environment);
    QVERIFY2(verify.succeeded() && verify.out.isEmpty() && verify.err.isEmpty(), qPrintable(verify.describe()));
}

void TestInstall::desktopEntry_data()
{
    QTest::addColumn<bool>("odd");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("settings program") << false << "/usr/share/applications/glintor-gui.desktop"
                                      << QStringList { "Type=Application", "Name=Glintor Settings",
                                             "Name[zh_CN]=Glintor 设置", "Exec=/usr/bin/glintor-gui", "Icon=glintor" };
    QTest::newRow("autostart") << false << "/etc/xdg/autostart/glintor.desktop"
                               << QStringList { "Type=Application", "Name=Glintor", "NoDisplay=true" };
    QTest::newRow("settings program, odd prefix")
        << true << "/share/applications/glintor-gui.desktop" << QStringList { "Name=Glintor Settings" };
    QTest::newRow("autostart, odd prefix")
        << true << "/etc/xdg/autostart/glintor.desktop" << QStringList { "Name=Glintor" };
}

void TestInstall::desktopEntry()
{
    QFETCH(bool, odd);
    QFETCH(QString, path);
    QFETCH(QStringList, lines);

    const CommandResult validate = runCommand(QStringLiteral("desktop-file-validate"), { installed(odd, path) });
    QVERIFY2(validate.succeeded() && validate.out.isEmpty() && validate.err.isEmpty(), qPrintable(validate.describe()));

    const QStringList content = QString::fromUtf8(readFile(installed(odd, path))).split('\n');
    for (const QString &line : lines)
        QVERIFY2(content.contains(line), qPrintable(line + QStringLiteral(" missing in\n") + content.join('\n')));
    if (path.endsWith(QLatin1String("glintor-gui.desktop"))) {
        const QStringList categories = content.filter(QRegularExpression("^Categories="));
        QCOMPARE(categories.size(), 1);
        QVERIFY(categories.first().mid(11).split(';').contains(QStringLiteral("Settings")));
    }
}

void TestInstall::entryLaunches_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<int>("systemctlStatus");
    QTest::addColumn<int>("enabledStatus");
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("systemctlCalls");

    const QString autostart = QStringLiteral("/etc/xdg/autostart/glintor.desktop");
    QTest::newRow("settings program") << "/share/applications/glintor-gui.desktop" << 1 << 1 << "glintor-gui"
                                      << QStringList();
    QTest::newRow("autostart, no user manager")
        << autostart << 1 << 1 << "glintor-service" << QStringList { "--user --quiet is-enabled glintor.service" };
    QTest::newRow("autostart, unit not enabled")
        << autostart << 0 << 1 << "glintor-service" << QStringList { "--user --quiet is-enabled glintor.service" };
    QTest::newRow("autostart, unit enabled")
        << autostart << 0 << 0 << QString()
        << QStringList { "--user --quiet is-enabled glintor.service", "--user import-environment DISPLAY XAUTHORITY WAYLAND_DISPLAY",
               "--user start glintor.service" };
}

// Launches the odd prefix's entries as a desktop does (gio: GLib's launcher), with a stand-in
// systemctl: the right program starts, by its whole path, and nothing in the path runs.
void TestInstall::entryLaunches()
{
    QFETCH(QString, entry);
    QFETCH(int, systemctlStatus);
    QFETCH(int, enabledStatus);
    QFETCH(QString, program);
    QFETCH(QStringList, systemctlCalls);

    QTemporaryDir work;
    QVERIFY(writeFakeSystemctl(work.path()));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PATH", work.path() + ':' + environment.value("PATH"));
    environment.insert("FAKE_SYSTEMCTL_LOG", work.filePath("systemctl.log"));
    environment.insert("FAKE_SYSTEMCTL_STATUS", QString::number(systemctlStatus));
    environment.insert("FAKE_SYSTEMCTL_ENABLED", QString::number(enabledStatus));
    environment.insert("LAUNCH_LOG", work.filePath("launched.log"));
    const CommandResult launch = runCommand("gio", { "launch", oddPrefix + entry }, 30000, environment, work.path());
    QVERIFY2(launch.succeeded(), qPrintable(launch.describe()));

    // The command runs on after gio has returned.
    QTRY_COMPARE(
        QString::fromUtf8(readFile(work.filePath("systemctl.log"))).split('\n', Qt::SkipEmptyParts), systemctlCalls);
    QTRY_COMPARE(QString::fromUtf8(readFile(work.filePath("launched.log"))),
        program.isEmpty() ? QString() : oddPrefix + "/bin/" + program + '\n');
    QVERIFY(!QFileInfo::exists(work.filePath("INJECTED")));
}

void TestInstall::versionFile()
{
    const QByteArray content = readFile(installed("/usr/share/glintor/version.txt"));
    QCOMPARE(QString::fromUtf8(content).split('\n').first(), QStringLiteral(GLINTOR_VERSION));
}

// The installed settings program finds the installed version file beside its own prefix. A probe
// linked with the same window code stands next to it in DESTDIR/usr/bin and reads the About box.
void TestInstall::aboutBoxFindsInstalledVersion()
{
    for (const char *shadow : { "/usr/share/glintor/version.txt", "/usr/local/share/glintor/version.txt" }) {
        if (QFileInfo::exists(QString::fromLatin1(shadow)))
            QSKIP(qPrintable(QStringLiteral("%1 exists on this machine and is found before the DESTDIR copy").arg(shadow)));
    }
    const QString probe = installed("/usr/bin/glintor-about-probe");
    QVERIFY(QFile::copy(QStringLiteral(ABOUT_PROBE), probe));

    // Neither the working folder nor its parent holds a version.txt.
    const QString workingDirectory = scratch.filePath(QStringLiteral("cwd/inner"));
    QVERIFY(QDir().mkpath(workingDirectory));
    QTemporaryDir bin;
    QVERIFY(writeFakeSystemctl(bin.path()));
    QProcessEnvironment environment = quietEnvironment();
    environment.insert("PATH", bin.path() + ':' + environment.value("PATH"));
    environment.insert("FAKE_SYSTEMCTL_LOG", bin.filePath("systemctl.log"));
    environment.insert("FAKE_SYSTEMCTL_STATUS", "3");

    const CommandResult about = runCommand(probe, {}, 60000, environment, workingDirectory);
    QFile::remove(probe);
    QVERIFY2(about.succeeded(), qPrintable(about.describe()));
    const QString text = QString::fromUtf8(about.out).trimmed();
    QVERIFY2(text.endsWith(QStringLiteral("版本 ") + QStringLiteral(GLINTOR_VERSION)), qPrintable(text));
}

void TestInstall::installedService_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("withDisplay");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");

    QTest::newRow("help") << QStringList { "--help" } << true << 0 << "Usage:";
    QTest::newRow("no display") << QStringList() << false << 1 << "No graphical display found";
}

void TestInstall::installedService()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, withDisplay);
    QFETCH(int, exitCode);
    QFETCH(QString, output);

    QProcessEnvironment environment = quietEnvironment();
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    if (withDisplay)
        environment.insert("DISPLAY", ":0");
    const CommandResult run = runCommand(installed("/usr/bin/glintor-service"), arguments, 30000, environment);
    QVERIFY2(run.finished, qPrintable(run.describe()));
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(QString::fromUtf8(run.out + run.err).contains(output), qPrintable(run.describe()));
}

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
