// The settings window as a client of a private headless sway: the rows of the triggers a layer-shell
// desktop keeps from programs are greyed under the reason, beside weston (no layer-shell) a note and
// nothing greyed, and "试一试" asks the running service on the session bus.

#include "fakesystemctl.h"
#include "glintor-gui.h"
#include "guitest.h"
#include "locatebus.h"
#include "sessionbus.h"
#include "translationloader.h"
#include "waylandserver.h"

#include <QComboBox>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTranslator>

#include <memory>

namespace {

// The service's object as far as the window uses it: records each TryEffect, answers or hangs.
class FakeService final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.glintor.Glintor")

public:
    bool answers = true;
    QList<QPair<int, int>> tried;

public slots:
    Q_SCRIPTABLE void TryEffect(int animationEffect, int colorMode, const QDBusMessage &call)
    {
        tried << qMakePair(animationEffect, colorMode);
        call.setDelayedReply(!answers); // and never replied to
    }
};

} // namespace

class TestSettingsWayland : public QObject {
    Q_OBJECT

public:
    TestSettingsWayland(WaylandServer &sway_, SessionBus &bus_)
        : sway(sway_)
        , bus(bus_)
    {
    }

private slots:
    void initTestCase()
    {
        if (!sway.isRunning())
            QSKIP(qPrintable(QStringLiteral("no sway: ") + WaylandServer::missingTools(WaylandServer::Kind::Sway)));
        QVERIFY(QGuiApplication::platformName().startsWith(QLatin1String("wayland")) && bus.isRunning());
        systemctl.installOnPath();
        // Floating, each window keeps the size it asks for instead of a tile of the output.
        bool floating = false;
        sway.swaymsg({ QStringLiteral("for_window [title=\".*\"] floating enable") }, &floating);
        QVERIFY(floating);
    }
    void cleanup()
    {
        qputenv("WAYLAND_DISPLAY", QFile::encodeName(sway.waylandDisplay()));
        translator.reset();
        QLocale::setDefault(QLocale::system());
        removeSettingsFile();
    }

    void desktopDecidesWhatIsGreyed_data();
    void desktopDecidesWhatIsGreyed();
    void reasonKeepsOneHeightInEitherLanguage();
    void tryItAsksTheService_data();
    void tryItAsksTheService();

private:
    void useLocale(const QString &name)
    {
        QLocale::setDefault(QLocale(name));
        translator = std::make_unique<QTranslator>();
        installGlintorTranslation(*translator);
    }

    WaylandServer &sway;
    SessionBus &bus;
    FakeSystemctl systemctl;
    std::unique_ptr<QTranslator> translator;
};

void TestSettingsWayland::desktopDecidesWhatIsGreyed_data()
{
    // "sway", "weston", none (WAYLAND_DISPLAY unset), or GNOME (weston with GNOME Shell's name on the
    // bus) and where Glintor's extension for it stands: "gnome:missing", "gnome:installed", "gnome:active"
    QTest::addColumn<QString>("desktop");
    QTest::addColumn<QStringList>("greyedRows"); // by object name or, for form labels, text
    // The line that explains, if any ("waylandReason", "waylandNote", "gnomeNote"), and what it says.
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("says");

    QStringList inputRows { "enableShakeCheck", "摇晃距离 (px):", "shakeDistanceSpin", "(范围: 10-1000 px)",
        "摇晃窗口 (ms):", "shakeWindowMsSpin", "(范围: 100-5000 ms)", "所需交替次数:", "shakeAlternationsSpin",
        "(范围: 1-10 次)", "快捷键:", "hotkeyEdit", "clearHotkeyButton", "hotkeyHint", "enableCtrlTapCheck" };
    inputRows.sort();
    QTest::newRow("sway: the input rows greyed under the reason") << "sway" << inputRows << "waylandReason"
                                                                  << "glintor-locate";
    QTest::newRow("weston: a note under the status, nothing greyed") << "weston" << QStringList() << "waylandNote"
                                                                     << "XWayland";
    QTest::newRow("no Wayland display: as on X11") << QString() << QStringList() << QString() << QString();
    // GNOME has a Ctrl tap of its own; the note says what to do about the extension.
    const QStringList ctrlTap { "enableCtrlTapCheck" };
    QTest::newRow("GNOME, the extension missing") << "gnome:missing" << ctrlTap << "gnomeNote" << "scripts/run";
    QTest::newRow("GNOME, the extension installed")
        << "gnome:installed" << ctrlTap << "gnomeNote" << "已安装但未启用，服务只在指针和按键位于 X11 窗口上时";
    QTest::newRow("GNOME, the extension active") << "gnome:active" << ctrlTap << "gnomeNote" << "已启用";
}

