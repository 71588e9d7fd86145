// Builds the Debian package with CPack from the build tree and checks what dpkg would install:
// its name, its fields and dependencies, its files and the paths inside them, and lintian's verdict.

#include "installtools.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

class TestPackage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void fileName();
    void field_data();
    void field();
    void dependency_data();
    void dependency();
    void content_data();
    void content();
    void installedPaths_data();
    void installedPaths();
    void conffiles();
    void metainfoValidates();
    void lintianFindsNoError();

private:
    QString field(const QString &name);

    QTemporaryDir work;
    QString package;
    QString extracted;
};

void TestPackage::initTestCase()
{
    QVERIFY(work.isValid());
    const CommandResult cpack = runCommand(QStringLiteral(CPACK_COMMAND_PATH),
                                           { QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("--config"),
                                             QStringLiteral(GLINTOR_BUILD_DIR "/CPackConfig.cmake"), QStringLiteral("-B"),
                                             work.path() },
                                           300000);
    QVERIFY2(cpack.succeeded(), qPrintable(cpack.describe()));
    const QStringList packages = QDir(work.path()).entryList({ QStringLiteral("*.deb") }, QDir::Files);
    QCOMPARE(packages.size(), 1);
    package = work.filePath(packages.first());

    extracted = work.filePath(QStringLiteral("root"));
    const CommandResult extract = runCommand(QStringLiteral("dpkg-deb"), { QStringLiteral("-x"), package, extracted });
    QVERIFY2(extract.succeeded(), qPrintable(extract.describe()));
}

QString TestPackage::field(const QString &name)
{
    const CommandResult result = runCommand(QStringLiteral("dpkg-deb"), { QStringLiteral("-f"), package, name });
    return result.succeeded() ? QString::fromUtf8(result.out).trimmed() : QString();
}

void TestPackage::fileName()
{
    const CommandResult architecture = runCommand(QStringLiteral("dpkg"), { QStringLiteral("--print-architecture") });
    QVERIFY(architecture.succeeded());
    QCOMPARE(QFileInfo(package).fileName(),
             QStringLiteral("glintor_%1_%2.deb").arg(QStringLiteral(GLINTOR_VERSION), QString::fromUtf8(architecture.out).trimmed()));
}

void TestPackage::field_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");

    QTest::newRow("package") << "Package" << "glintor";
    QTest::newRow("version") << "Version" << GLINTOR_VERSION;
    QTest::newRow("section") << "Section" << "x11";
}

void TestPackage::field()
{
    QFETCH(QString, name);
    QFETCH(QString, value);
    QCOMPARE(field(name), value);
}

void TestPackage::dependency_data()
{
    QTest::addColumn<QString>("library");

    // Debian's names of the libraries of the Qt this was built with (the package is the release's own).
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    QTest::newRow("Qt widgets") << "libqt6widgets6";
    QTest::newRow("Qt gui") << "libqt6gui6";
    QTest::newRow("Qt core") << "libqt6core6"; // "libqt6core6t64" since Debian 13's 64-bit time_t
    QTest::newRow("Qt D-Bus") << "libqt6dbus6";
    QTest::newRow("Qt's Wayland platform") << "qt6-wayland";
    QTest::newRow("layer-shell-qt's library") << "liblayershellqtinterface6";
#else
    QTest::newRow("Qt widgets") << "libqt5widgets5";
    QTest::newRow("Qt gui") << "libqt5gui5";
    QTest::newRow("Qt core") << "libqt5core5a";
    QTest::newRow("Qt D-Bus") << "libqt5dbus5";
    QTest::newRow("Qt's Wayland platform") << "qtwayland5";
    QTest::newRow("layer-shell-qt's library") << "liblayershellqtinterface5";
#endif
    QTest::newRow("Xlib") << "libx11-6";
    QTest::newRow("layer surfaces for Qt") << "layer-shell-qt";
}

void TestPackage::dependency()
{
    QFETCH(QString, library);

    const QString depends = field(QStringLiteral("Depends"));
    QStringList names;
    for (const QString &alternatives : depends.split(',')) {
        for (const QString &one : alternatives.split('|'))
            names << one.trimmed().section(' ', 0, 0);
    }
    QVERIFY2(names.contains(library) || names.contains(library + QLatin1String("t64")), qPrintable(depends));
}

