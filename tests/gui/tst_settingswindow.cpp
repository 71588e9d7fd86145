// The settings window against its settings file: what it shows, what a save writes, what a restore
// of the defaults clears, and the systemctl calls each of them makes.

#include "fakesystemctl.h"
#include "glintor-gui.h"
#include "guitest.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QMetaMethod>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTimer>

#include <csignal>
#include <optional>

#include <sys/resource.h>
#include <unistd.h>

using Settings = QMap<QString, QVariant>;
using FileKeys = QMap<QString, QString>;

namespace {

// What the settings widgets show.
struct Shown {
    int colorMode;
    int animationEffect;
    bool enableAnimation;
    bool enableShake;
    int shakeDistance;
    int shakeWindowMs;
    int shakeAlternations;
    QString hotkey = QStringLiteral("Ctrl+Alt+M");
    bool enableCtrlTap = false;

    bool operator==(const Shown &other) const
    {
        return colorMode == other.colorMode && animationEffect == other.animationEffect
            && enableAnimation == other.enableAnimation && enableShake == other.enableShake
            && shakeDistance == other.shakeDistance && shakeWindowMs == other.shakeWindowMs
            && shakeAlternations == other.shakeAlternations && hotkey == other.hotkey
            && enableCtrlTap == other.enableCtrlTap;
    }
};

const Shown Defaults { 1, 0, true, true, 80, 700, 3 };

Shown shownBy(QObject *window)
{
    return { namedChild<QComboBox>(window, "colorModeCombo")->currentIndex(),
             namedChild<QComboBox>(window, "animationEffectCombo")->currentIndex(),
             namedChild<QCheckBox>(window, "enableAnimationCheck")->isChecked(),
             namedChild<QCheckBox>(window, "enableShakeCheck")->isChecked(),
             namedChild<QSpinBox>(window, "shakeDistanceSpin")->value(),
             namedChild<QSpinBox>(window, "shakeWindowMsSpin")->value(),
             namedChild<QSpinBox>(window, "shakeAlternationsSpin")->value(),
             namedChild<QKeySequenceEdit>(window, "hotkeyEdit")->keySequence().toString(QKeySequence::PortableText),
             namedChild<QCheckBox>(window, "enableCtrlTapCheck")->isChecked() };
}

FileKeys fileKeys(int colorMode, int animationEffect, bool enableAnimation, bool enableShake, int shakeDistance,
                  int shakeWindowMs, int shakeAlternations, const QString &hotkey = QStringLiteral("Ctrl+Alt+M"),
                  bool enableCtrlTap = false)
{
    const auto flag = [](bool value) { return value ? QStringLiteral("true") : QStringLiteral("false"); };
    return { { QStringLiteral("colorMode"), QString::number(colorMode) },
             { QStringLiteral("animationEffect"), QString::number(animationEffect) },
             { QStringLiteral("enableAnimation"), flag(enableAnimation) },
             { QStringLiteral("enableShake"), flag(enableShake) },
             { QStringLiteral("shakeDistance"), QString::number(shakeDistance) },
             { QStringLiteral("shakeWindowMs"), QString::number(shakeWindowMs) },
             { QStringLiteral("shakeAlternations"), QString::number(shakeAlternations) },
             { QStringLiteral("hotkey"), hotkey },
             { QStringLiteral("enableCtrlTap"), flag(enableCtrlTap) } };
}

QStringList restartCalls()
{
    return { QStringLiteral("--user daemon-reload"), QStringLiteral("--user stop glintor.service"),
             QStringLiteral("--user start glintor.service") };
}

// Every call but the status queries, which the 5 s timer may add at any time.
QStringList callsBesideStatus(const FakeSystemctl &systemctl)
{
    QStringList calls = systemctl.calls();
    calls.removeAll(QStringLiteral("--user is-active glintor.service"));
    return calls;
}

void stopStatusTimer(QObject *window)
{
    namedChild<QTimer>(window, "statusTimer")->stop();
}

// Ways a save or restore can fail to reach the file; all but the read-only folder stop root too.
enum class Trouble { PlainFileAsFolder, FolderAsFile, ReadOnlyFolder, FullDisk, Damaged, DamagedOnFullDisk };

// While it lives, no file of this process may grow, as on a full disk.
struct FullDisk {
    rlimit saved {};
    FullDisk()
    {
        std::signal(SIGXFSZ, SIG_IGN); // a write then fails with EFBIG instead of ending the process
        getrlimit(RLIMIT_FSIZE, &saved);
        const rlimit none { 0, saved.rlim_max };
        setrlimit(RLIMIT_FSIZE, &none);
    }
    ~FullDisk() { setrlimit(RLIMIT_FSIZE, &saved); }
};

} // namespace

