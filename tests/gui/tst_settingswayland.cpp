// The settings window as a client of a private headless sway: the rows of the triggers a layer-shell
// desktop keeps from every program are greyed under the reason, weston (no layer-shell) gets a note
// and nothing greyed, and "试一试" asks the running service on the session bus.

#include "fakesystemctl.h"
#include "glintor-gui.h"
#include "guitest.h"
#include "locatebus.h"
#include "sessionbus.h"
#include "translationloader.h"
#include "waylandserver.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTranslator>

#include <memory>
#include <optional>

using Kind = std::optional<WaylandServer::Kind>;
Q_DECLARE_METATYPE(Kind)

namespace {

// The settings' widgets greyed on their own (not through a greyed parent), by name or, for form
// labels, text.
QStringList greyed(QWidget *window)
{
    QStringList names;
    for (QWidget *widget : namedChild<QGroupBox>(window, "settingsGroup")->findChildren<QWidget *>()) {
        if (widget->isEnabled() || !widget->parentWidget()->isEnabled())
            continue;
        auto *label = qobject_cast<QLabel *>(widget);
        names << (widget->objectName().isEmpty() && label ? label->text() : widget->objectName());
    }
    names.sort();
    return names;
}

// The service's object as far as the window uses it: records each TryEffect, answers or not.
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
        // Never answered: the caller's timeout decides.
        call.setDelayedReply(!answers);
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
    void initTestCase();
    void cleanup();

    void desktopDecidesWhatIsGreyed_data();
    void desktopDecidesWhatIsGreyed();
    void reasonKeepsItsRoomInEitherLanguage();
    void tryItAsksTheService_data();
    void tryItAsksTheService();

private:
    WaylandServer &sway;
    SessionBus &bus;
    FakeSystemctl systemctl;
    std::unique_ptr<QTranslator> translator;
};

void TestSettingsWayland::initTestCase()
{
    if (!sway.isRunning())
        QSKIP(
            qPrintable(QStringLiteral("no headless sway: ") + WaylandServer::missingTools(WaylandServer::Kind::Sway)));
    QVERIFY(QGuiApplication::platformName().startsWith(QLatin1String("wayland")));
    QVERIFY(bus.isRunning());
    QVERIFY(systemctl.isValid());
    systemctl.installOnPath();
    // Floating, the window keeps the size it asks for instead of a tile of the output.
    bool floating = false;
    sway.swaymsg({ QStringLiteral("for_window [title=\".*\"] floating enable") }, &floating);
    QVERIFY(floating);
}

void TestSettingsWayland::cleanup()
{
    qputenv("WAYLAND_DISPLAY", QFile::encodeName(sway.waylandDisplay()));
    translator.reset();
    QLocale::setDefault(QLocale::system());
    removeSettingsFile();
}

void TestSettingsWayland::desktopDecidesWhatIsGreyed_data()
{
    QTest::addColumn<Kind>("desktop"); // none: WAYLAND_DISPLAY unset
    QTest::addColumn<QStringList>("greyedRows");
    QTest::addColumn<QString>("shownLine"); // the object name of the line that explains, if any

    QStringList inputRows { "enableShakeCheck", "摇晃距离 (px):", "shakeDistanceSpin", "(范围: 10-1000 px)",
        "摇晃窗口 (ms):", "shakeWindowMsSpin", "(范围: 100-5000 ms)", "所需交替次数:", "shakeAlternationsSpin",
        "(范围: 1-10 次)", "快捷键:", "hotkeyEdit", "clearHotkeyButton", "hotkeyHint", "enableCtrlTapCheck" };
    inputRows.sort();
    QTest::newRow("sway: the input rows greyed under the reason")
        << Kind(WaylandServer::Kind::Sway) << inputRows << "waylandReason";
    QTest::newRow("weston: a note under the status, nothing greyed")
        << Kind(WaylandServer::Kind::Weston) << QStringList() << "waylandNote";
    QTest::newRow("no Wayland display: as on X11") << Kind() << QStringList() << QString();
}

