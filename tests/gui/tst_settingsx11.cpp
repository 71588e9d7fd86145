// The settings window on a real X server: "试一试" draws the effect chosen in the window at the
// pointer, with and without a compositing manager, and writes nothing; a save tells when another
// program holds the hotkey just chosen; the hotkey field on a keyboard without Latin letters.

#include "fakesystemctl.h"
#include "glintor-gui.h"
#include "guitest.h"
#include "imagecheck.h"
#include "serviceprocess.h"
#include "xserver.h"

#include <QComboBox>
#include <QCursor>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>

namespace {

// The key of a sequence's first combination, as QTest sends it.
Qt::Key firstKey(const QKeySequence &sequence)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return sequence[0].key(); // a QKeyCombination in Qt 6
#else
    return Qt::Key(sequence[0] & ~Qt::KeyboardModifierMask);
#endif
}

// Whether shot differs from before near the pointer and nowhere far from it.
bool changedOnlyAround(const QImage &shot, const QImage &before, const QPoint &pointer)
{
    bool near = false;
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            if (shot.pixel(x, y) == before.pixel(x, y))
                continue;
            if (qMax(qAbs(x - pointer.x()), qAbs(y - pointer.y())) > 161)
                return false;
            near = true;
        }
    }
    return near;
}

QByteArray fileContent(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
}

} // namespace

class TestSettingsX11 : public QObject
{
    Q_OBJECT

public:
    explicit TestSettingsX11(XServer &xserver)
        : x(xserver)
    {
    }

private slots:
    void tryItDrawsTheChoiceAtThePointer_data();
    void tryItDrawsTheChoiceAtThePointer();
    void saveTellsOfAHotkeyHeldElsewhere_data();
    void saveTellsOfAHotkeyHeldElsewhere();
    void hotkeyOnTheKeyboard_data();
    void hotkeyOnTheKeyboard();

private:
    XServer &x;
};

void TestSettingsX11::tryItDrawsTheChoiceAtThePointer_data()
{
    QTest::addColumn<bool>("compositor");
    QTest::addColumn<int>("effect");
    QTest::addColumn<int>("colour");
    QTest::addColumn<QPoint>("pointer");

    QTest::newRow("red rings, no compositing manager") << false << 1 << 1 << QPoint(700, 500);
    QTest::newRow("stars with xcompmgr") << true << 3 << 0 << QPoint(800, 200);
}

void TestSettingsX11::tryItDrawsTheChoiceAtThePointer()
{
    QFETCH(bool, compositor);
    QFETCH(int, effect);
    QFETCH(int, colour);
    QFETCH(QPoint, pointer);

    if (compositor)
        QVERIFY(x.startCompositor());
    // The settings file says otherwise, down to no animation at all: the window's choice counts.
    replaceSettings({ { "animationEffect", 2 }, { "colorMode", 2 }, { "enableAnimation", false } });
    const QByteArray stored = fileContent(settingsFilePath());
    GlintorGUI window;
    namedChild<QTimer>(&window, "statusTimer")->stop();
    window.move(0, 0);
    namedChild<QComboBox>(&window, "animationEffectCombo")->setCurrentIndex(effect);
    namedChild<QComboBox>(&window, "colorModeCombo")->setCurrentIndex(colour);
    auto *tryButton = namedChild<QPushButton>(&window, "tryButton");
    // Focused and painted before the picture to compare with.
    tryButton->setFocus();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCursor::setPos(pointer);
    QTRY_COMPARE(QCursor::pos(), pointer);
    QTest::qWait(200);
    const QImage before = x.screenshot();
    QVERIFY(!before.isNull());

    const QImage shot = screenshotUntil(x, [&](const QImage &image) {
        const bool seen = changedOnlyAround(image, before, pointer)
            && (colour != 1 || image.pixel(pointer) == qRgb(255, 0, 0)); // the red rings' solid core
        if (!seen)
            tryButton->click(); // a fresh animation for the next look
        return seen;
    });
    QVERIFY2(changedOnlyAround(shot, before, pointer), "nothing drawn at the pointer, or drawn elsewhere");
    QCOMPARE(fileContent(settingsFilePath()), stored);
    x.stopCompositor();
}

void TestSettingsX11::saveTellsOfAHotkeyHeldElsewhere_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QStringList>("titles"); // of the boxes the save shows

    // Another client holds Ctrl+Alt+M.
    QTest::newRow("chosen, held elsewhere") << "Ctrl+Shift+L" << "Ctrl+Alt+M" << QStringList { "信息", "成功" };
    QTest::newRow("chosen, free") << "Ctrl+Alt+M" << "Ctrl+Shift+K" << QStringList { "成功" };
    QTest::newRow("held elsewhere, but not a new choice") << "Ctrl+Alt+M" << "Ctrl+Alt+M" << QStringList { "成功" };
}