Q_DECLARE_METATYPE(Shown)
Q_DECLARE_METATYPE(Trouble)
Q_DECLARE_METATYPE(QMessageBox::StandardButton)

namespace QTest {
template<>
char *toString(const Shown &shown)
{
    return qstrdup(QStringLiteral("colour %1, effect %2, animation %3, shake %4, %5 px, %6 ms, %7 alternations, "
                                  "hotkey %8, Ctrl tap %9")
                       .arg(shown.colorMode)
                       .arg(shown.animationEffect)
                       .arg(shown.enableAnimation)
                       .arg(shown.enableShake)
                       .arg(shown.shakeDistance)
                       .arg(shown.shakeWindowMs)
                       .arg(shown.shakeAlternations)
                       .arg(shown.hotkey)
                       .arg(shown.enableCtrlTap)
                       .toUtf8()
                       .constData());
}
} // namespace QTest

class TestSettingsWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void slotsInMetaObjectOrder();
    void showsTheSettingsFile_data();
    void showsTheSettingsFile();
    void hotkeyFieldTakesWhatTheServiceCanGrab_data();
    void hotkeyFieldTakesWhatTheServiceCanGrab();
    void spinBoxesKeepToTheirRanges_data();
    void spinBoxesKeepToTheirRanges();
    void saveWritesAllKeysThenRestarts_data();
    void saveWritesAllKeysThenRestarts();
    void declinedRestoreChangesNothing_data();
    void declinedRestoreChangesNothing();
    void confirmedRestoreClearsTheFileAndRestarts();
    void restartFollowsOnlyAWrittenFile_data();
    void restartFollowsOnlyAWrittenFile();

private:
    FakeSystemctl systemctl;
};

void TestSettingsWindow::initTestCase()
{
    QVERIFY(systemctl.isValid());
    systemctl.installOnPath();
}

void TestSettingsWindow::init()
{
    removeSettingsFile();
    systemctl.clearCalls();
}

void TestSettingsWindow::slotsInMetaObjectOrder()
{
    const QMetaObject &meta = GlintorGUI::staticMetaObject;
    const QStringList expected = { "startService()",     "stopService()",        "restartService()",
                                   "manualRestartService()", "doRestartService()", "checkServiceStatus()",
                                   "saveSettings()",     "loadSettings()",       "restoreDefaultSettings()",
                                   "readVersionFromFile()", "showAbout()" };
    QStringList found;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        const QMetaMethod method = meta.method(i);
        QCOMPARE(method.methodType(), QMetaMethod::Slot);
        QCOMPARE(method.access(), QMetaMethod::Private);
        found << QString::fromLatin1(method.methodSignature());
    }
    QCOMPARE(found, expected);
    QCOMPARE(meta.method(meta.methodOffset() + 9).returnType(), int(QMetaType::QString));
}