void TestSettingsWayland::desktopDecidesWhatIsGreyed()
{
    QFETCH(Kind, desktop);
    QFETCH(QStringList, greyedRows);
    QFETCH(QString, shownLine);

    std::unique_ptr<WaylandServer> weston;
    if (desktop == WaylandServer::Kind::Weston) {
        weston = std::make_unique<WaylandServer>(WaylandServer::Kind::Weston);
        if (!weston->isRunning())
            QSKIP(qPrintable(QStringLiteral("no weston: ") + WaylandServer::missingTools(WaylandServer::Kind::Weston)));
        qputenv("WAYLAND_DISPLAY", QFile::encodeName(weston->waylandDisplay()));
    } else if (!desktop) {
        qunsetenv("WAYLAND_DISPLAY");
    }
    const QMap<QString, QVariant> stored { { "enableShake", false }, { "shakeDistance", 250 },
        { "shakeWindowMs", 1200 }, { "shakeAlternations", 6 }, { "hotkey", "Meta+F12" }, { "enableCtrlTap", true } };
    replaceSettings(stored);

    GlintorGUI window;
    namedChild<QTimer>(&window, "statusTimer")->stop();
    QCOMPARE(greyed(&window), greyedRows);
    auto *reason = window.findChild<QLabel *>(QStringLiteral("waylandReason"));
    auto *note = window.findChild<QLabel *>(QStringLiteral("waylandNote"));
    QCOMPARE(reason != nullptr, shownLine == QLatin1String("waylandReason"));
    QCOMPARE(note != nullptr, shownLine == QLatin1String("waylandNote"));
    if (reason) {
        QVERIFY2(reason->text().contains(QStringLiteral("glintor-locate")), qPrintable(reason->text()));
        QVERIFY(reason->textInteractionFlags() & Qt::TextSelectableByMouse);
        // Right above the first greyed row, inside the settings.
        auto *shake = namedChild<QWidget>(&window, "enableShakeCheck");
        QCOMPARE(reason->parentWidget(), shake->parentWidget());
        QVERIFY(reason->geometry().bottom() < shake->geometry().top());
        QVERIFY(reason->geometry().top() > namedChild<QWidget>(&window, "enableAnimationCheck")->geometry().bottom());
    }
    if (note) {
        QVERIFY2(note->text().contains(QStringLiteral("XWayland")), qPrintable(note->text()));
        QVERIFY(note->geometry().top() > namedChild<QWidget>(&window, "statusLabel")->geometry().bottom());
        QVERIFY(note->geometry().bottom() < namedChild<QWidget>(&window, "startButton")->geometry().top());
    }

    // Greyed values are still shown and saved as they were: nothing is lost for an X11 session.
    MessageBoxAnswerer answerer;
    namedChild<QPushButton>(&window, "saveButton")->click();
    const QMap<QString, QString> written = settingsOnDisk();
    for (auto it = stored.cbegin(); it != stored.cend(); ++it)
        QCOMPARE(written.value(it.key()), it.value().toString());
}

void TestSettingsWayland::reasonKeepsItsRoomInEitherLanguage()
{
    // The whole text within the label, the label within the settings, at the window's size.
    const auto fits = [](QLabel *label) {
        const QRect room = label->contentsRect();
        const QRect needed = label->fontMetrics().boundingRect(
            QRect(0, 0, room.width(), 10 * room.height()), Qt::TextWordWrap, label->text());
        return needed.width() <= room.width() && needed.height() <= room.height()
            && label->parentWidget()->contentsRect().contains(label->geometry());
    };

    GlintorGUI chinese;
    namedChild<QTimer>(&chinese, "statusTimer")->stop();
    QVERIFY(QTest::qWaitForWindowExposed(&chinese));
    auto *chineseReason = namedChild<QLabel>(&chinese, "waylandReason");
    QVERIFY2(fits(chineseReason), qPrintable(chineseReason->text()));

    QLocale::setDefault(QLocale(QStringLiteral("en_US")));
    translator = std::make_unique<QTranslator>();
    QVERIFY(installGlintorTranslation(*translator));
    GlintorGUI english;
    namedChild<QTimer>(&english, "statusTimer")->stop();
    QVERIFY(QTest::qWaitForWindowExposed(&english));
    auto *reason = namedChild<QLabel>(&english, "waylandReason");
    QVERIFY2(reason->text().startsWith(QStringLiteral("Wayland gives programs no")), qPrintable(reason->text()));
    QVERIFY2(fits(reason), qPrintable(reason->text()));
    // Of one height in both languages: the rows below it stay where they are.
    QCOMPARE(reason->height(), chineseReason->height());
}