void TestSettingsX11::saveTellsOfAHotkeyHeldElsewhere()
{
    QFETCH(QString, stored);
    QFETCH(QString, chosen);
    QFETCH(QStringList, titles);

    QProcess holder;
    holder.setProcessEnvironment(x.environment());
    holder.start(builtProgram(QStringLiteral("hotkeyholder")), QStringList());
    QVERIFY(holder.waitForReadyRead(10000));
    QCOMPARE(holder.readLine().trimmed(), QByteArray("grabbed"));
    FakeSystemctl systemctl;
    systemctl.installOnPath();

    replaceSettings({ { "hotkey", stored } });
    GlintorGUI window;
    namedChild<QTimer>(&window, "statusTimer")->stop();
    namedChild<QKeySequenceEdit>(&window, "hotkeyEdit")
        ->setKeySequence(QKeySequence::fromString(chosen, QKeySequence::PortableText));
    MessageBoxAnswerer answerer;
    namedChild<QPushButton>(&window, "saveButton")->click();

    QStringList shown;
    for (const ShownBox &box : answerer.boxes)
        shown << box.title;
    QCOMPARE(shown, titles);
    if (titles.size() > 1)
        QVERIFY2(answerer.boxes.at(0).text.contains(QStringLiteral("Ctrl+Alt+M")), qPrintable(answerer.boxes.at(0).text));
    // Saved all the same.
    QCOMPARE(settingsOnDisk().value(QStringLiteral("hotkey")), chosen);
    holder.kill();
    holder.waitForFinished();
}

void TestSettingsX11::hotkeyOnTheKeyboard_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("throughQt"); // a key the keyboard lacks goes to the field as a Qt event, not by xdotool
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("refusal"); // the hint; none when taken

    QTest::newRow("Cyrillic soft sign with Ctrl+Alt") << "ru" << "ctrl+alt+Cyrillic_softsign" << false
                                                      << "Ctrl+Alt+Ь" << QString();
    QTest::newRow("keypad Enter") << "ru" << "ctrl+alt+KP_Enter" << false
                                  << "Ctrl+Alt+M"
                                  << "不能用“Ctrl+Alt+Num+Enter”：小键盘上的键不能作快捷键";
    // The stock keymap puts XF86Tools where F13 would be.
    QTest::newRow("F13, which the keyboard lacks") << "us" << "F13" << true
                                                   << "Ctrl+Alt+M" << "不能用“F13”：这个键盘上没有这个键";
}

void TestSettingsX11::hotkeyOnTheKeyboard()
{
    QFETCH(QString, layout);
    QFETCH(QString, typed);
    QFETCH(bool, throughQt);
    QFETCH(QString, shown);
    QFETCH(QString, refusal);

    bool ok = false;
    x.run(QStringLiteral("setxkbmap"), { QStringLiteral("-layout"), layout }, &ok);
    QVERIFY(ok);
    replaceSettings({});
    GlintorGUI window;
    namedChild<QTimer>(&window, "statusTimer")->stop();
    auto *edit = namedChild<QKeySequenceEdit>(&window, "hotkeyEdit");
    auto *hint = namedChild<QLabel>(&window, "hotkeyHint");
    const QString neutral = hint->text();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    edit->setFocus();
    QTRY_VERIFY(edit->hasFocus());

    QSignalSpy decided(edit, &QKeySequenceEdit::keySequenceChanged);
    if (throughQt)
        QTest::keyClick(edit, firstKey(QKeySequence::fromString(typed)));
    else
        QVERIFY(x.xdotool({ QStringLiteral("key"), typed }));
    const QString expectedHint = refusal.isEmpty() ? neutral : refusal;
    // The edit shows what is typed before it decides: wait for the combination it gives.
    QTRY_VERIFY_WITH_TIMEOUT(!decided.isEmpty() && !decided.constLast().at(0).value<QKeySequence>().isEmpty(), 5000);
    QCOMPARE(edit->keySequence().toString(QKeySequence::PortableText), shown);
    QCOMPARE(hint->text(), expectedHint);
    x.run(QStringLiteral("setxkbmap"), { QStringLiteral("-layout"), QStringLiteral("us") }, &ok);
    QVERIFY(ok);
}

int main(int argc, char *argv[])
{
    PrivateConfigHome configHome;
    // The window and its overlay must draw on this server: it starts before the application.
    XServer server(QSize(1024, 768));
    if (!server.isRunning())
        return 1;
    qputenv("DISPLAY", server.display().toLatin1());
    qputenv("QT_QPA_PLATFORM", "xcb");
    qunsetenv("WAYLAND_DISPLAY");
    QApplication app(argc, argv);
    TestSettingsX11 test(server);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settingsx11.moc"