void TestSettingsWindow::showsTheSettingsFile_data()
{
    QTest::addColumn<bool>("fileExists");
    QTest::addColumn<Settings>("stored");
    QTest::addColumn<Shown>("shown");

    QTest::newRow("no settings file") << false << Settings() << Defaults;
    QTest::newRow("file without keys") << true << Settings() << Defaults;
    QTest::newRow("every key set") << true
                                   << Settings { { "colorMode", 2 },          { "animationEffect", 3 },
                                                 { "enableAnimation", false }, { "enableShake", false },
                                                 { "shakeDistance", 250 },    { "shakeWindowMs", 1200 },
                                                 { "shakeAlternations", 6 } }
                                   << Shown { 2, 3, false, false, 250, 1200, 6 };
    QTest::newRow("white and fireworks only") << true << Settings { { "colorMode", 0 }, { "animationEffect", 2 } }
                                              << Shown { 0, 2, true, true, 80, 700, 3 };
    QTest::newRow("colour 9 selects no colour") << true << Settings { { "colorMode", 9 } }
                                                << Shown { -1, 0, true, true, 80, 700, 3 };
    QTest::newRow("effect -3 selects no effect") << true << Settings { { "animationEffect", -3 } }
                                                 << Shown { 1, -1, true, true, 80, 700, 3 };
    QTest::newRow("window 50 ms is pulled up to 100") << true << Settings { { "shakeWindowMs", 50 } }
                                                      << Shown { 1, 0, true, true, 80, 100, 3 };
    QTest::newRow("distance 5000 is pulled down to 1000") << true << Settings { { "shakeDistance", 5000 } }
                                                          << Shown { 1, 0, true, true, 1000, 700, 3 };
    QTest::newRow("alternations 0 is pulled up to 1") << true << Settings { { "shakeAlternations", 0 } }
                                                      << Shown { 1, 0, true, true, 80, 700, 1 };
    QTest::newRow("flag written as 0 reads unticked") << true << Settings { { "enableAnimation", "0" } }
                                                      << Shown { 1, 0, false, true, 80, 700, 3 };
    QTest::newRow("text where a number belongs reads 0") << true << Settings { { "colorMode", "red" } }
                                                         << Shown { 0, 0, true, true, 80, 700, 3 };
    QTest::newRow("hotkey and Ctrl tap") << true << Settings { { "hotkey", "Meta+F12" }, { "enableCtrlTap", true } }
                                         << Shown { 1, 0, true, true, 80, 700, 3, "Meta+F12", true };
    QTest::newRow("a hotkey the service refuses shows the one it uses")
        << true << Settings { { "hotkey", "L" } } << Shown { 1, 0, true, true, 80, 700, 3 };
    QTest::newRow("an empty hotkey is none")
        << true << Settings { { "hotkey", "" } } << Shown { 1, 0, true, true, 80, 700, 3, "" };
    QTest::newRow("a Cyrillic hotkey") << true << Settings { { "hotkey", "Ctrl+Alt+Ь" } }
                                       << Shown { 1, 0, true, true, 80, 700, 3, "Ctrl+Alt+Ь" };
}

void TestSettingsWindow::showsTheSettingsFile()
{
    QFETCH(bool, fileExists);
    QFETCH(Settings, stored);
    QFETCH(Shown, shown);

    if (fileExists) {
        replaceSettings(stored);
        // QSettings leaves an empty store unwritten; make the file exist anyway.
        QFile file(settingsFilePath());
        QVERIFY(QDir().mkpath(QFileInfo(file).path()));
        QVERIFY(file.open(QIODevice::Append));
    }
    QCOMPARE(QFile::exists(settingsFilePath()), fileExists);

    GlintorGUI window;
    QVERIFY(window.isVisible());
    QCOMPARE(shownBy(&window), shown);
    const QString hint = namedChild<QLabel>(&window, "hotkeyHint")->text();
    QCOMPARE(hint.startsWith(QStringLiteral("(无快捷键；")), shown.hotkey.isEmpty());
    // Loading writes nothing back.
    QCOMPARE(QFile::exists(settingsFilePath()), fileExists);
}