void TestSettingsWayland::desktopDecidesWhatIsGreyed()
{
    QFETCH(QString, desktop);
    QFETCH(QStringList, greyedRows);
    QFETCH(QString, line);
    QFETCH(QString, says);

    std::unique_ptr<WaylandServer> weston;
    QTemporaryDir data;
    QDBusConnection session = QDBusConnection::sessionBus();
    const QStringList names { "org.gnome.Shell", "org.glintor.ShellExtension" };
    auto leave = qScopeGuard([&] {
        for (const QString &name : names)
            session.unregisterService(name);
        qunsetenv("XDG_DATA_HOME");
    });
    if (desktop.startsWith(QLatin1String("gnome"))) {
        QVERIFY(session.registerService(names.at(0)));
        if (desktop.endsWith(QLatin1String("active")))
            QVERIFY(session.registerService(names.at(1)));
        qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
        if (desktop.endsWith(QLatin1String("installed"))) {
            QVERIFY(QDir(data.path()).mkpath(QStringLiteral("gnome-shell/extensions/glintor@glintor.org")));
            QFile metadata(data.filePath(QStringLiteral("gnome-shell/extensions/glintor@glintor.org/metadata.json")));
            QVERIFY(metadata.open(QIODevice::WriteOnly) && metadata.write("{}") == 2);
        }
    }
    if (desktop == QLatin1String("weston") || desktop.startsWith(QLatin1String("gnome"))) {
        weston = std::make_unique<WaylandServer>(WaylandServer::Kind::Weston);
        QVERIFY2(weston->isRunning(), qPrintable(WaylandServer::missingTools(WaylandServer::Kind::Weston)));
        qputenv("WAYLAND_DISPLAY", QFile::encodeName(weston->waylandDisplay()));
    } else if (desktop.isEmpty()) {
        qunsetenv("WAYLAND_DISPLAY");
    }
    const QMap<QString, QVariant> stored { { "enableShake", false }, { "shakeDistance", 250 },
        { "shakeWindowMs", 1200 }, { "shakeAlternations", 6 }, { "hotkey", "Meta+F12" }, { "enableCtrlTap", true } };
    replaceSettings(stored);

    GlintorGUI window;
    namedChild<QTimer>(&window, "statusTimer")->stop();
    QStringList greyed; // on their own, not through a greyed parent
    for (QWidget *widget : namedChild<QGroupBox>(&window, "settingsGroup")->findChildren<QWidget *>()) {
        if (!widget->isEnabled() && widget->parentWidget()->isEnabled())
            greyed << (widget->objectName().isEmpty() ? qobject_cast<QLabel *>(widget)->text() : widget->objectName());
    }
    greyed.sort();
    QCOMPARE(greyed, greyedRows);
    const QList<QLabel *> lines = { window.findChild<QLabel *>(QStringLiteral("waylandReason")),
        window.findChild<QLabel *>(QStringLiteral("waylandNote")), window.findChild<QLabel *>(QStringLiteral("gnomeNote")) };
    QCOMPARE(lines.count(nullptr), line.isEmpty() ? 3 : 2);
    if (!line.isEmpty())
        QVERIFY2(namedChild<QLabel>(&window, qPrintable(line))->text().contains(says),
            qPrintable(namedChild<QLabel>(&window, qPrintable(line))->text()));
    // The reason right above the first greyed row, with the command to copy; the note under the status.
    const auto below = [&](const char *upper, QWidget *lower) {
        return namedChild<QWidget>(&window, upper)->geometry().bottom() < lower->geometry().top();
    };
    if (QLabel *reason = lines.at(0)) {
        QVERIFY2(reason->text().contains(QStringLiteral("glintor-locate")), qPrintable(reason->text()));
        QVERIFY(reason->textInteractionFlags() & Qt::TextSelectableByMouse);
        QVERIFY(below("enableAnimationCheck", reason)
            && below("waylandReason", namedChild<QWidget>(&window, "enableShakeCheck")));
    }
    for (QLabel *note : { lines.at(1), lines.at(2) }) {
        if (note)
            QVERIFY(below("statusLabel", note) && note->geometry().bottom() < namedChild<QWidget>(&window, "startButton")->geometry().top());
    }
    if (lines.at(2))
        QVERIFY(below("ctrlTapReason", namedChild<QWidget>(&window, "enableCtrlTapCheck")));
    // Greyed values are still shown and saved as they were: nothing is lost for an X11 session.
    MessageBoxAnswerer answerer;
    namedChild<QPushButton>(&window, "saveButton")->click();
    for (auto it = stored.cbegin(); it != stored.cend(); ++it)
        QCOMPARE(settingsOnDisk().value(it.key()), it.value().toString());
}