void TestPackage::content_data()
{
    QTest::addColumn<QString>("path");

    QTest::newRow("service program") << "./usr/bin/glintor-service";
    QTest::newRow("settings program") << "./usr/bin/glintor-gui";
    QTest::newRow("locate command") << "./usr/bin/glintor-locate";
    QTest::newRow("AppStream metadata") << "./usr/share/metainfo/org.glintor.Glintor.metainfo.xml";
    QTest::newRow("user unit") << "./usr/lib/systemd/user/glintor.service";
    QTest::newRow("desktop entry") << "./usr/share/applications/glintor-gui.desktop";
    QTest::newRow("autostart entry") << "./etc/xdg/autostart/glintor.desktop";
    QTest::newRow("icon") << "./usr/share/icons/hicolor/scalable/apps/glintor.svg";
    QTest::newRow("version file") << "./usr/share/glintor/version.txt";
    QTest::newRow("english catalogue") << "./usr/share/glintor/translations/glintor_en.qm";
    QTest::newRow("copyright") << "./usr/share/doc/glintor/copyright";
    QTest::newRow("GNOME Shell extension") << "./usr/share/gnome-shell/extensions/glintor@glintor.org/extension.js";
    QTest::newRow("its metadata") << "./usr/share/gnome-shell/extensions/glintor@glintor.org/metadata.json";
}

void TestPackage::content()
{
    QFETCH(QString, path);

    const CommandResult list = runCommand(QStringLiteral("dpkg-deb"), { QStringLiteral("-c"), package });
    QVERIFY2(list.succeeded(), qPrintable(list.describe()));
    QStringList paths;
    for (const QString &line : QString::fromUtf8(list.out).split('\n', Qt::SkipEmptyParts))
        paths << line.section(' ', -1);
    QVERIFY2(paths.contains(path), qPrintable(paths.join('\n')));
}

// CPack installs through DESTDIR with the /usr prefix: the files must name /usr, not the build's prefix.
void TestPackage::installedPaths_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("wholeLine");

    QTest::newRow("unit") << "/usr/lib/systemd/user/glintor.service" << "ExecStart=/usr/bin/glintor-service" << true;
    QTest::newRow("desktop entry") << "/usr/share/applications/glintor-gui.desktop" << "Exec=/usr/bin/glintor-gui" << true;
    QTest::newRow("autostart entry") << "/etc/xdg/autostart/glintor.desktop" << "exec /usr/bin/glintor-service\"" << false;
    QTest::newRow("version") << "/usr/share/glintor/version.txt" << GLINTOR_VERSION << true;
    QTest::newRow("AppStream release") << "/usr/share/metainfo/org.glintor.Glintor.metainfo.xml"
                                       << "<release version=\"" GLINTOR_VERSION "\"" << false;
    QTest::newRow("GNOME Shell extension's version")
        << "/usr/share/gnome-shell/extensions/glintor@glintor.org/extension.js"
        << "const VERSION = '" GLINTOR_VERSION "';" << true;
}

void TestPackage::installedPaths()
{
    QFETCH(QString, path);
    QFETCH(QString, text);
    QFETCH(bool, wholeLine);

    const QString content = QString::fromUtf8(readFile(extracted + path));
    if (wholeLine)
        QVERIFY2(content.split('\n').contains(text), qPrintable(content));
    else
        QVERIFY2(content.contains(text), qPrintable(content));
}

void TestPackage::conffiles()
{
    const QString control = work.filePath(QStringLiteral("control"));
    const CommandResult result = runCommand(QStringLiteral("dpkg-deb"), { QStringLiteral("-e"), package, control });
    QVERIFY2(result.succeeded(), qPrintable(result.describe()));
    QCOMPARE(QString::fromUtf8(readFile(control + QStringLiteral("/conffiles"))).split('\n', Qt::SkipEmptyParts),
             QStringList { QStringLiteral("/etc/xdg/autostart/glintor.desktop") });
}

void TestPackage::metainfoValidates()
{
    const CommandResult validate = runCommand(QStringLiteral("appstreamcli"),
        { QStringLiteral("validate"), QStringLiteral("--no-net"),
            extracted + QStringLiteral("/usr/share/metainfo/org.glintor.Glintor.metainfo.xml") });
    QVERIFY2(validate.succeeded(), qPrintable(validate.describe()));
}

void TestPackage::lintianFindsNoError()
{
    const CommandResult lintian = runCommand(QStringLiteral("lintian"), { QStringLiteral("--tag-display-limit"), QStringLiteral("0"), package }, 300000);
    QVERIFY2(lintian.finished, qPrintable(lintian.describe()));
    const QStringList tags = QString::fromUtf8(lintian.out).split('\n', Qt::SkipEmptyParts);
    for (const QString &tag : tags)
        qInfo("lintian: %s", qPrintable(tag));
    QVERIFY2(tags.filter(QRegularExpression(QStringLiteral("^E: "))).isEmpty(), qPrintable(tags.join('\n')));
    QVERIFY2(lintian.exitCode == 0, qPrintable(lintian.describe()));
}

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