void TestSettingsWindow::hotkeyFieldTakesWhatTheServiceCanGrab_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("refusal"); // the hint; none when taken

    const int ctrlAlt = Qt::ControlModifier | Qt::AltModifier;
    const QString noModifier = QStringLiteral("不能用“%1”：需含 Ctrl、Alt 或 Meta；功能键可单独使用");
    QTest::newRow("Ctrl+Shift+L") << int(Qt::Key_L) << int(Qt::ControlModifier | Qt::ShiftModifier) << "Ctrl+Shift+L"
                                  << QString();
    QTest::newRow("F7 alone") << int(Qt::Key_F7) << int(Qt::NoModifier) << "F7" << QString();
    QTest::newRow("a bare letter is refused")
        << int(Qt::Key_L) << int(Qt::NoModifier) << "Ctrl+Alt+M" << noModifier.arg("L");
    QTest::newRow("Shift+letter is refused")
        << int(Qt::Key_L) << int(Qt::ShiftModifier) << "Ctrl+Alt+M" << noModifier.arg("Shift+L");
    QTest::newRow("Cyrillic soft sign with Ctrl+Alt") << 0x42C << ctrlAlt << "Ctrl+Alt+Ь" << QString();
    QTest::newRow("keypad Enter is refused") << int(Qt::Key_Enter) << int(ctrlAlt | Qt::KeypadModifier) << "Ctrl+Alt+M"
                                             << "不能用“Ctrl+Alt+Num+Enter”：小键盘上的键不能作快捷键";
    QTest::newRow("a media key is refused") << int(Qt::Key_VolumeMute) << ctrlAlt << "Ctrl+Alt+M"
                                            << "不能用“Ctrl+Alt+Volume Mute”：服务无法捕获这个键（如多媒体键）";
}

void TestSettingsWindow::hotkeyFieldTakesWhatTheServiceCanGrab()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, shown);
    QFETCH(QString, refusal);

    GlintorGUI window;
    auto *edit = namedChild<QKeySequenceEdit>(&window, "hotkeyEdit");
    auto *hint = namedChild<QLabel>(&window, "hotkeyHint");
    const QString ruleHint = hint->text();
    const QRect rowBelow = namedChild<QWidget>(&window, "enableCtrlTapCheck")->geometry();
    // Typed as a user would; the field finishes a second after the keys are let go. A refused
    // combination leaves the one before and says why below it.
    const QString text = key <= 0xFFFF ? QString(QChar(key).toLower()) : QString();
    QSignalSpy decided(edit, &QKeySequenceEdit::keySequenceChanged);
    QTest::sendKeyEvent(QTest::Click, edit, Qt::Key(key), text, Qt::KeyboardModifiers(modifiers));
    const QString expectedHint = refusal.isEmpty() ? ruleHint : refusal;
    // The edit shows what is typed before it decides: wait for the combination it gives.
    QTRY_VERIFY_WITH_TIMEOUT(!decided.isEmpty() && !decided.constLast().at(0).value<QKeySequence>().isEmpty(), 5000);
    QCOMPARE(edit->keySequence().toString(QKeySequence::PortableText), shown);
    QCOMPARE(hint->text(), expectedHint);
    QCOMPARE(namedChild<QWidget>(&window, "enableCtrlTapCheck")->geometry(), rowBelow);
}

void TestSettingsWindow::spinBoxesKeepToTheirRanges_data()
{
    QTest::addColumn<QString>("spin");
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");

    QTest::newRow("shake distance") << "shakeDistanceSpin" << 10 << 1000;
    QTest::newRow("shake window") << "shakeWindowMsSpin" << 100 << 5000;
    QTest::newRow("alternations") << "shakeAlternationsSpin" << 1 << 10;
}

void TestSettingsWindow::spinBoxesKeepToTheirRanges()
{
    QFETCH(QString, spin);
    QFETCH(int, minimum);
    QFETCH(int, maximum);

    GlintorGUI window;
    auto *box = namedChild<QSpinBox>(&window, spin.toLatin1().constData());
    box->setValue(maximum + 1);
    QCOMPARE(box->value(), maximum);
    box->setValue(minimum - 1);
    QCOMPARE(box->value(), minimum);
    // Unticking the shake trigger leaves the shake values editable.
    namedChild<QCheckBox>(&window, "enableShakeCheck")->setChecked(false);
    QVERIFY(box->isEnabled());
}