void TestSettingsWayland::tryItAsksTheService_data()
{
    QTest::addColumn<bool>("serviceRuns");
    QTest::addColumn<bool>("answers");
    QTest::addColumn<int>("effect");
    QTest::addColumn<int>("colour");
    QTest::addColumn<QString>("locale");

    QTest::newRow("the service plays the window's choice") << true << true << 3 << 2 << "C";
    QTest::newRow("the service plays white fireworks") << true << true << 2 << 0 << "C";
    QTest::newRow("no service: start it first") << false << false << 1 << 1 << "C";
    QTest::newRow("no service, in English") << false << false << 1 << 1 << "en_US";
    QTest::newRow("a hung service: the call gives up") << true << false << 0 << 1 << "C";
}

void TestSettingsWayland::tryItAsksTheService()
{
    QFETCH(bool, serviceRuns);
    QFETCH(bool, answers);
    QFETCH(int, effect);
    QFETCH(int, colour);
    QFETCH(QString, locale);

    QLocale::setDefault(QLocale(locale));
    translator = std::make_unique<QTranslator>();
    installGlintorTranslation(*translator);
    FakeService service;
    service.answers = answers;
    const QString connectionName = QStringLiteral("fake-service");
    {
        QDBusConnection connection = QDBusConnection::connectToBus(bus.address(), connectionName);
        QVERIFY(connection.isConnected());
        if (serviceRuns) {
            QVERIFY(connection.registerObject(
                QLatin1String(LocateBus::ObjectPath), &service, QDBusConnection::ExportScriptableSlots));
            QVERIFY(connection.registerService(LocateBus::serviceName()));
        }
    }
    // The settings file says otherwise: the window's choice counts.
    replaceSettings({ { "animationEffect", 1 }, { "colorMode", 1 } });
    GlintorGUI window;
    namedChild<QTimer>(&window, "statusTimer")->stop();
    namedChild<QComboBox>(&window, "animationEffectCombo")->setCurrentIndex(effect);
    namedChild<QComboBox>(&window, "colorModeCombo")->setCurrentIndex(colour);

    MessageBoxAnswerer answerer;
    namedChild<QPushButton>(&window, "tryButton")->click();
    // The click returns before any answer: a box opened by a waiting call would be up by now.
    QVERIFY(answerer.boxes.isEmpty());
    if (serviceRuns)
        QTRY_COMPARE_WITH_TIMEOUT(service.tried, (QList<QPair<int, int>> { { effect, colour } }), 5000);
    if (answers) {
        // Any box would follow the reply at once; give it the events to open.
        QTest::qWait(100);
        QCOMPARE(answerer.boxes.size(), 0);
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(answerer.boxes.size(), 1, 10000);
        const bool english = locale.startsWith(QLatin1String("en"));
        QCOMPARE(answerer.boxes.at(0).title, english ? QStringLiteral("Information") : QStringLiteral("信息"));
        QCOMPARE(answerer.boxes.at(0).text,
            english ? QStringLiteral("On Wayland the preview is played by the running Glintor service: start the "
                                     "service first, then try again.")
                    : QStringLiteral("在 Wayland 上，预览由正在运行的 Glintor 服务播放：请先启动服务，再试一次。"));
    }
    QDBusConnection::disconnectFromBus(connectionName);
}

int main(int argc, char *argv[])
{
    // The window is a client of the private sway and reaches it by the socket's absolute path; its
    // own XDG_RUNTIME_DIR is left alone (under root the compositor's belongs to nobody).
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