void TestSettingsWayland::reasonKeepsOneHeightInEitherLanguage()
{
    QList<int> heights;
    for (const QString &locale : { QStringLiteral("C"), QStringLiteral("en_US") }) {
        useLocale(locale);
        GlintorGUI window;
        namedChild<QTimer>(&window, "statusTimer")->stop();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *reason = namedChild<QLabel>(&window, "waylandReason");
        // The whole text within the label at the window's size, the label within the settings.
        const QRect room = reason->contentsRect();
        const QRect needed = reason->fontMetrics().boundingRect(
            QRect(0, 0, room.width(), 10 * room.height()), Qt::TextWordWrap, reason->text());
        QVERIFY2(needed.width() <= room.width() && needed.height() <= room.height(), qPrintable(reason->text()));
        QVERIFY(reason->parentWidget()->contentsRect().contains(reason->geometry()));
        heights << reason->height();
    }
    QVERIFY(translator->language().startsWith(QLatin1String("en")));
    QCOMPARE(heights.at(1), heights.at(0));
}

void TestSettingsWayland::tryItAsksTheService_data()
{
    QTest::addColumn<bool>("serviceRuns");
    QTest::addColumn<bool>("answers");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("box"); // none when the service answers

    const QString chinese
        = QStringLiteral("在 Wayland 上，预览由正在运行的 Glintor 服务播放：请先启动服务，再试一次。");
    QTest::newRow("the service plays the window's choice") << true << true << "C" << QString();
    QTest::newRow("no service: start it first") << false << false << "C" << chinese;
    QTest::newRow("no service, in English") << false << false << "en_US"
                                            << "On Wayland the preview is played by the running Glintor service: "
                                               "start the service first, then try again.";
    QTest::newRow("a hung service: the call gives up") << true << false << "C" << chinese;
}

void TestSettingsWayland::tryItAsksTheService()
{
    QFETCH(bool, serviceRuns);
    QFETCH(bool, answers);
    QFETCH(QString, locale);
    QFETCH(QString, box);

    useLocale(locale);
    FakeService service;
    service.answers = answers;
    QDBusConnection connection = QDBusConnection::connectToBus(bus.address(), QStringLiteral("fake-service"));
    if (serviceRuns) {
        QVERIFY(connection.registerObject(
            QLatin1String(LocateBus::ObjectPath), &service, QDBusConnection::ExportScriptableSlots));
        QVERIFY(connection.registerService(LocateBus::serviceName(true)));
    }
    // The settings file says otherwise: the window's choice counts.
    replaceSettings({ { "animationEffect", 1 }, { "colorMode", 1 } });
    GlintorGUI window;
    namedChild<QTimer>(&window, "statusTimer")->stop();
    namedChild<QComboBox>(&window, "animationEffectCombo")->setCurrentIndex(3);
    namedChild<QComboBox>(&window, "colorModeCombo")->setCurrentIndex(2);

    MessageBoxAnswerer answerer;
    namedChild<QPushButton>(&window, "tryButton")->click();
    // The click returns before any answer: a box opened by a waiting call would be up by now.
    QVERIFY(answerer.boxes.isEmpty());
    if (serviceRuns)
        QTRY_COMPARE_WITH_TIMEOUT(service.tried, (QList<QPair<int, int>> { { 3, 2 } }), 5000);
    if (box.isEmpty()) {
        QTest::qWait(100); // a box would follow the reply at once
        QCOMPARE(answerer.boxes.size(), 0);
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(answerer.boxes.size(), 1, 10000);
        QCOMPARE(answerer.boxes.at(0).text, box);
    }
    connection.unregisterService(LocateBus::serviceName(true));
    connection.unregisterObject(QLatin1String(LocateBus::ObjectPath));
}

int main(int argc, char *argv[])
{
    // The window reaches the private sway by the socket's absolute path; its own XDG_RUNTIME_DIR is
    // left alone (under root the compositor's belongs to nobody).
    WaylandServer sway(WaylandServer::Kind::Sway, QSize(1280, 800));
    SessionBus bus;
    if (sway.isRunning()) {
        qputenv("WAYLAND_DISPLAY", QFile::encodeName(sway.waylandDisplay()));
        qputenv("QT_QPA_PLATFORM", "wayland");
        qunsetenv("DISPLAY");
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address().toUtf8());
    PrivateConfigHome configHome;
    QApplication app(argc, argv);
    TestSettingsWayland test(sway, bus);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settingswayland.moc"