void TestSettingsWindow::saveWritesAllKeysThenRestarts_data()
{
    QTest::addColumn<bool>("fileExists");
    QTest::addColumn<Settings>("stored");
    QTest::addColumn<Settings>("edits");
    QTest::addColumn<FileKeys>("written");

    QTest::newRow("nothing changed, no file") << false << Settings() << Settings() << fileKeys(1, 0, true, true, 80, 700, 3);
    QTest::newRow("nothing changed, every key set")
        << true
        << Settings { { "colorMode", 2 },          { "animationEffect", 1 },  { "enableAnimation", false },
                      { "enableShake", true },     { "shakeDistance", 40 },   { "shakeWindowMs", 900 },
                      { "shakeAlternations", 4 } }
        << Settings() << fileKeys(2, 1, false, true, 40, 900, 4);
    QTest::newRow("colour 9 is saved as -1") << true << Settings { { "colorMode", 9 } } << Settings()
                                             << fileKeys(-1, 0, true, true, 80, 700, 3);
    QTest::newRow("window 50 ms is saved as 100") << true << Settings { { "shakeWindowMs", 50 } } << Settings()
                                                  << fileKeys(1, 0, true, true, 80, 100, 3);
    QTest::newRow("edited widgets, shake unticked")
        << false << Settings()
        << Settings { { "colorModeCombo", 0 },       { "animationEffectCombo", 3 }, { "enableAnimationCheck", false },
                      { "enableShakeCheck", false }, { "shakeDistanceSpin", 333 },  { "shakeWindowMsSpin", 4000 },
                      { "shakeAlternationsSpin", 10 } }
        << fileKeys(0, 3, false, false, 333, 4000, 10);
    QTest::newRow("hotkey and Ctrl tap")
        << false << Settings() << Settings { { "hotkeyEdit", "Ctrl+Shift+L" }, { "enableCtrlTapCheck", true } }
        << fileKeys(1, 0, true, true, 80, 700, 3, "Ctrl+Shift+L", true);
    QTest::newRow("only the first of several combinations")
        << false << Settings() << Settings { { "hotkeyEdit", "F5, Ctrl+K" } }
        << fileKeys(1, 0, true, true, 80, 700, 3, "F5");
    QTest::newRow("a bare letter is not taken")
        << false << Settings() << Settings { { "hotkeyEdit", "L" } } << fileKeys(1, 0, true, true, 80, 700, 3);
    QTest::newRow("hotkey cleared") << false << Settings() << Settings { { "clearHotkeyButton", true } }
                                    << fileKeys(1, 0, true, true, 80, 700, 3, "");
}

void TestSettingsWindow::saveWritesAllKeysThenRestarts()
{
    QFETCH(bool, fileExists);
    QFETCH(Settings, stored);
    QFETCH(Settings, edits);
    QFETCH(FileKeys, written);

    if (fileExists)
        replaceSettings(stored);
    GlintorGUI window;
    for (auto it = edits.cbegin(); it != edits.cend(); ++it) {
        QWidget *widget = namedChild<QWidget>(&window, it.key().toLatin1().constData());
        if (auto *combo = qobject_cast<QComboBox *>(widget))
            combo->setCurrentIndex(it.value().toInt());
        else if (auto *check = qobject_cast<QCheckBox *>(widget))
            check->setChecked(it.value().toBool());
        else if (auto *spin = qobject_cast<QSpinBox *>(widget))
            spin->setValue(it.value().toInt());
        else if (auto *edit = qobject_cast<QKeySequenceEdit *>(widget))
            edit->setKeySequence(QKeySequence::fromString(it.value().toString(), QKeySequence::PortableText));
        else if (auto *button = qobject_cast<QPushButton *>(widget))
            button->click();
    }
    systemctl.clearCalls();

    MessageBoxAnswerer answerer;
    namedChild<QPushButton>(&window, "saveButton")->click();

    QCOMPARE(settingsOnDisk(), written);
    // The keys were on disk when the service was started again.
    const std::optional<QByteArray> atStart = systemctl.settingsAtLastStart();
    QVERIFY(atStart);
    QCOMPARE(settingsKeysIn(*atStart), written);
    QCOMPARE(callsBesideStatus(systemctl), restartCalls());
    // The restart's box is the only feedback of a save.
    QCOMPARE(answerer.boxes.size(), 1);
    QCOMPARE(answerer.boxes.at(0).title, QStringLiteral("成功"));
    QCOMPARE(answerer.boxes.at(0).text, QStringLiteral("Glintor服务已成功重启。"));
}

void TestSettingsWindow::declinedRestoreChangesNothing_data()
{
    QTest::addColumn<QMessageBox::StandardButton>("answer");

    QTest::newRow("answered No") << QMessageBox::No;
    QTest::newRow("answered with Escape") << QMessageBox::NoButton;
}

void TestSettingsWindow::declinedRestoreChangesNothing()
{
    QFETCH(QMessageBox::StandardButton, answer);

    const Settings stored { { "colorMode", 2 }, { "shakeDistance", 300 }, { "enableShake", false } };
    replaceSettings(stored);
    QFile file(settingsFilePath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();

    GlintorGUI window;
    stopStatusTimer(&window);
    const Shown shownBefore = shownBy(&window);
    systemctl.clearCalls();

    MessageBoxAnswerer answerer({ answer });
    namedChild<QPushButton>(&window, "restoreDefaultsButton")->click();

    QCOMPARE(answerer.boxes.size(), 1);
    QCOMPARE(answerer.boxes.at(0).title, QStringLiteral("确认恢复默认配置"));
    QCOMPARE(answerer.boxes.at(0).text,
             QStringLiteral("您确定要恢复所有设置为默认值吗？\n\n此操作将清除所有自定义设置并重启服务。"));
    QCOMPARE(answerer.boxes.at(0).icon, QMessageBox::Question);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), before);
    QCOMPARE(shownBy(&window), shownBefore);
    QCOMPARE(systemctl.calls(), QStringList());
}

void TestSettingsWindow::confirmedRestoreClearsTheFileAndRestarts()
{
    replaceSettings(
        { { "colorMode", 0 }, { "animationEffect", 2 }, { "enableAnimation", false }, { "shakeDistance", 300 },
            { "shakeWindowMs", 2000 }, { "shakeAlternations", 7 }, { "hotkey", "" }, { "enableCtrlTap", true } });
    GlintorGUI window;
    QVERIFY(!(shownBy(&window) == Defaults));
    systemctl.clearCalls();

    // Record the window and the file while the restart's box is open.
    QList<Shown> shownAtBox;
    QList<FileKeys> fileAtBox;
    MessageBoxAnswerer answerer({ QMessageBox::Yes, QMessageBox::Ok, QMessageBox::Ok });
    answerer.onBox = [&](QMessageBox *) {
        shownAtBox << shownBy(&window);
        fileAtBox << settingsOnDisk();
    };
    namedChild<QPushButton>(&window, "restoreDefaultsButton")->click();

    QCOMPARE(answerer.boxes.size(), 3);
    QCOMPARE(answerer.boxes.at(0).title, QStringLiteral("确认恢复默认配置"));
    QCOMPARE(answerer.boxes.at(1).title, QStringLiteral("成功"));
    QCOMPARE(answerer.boxes.at(1).text, QStringLiteral("Glintor服务已成功重启。"));
    QCOMPARE(answerer.boxes.at(2).title, QStringLiteral("成功"));
    QCOMPARE(answerer.boxes.at(2).text, QStringLiteral("已恢复默认配置并重启服务。"));
    QCOMPARE(answerer.boxes.at(2).icon, QMessageBox::Information);

    // By the restart's box the window shows the defaults and the file holds no keys.
    QCOMPARE(shownAtBox.at(1), Defaults);
    QCOMPARE(fileAtBox.at(1), FileKeys());
    const std::optional<QByteArray> atStart = systemctl.settingsAtLastStart();
    QVERIFY(atStart);
    QCOMPARE(settingsKeysIn(*atStart), FileKeys());
    QCOMPARE(callsBesideStatus(systemctl), restartCalls());

    // No default is written back.
    QCOMPARE(settingsOnDisk(), FileKeys());
    QCOMPARE(shownBy(&window), Defaults);
}

void TestSettingsWindow::restartFollowsOnlyAWrittenFile_data()
{
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<Trouble>("trouble");
    QTest::addColumn<QString>("reason"); // none for a file that was written

    const QByteArray save = "saveButton";
    const QByteArray restore = "restoreDefaultsButton";
    const QString fullDisk = qt_error_string(EFBIG);
    const QString notAFolder = QStringLiteral("“%1”不是文件夹").arg(QFileInfo(settingsFilePath()).path());
    QTest::newRow("save, a plain file for the folder") << save << Trouble::PlainFileAsFolder << notAFolder;
    QTest::newRow("save, a folder for the file") << save << Trouble::FolderAsFile << "它是一个文件夹";
    QTest::newRow("save, read-only folder") << save << Trouble::ReadOnlyFolder << qt_error_string(EACCES);
    QTest::newRow("save, full disk") << save << Trouble::FullDisk << fullDisk;
    QTest::newRow("save over a damaged file") << save << Trouble::Damaged << QString();
    QTest::newRow("save over a damaged file, full disk") << save << Trouble::DamagedOnFullDisk << fullDisk;
    QTest::newRow("restore, a folder for the file") << restore << Trouble::FolderAsFile << "它是一个文件夹";
    QTest::newRow("restore, full disk") << restore << Trouble::FullDisk << fullDisk;
    QTest::newRow("restore, a plain file for the folder: nothing stored")
        << restore << Trouble::PlainFileAsFolder << QString();
}

void TestSettingsWindow::restartFollowsOnlyAWrittenFile()
{
    QFETCH(QByteArray, button);
    QFETCH(Trouble, trouble);
    QFETCH(QString, reason);

    const QString folder = QFileInfo(settingsFilePath()).path();
    if (trouble == Trouble::PlainFileAsFolder)
        QVERIFY(QDir(folder).removeRecursively() && QFile(folder).open(QIODevice::WriteOnly));
    else if (trouble == Trouble::FolderAsFile)
        QVERIFY(QDir().mkpath(settingsFilePath()));
    else
        replaceSettings({ { "colorMode", 0 }, { "shakeDistance", 300 } });
    if (trouble == Trouble::ReadOnlyFolder && ::geteuid() == 0)
        QSKIP("root writes whatever the mode");
    if (trouble == Trouble::ReadOnlyFolder)
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    GlintorGUI window;
    QFile damaged(settingsFilePath());
    // Damaged behind the window's back, with a section that never closes: the save's settings object
    // reads it again and reports a format error, yet writes over it.
    if (trouble == Trouble::Damaged || trouble == Trouble::DamagedOnFullDisk)
        QVERIFY(damaged.open(QIODevice::WriteOnly) && damaged.write("[General\ncolorMode=0\n") > 0 && damaged.flush());
    stopStatusTimer(&window);
    namedChild<QSpinBox>(&window, "shakeAlternationsSpin")->setValue(9);
    const Shown shownBefore = shownBy(&window);
    const QByteArray fileBefore = settingsFileContent();
    systemctl.clearCalls();

    const bool restoring = button == "restoreDefaultsButton";
    MessageBoxAnswerer answerer({ QMessageBox::Yes });
    {
        std::optional<FullDisk> full;
        if (trouble == Trouble::FullDisk || trouble == Trouble::DamagedOnFullDisk)
            full.emplace();
        namedChild<QPushButton>(&window, button.constData())->click();
    }
    QVERIFY(!answerer.boxes.isEmpty());
    const ShownBox last = answerer.boxes.constLast();
    if (reason.isEmpty()) {
        QCOMPARE(last.title, QStringLiteral("成功"));
        QCOMPARE(callsBesideStatus(systemctl), restartCalls());
        QCOMPARE(settingsOnDisk().value(QStringLiteral("shakeAlternations")), restoring ? QString() : "9");
        return;
    }
    // One error box, naming the file and why, and nothing else: no restart, no change anywhere.
    QCOMPARE(answerer.boxes.size(), restoring ? 2 : 1);
    QCOMPARE(last.icon, QMessageBox::Warning);
    QCOMPARE(last.title, QStringLiteral("错误"));
    QVERIFY2(last.text.contains(settingsFilePath()) && last.text.contains(reason), qPrintable(last.text));
    QCOMPARE(callsBesideStatus(systemctl), QStringList());
    QCOMPARE(settingsFileContent(), fileBefore);
    QCOMPARE(shownBy(&window), shownBefore);
}

GLINTOR_GUI_TEST_MAIN(TestSettingsWindow)
#include "tst_settingswindow.moc"
