// The catalogue search both programs run at start-up, and the settings window in the language it finds:
// the embedded English catalogue for an English system, the Chinese source texts when nothing is found.

#include "fakesystemctl.h"
#include "glintor-gui.h"
#include "guitest.h"
#include "translationloader.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTranslator>

#include <memory>
#include <utility>

// Catalogues to put into "./translations": file name => test catalogue it is a copy of.
using Catalogues = QMap<QString, QString>;
Q_DECLARE_METATYPE(Catalogues)

namespace {

const char *const SettingsTitle = "设置";

bool hasChinese(const QString &text)
{
    static const QRegularExpression han(QStringLiteral("[\\x{2E80}-\\x{9FFF}\\x{F900}-\\x{FAFF}\\x{FF00}-\\x{FFEF}]"));
    return han.match(text).hasMatch();
}

// Every text the window shows, in the order of its widget tree.
QStringList visibleTexts(QWidget *window)
{
    QStringList texts { window->windowTitle() };
    const QList<QWidget *> widgets = window->findChildren<QWidget *>();
    for (QWidget *widget : widgets) {
        if (auto *label = qobject_cast<QLabel *>(widget))
            texts << label->text();
        else if (auto *button = qobject_cast<QAbstractButton *>(widget))
            texts << button->text();
        else if (auto *group = qobject_cast<QGroupBox *>(widget))
            texts << group->title();
        else if (auto *combo = qobject_cast<QComboBox *>(widget)) {
            for (int i = 0; i < combo->count(); ++i)
                texts << combo->itemText(i);
        }
    }
    texts.removeAll(QString());
    return texts;
}

QStringList comboItems(QObject *window, const char *name)
{
    auto *combo = namedChild<QComboBox>(window, name);
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

} // namespace

class TestTranslations : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void searchFindsTheRightCatalogue_data();
    void searchFindsTheRightCatalogue();
    void windowShowsTheCataloguesLanguage_data();
    void windowShowsTheCataloguesLanguage();
    void englishMessageBoxes_data();
    void englishMessageBoxes();
    void englishRefusalFitsTheSmallestWindow_data();
    void englishRefusalFitsTheSmallestWindow();

private:
    void useLocale(const QString &name);

    FakeSystemctl systemctl;
    std::unique_ptr<QTranslator> translator;
    std::unique_ptr<QTemporaryDir> root;
};

void TestTranslations::initTestCase()
{
    QVERIFY(systemctl.isValid());
    systemctl.installOnPath();
    if (QDir(QStringLiteral("/usr/share/glintor/translations")).exists())
        QSKIP("catalogues of an installed Glintor would take part in the search");
}

void TestTranslations::cleanup()
{
    // Destroying the translator also removes it from the application.
    translator.reset();
    removeSettingsFile();
    QLocale::setDefault(QLocale::system());
    QVERIFY(QDir::setCurrent(QDir::tempPath()));
    root.reset();
}

void TestTranslations::useLocale(const QString &name)
{
    QLocale::setDefault(QLocale(name));
}

void TestTranslations::searchFindsTheRightCatalogue_data()
{
    QTest::addColumn<QString>("systemLocale");
    QTest::addColumn<Catalogues>("catalogues");
    QTest::addColumn<bool>("startInTheirFolder");
    QTest::addColumn<bool>("installed");
    QTest::addColumn<QString>("settingsTitle");

    const QString chinese = QString::fromUtf8(SettingsTitle);
    const QString zhTest = QStringLiteral("[zh_CN test catalogue] 设置");
    const Catalogues french { { "glintor_fr.qm", "glintor_fr.qm" } };
    const Catalogues zh { { "glintor_zh_CN.qm", "glintor_zh_CN.qm" } };
    const Catalogues frenchAndZh { { "glintor_fr.qm", "glintor_fr.qm" }, { "glintor_zh_CN.qm", "glintor_zh_CN.qm" } };

    QTest::newRow("nothing to find") << "C" << Catalogues() << true << false << chinese;
    QTest::newRow("Chinese system, no catalogue") << "zh_CN" << Catalogues() << true << false << chinese;
    QTest::newRow("system language in ./translations, started from its folder")
        << "fr_FR" << french << true << true << "Réglages";
    QTest::newRow("system language in ./translations, started elsewhere")
        << "fr_FR" << french << false << false << chinese;
    QTest::newRow("zh_CN wins over the system language") << "fr_FR" << frenchAndZh << true << true << zhTest;
    QTest::newRow("zh_CN in ./translations wins over embedded English") << "en_US" << zh << true << true << zhTest;
    QTest::newRow("zh_CN elsewhere leaves embedded English") << "en_US" << zh << false << true << "Settings";
    QTest::newRow("embedded English, American") << "en_US" << Catalogues() << true << true << "Settings";
    QTest::newRow("embedded English, British") << "en_GB" << Catalogues() << true << true << "Settings";
    QTest::newRow("embedded English before ./translations")
        << "en_US" << Catalogues { { "glintor_en.qm", "glintor_fr.qm" } } << true << true << "Settings";
}

void TestTranslations::searchFindsTheRightCatalogue()
{
    QFETCH(QString, systemLocale);
    QFETCH(Catalogues, catalogues);
    QFETCH(bool, startInTheirFolder);
    QFETCH(bool, installed);
    QFETCH(QString, settingsTitle);

    root = std::make_unique<QTemporaryDir>();
    QVERIFY(root->isValid());
    QDir folder(root->path());
    QVERIFY(folder.mkpath(QStringLiteral("holder/translations")));
    QVERIFY(folder.mkpath(QStringLiteral("elsewhere")));
    for (auto it = catalogues.cbegin(); it != catalogues.cend(); ++it) {
        QVERIFY(QFile::copy(QStringLiteral(GLINTOR_TEST_CATALOGUE_DIR "/") + it.value(),
                            folder.filePath(QStringLiteral("holder/translations/") + it.key())));
    }
    QVERIFY(QDir::setCurrent(folder.filePath(startInTheirFolder ? QStringLiteral("holder")
                                                                : QStringLiteral("elsewhere"))));
    useLocale(systemLocale);

    translator = std::make_unique<QTranslator>();
    QCOMPARE(installGlintorTranslation(*translator), installed);
    QCOMPARE(QCoreApplication::translate("GlintorGUI", SettingsTitle), settingsTitle);
}

void TestTranslations::windowShowsTheCataloguesLanguage_data()
{
    QTest::addColumn<QString>("systemLocale");
    QTest::addColumn<bool>("english");

    QTest::newRow("English system") << "en_US" << true;
    QTest::newRow("Chinese system") << "zh_CN" << false;
    QTest::newRow("C locale") << "C" << false;
}

void TestTranslations::windowShowsTheCataloguesLanguage()
{
    QFETCH(QString, systemLocale);
    QFETCH(bool, english);

    useLocale(systemLocale);
    translator = std::make_unique<QTranslator>();
    installGlintorTranslation(*translator);
    GlintorGUI window;
    const QStringList texts = visibleTexts(&window);
    QVERIFY(texts.size() >= 20);

    if (english) {
        for (const QString &text : texts)
            QVERIFY2(!hasChinese(text), qPrintable(QStringLiteral("untranslated: ") + text));
        QCOMPARE(namedChild<QLabel>(&window, "statusLabel")->text(), QStringLiteral("Service status: stopped"));
        QCOMPARE(namedChild<QAbstractButton>(&window, "saveButton")->text(), QStringLiteral("Save settings"));
        QCOMPARE(comboItems(&window, "colorModeCombo"), QStringList({ "White", "Red", "Rainbow" }));
        QCOMPARE(comboItems(&window, "animationEffectCombo"),
                 QStringList({ "Random effect", "Ring effect", "Fireworks effect", "Colored stars" }));
    } else {
        QCOMPARE(namedChild<QLabel>(&window, "statusLabel")->text(), QStringLiteral("服务状态: 已停止"));
        QCOMPARE(namedChild<QAbstractButton>(&window, "saveButton")->text(), QStringLiteral("保存设置"));
        QCOMPARE(namedChild<QGroupBox>(&window, "settingsGroup")->title(), QStringLiteral("设置"));
        QCOMPARE(comboItems(&window, "colorModeCombo"), QStringList({ "白色", "红色", "彩虹" }));
        QCOMPARE(comboItems(&window, "animationEffectCombo"),
                 QStringList({ "随机效果", "圆环效果", "烟花效果", "彩色星星" }));
    }
}

void TestTranslations::englishMessageBoxes_data()
{
    QTest::addColumn<QByteArray>("slot");
    QTest::addColumn<bool>("startFails");
    QTest::addColumn<bool>("unwritable");
    QTest::addColumn<QStringList>("titles");

    QTest::newRow("start succeeds") << QByteArray("startService") << false << false << QStringList { "Success" };
    QTest::newRow("start fails") << QByteArray("startService") << true << false << QStringList { "Error" };
    QTest::newRow("stop succeeds") << QByteArray("stopService") << false << false << QStringList { "Success" };
    QTest::newRow("restart succeeds") << QByteArray("manualRestartService") << false << false
                                      << QStringList { "Success" };
    QTest::newRow("restart fails") << QByteArray("manualRestartService") << true << false
                                   << QStringList { "Information" };
    QTest::newRow("restore defaults") << QByteArray("restoreDefaultSettings") << false << false
                                      << QStringList { "Confirm restoring defaults", "Success", "Success" };
    QTest::newRow("restore defaults, restart fails") << QByteArray("restoreDefaultSettings") << true << false
                                                     << QStringList { "Confirm restoring defaults", "Information" };
    QTest::newRow("save, unwritable") << QByteArray("saveSettings") << false << true << QStringList { "Error" };
    QTest::newRow("restore defaults, unwritable") << QByteArray("restoreDefaultSettings") << false << true
                                                  << QStringList { "Confirm restoring defaults", "Error" };
    QTest::newRow("about") << QByteArray("showAbout") << false << false << QStringList { "About Glintor" };
}

void TestTranslations::englishMessageBoxes()
{
    QFETCH(QByteArray, slot);
    QFETCH(bool, startFails);
    QFETCH(bool, unwritable);
    QFETCH(QStringList, titles);

    useLocale(QStringLiteral("en_US"));
    translator = std::make_unique<QTranslator>();
    QVERIFY(installGlintorTranslation(*translator));
    GlintorGUI window;
    namedChild<QTimer>(&window, "statusTimer")->stop();
    if (startFails)
        systemctl.answerExitCode(QStringLiteral("start"), 1);
    else
        systemctl.answerNormally(QStringLiteral("start"));
    // A folder where the settings file belongs stops every writer, root included.
    QVERIFY(!unwritable || QDir().mkpath(settingsFilePath()));

    MessageBoxAnswerer answerer({ QMessageBox::Yes });
    QVERIFY(QMetaObject::invokeMethod(&window, slot.constData()));

    QStringList shownTitles;
    for (const ShownBox &box : std::as_const(answerer.boxes)) {
        shownTitles << box.title;
        QVERIFY2(!hasChinese(box.text), qPrintable(QStringLiteral("untranslated: ") + box.text));
    }
    QCOMPARE(shownTitles, titles);
}

void TestTranslations::englishRefusalFitsTheSmallestWindow_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");

    QTest::newRow("keypad Enter") << int(Qt::Key_Enter)
                                  << int(Qt::ControlModifier | Qt::AltModifier | Qt::KeypadModifier);
    QTest::newRow("media key") << int(Qt::Key_VolumeDown)
                               << int(Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    QTest::newRow("no modifier") << int(Qt::Key_F) << int(Qt::NoModifier);
}

void TestTranslations::englishRefusalFitsTheSmallestWindow()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);

    useLocale(QStringLiteral("en_US"));
    translator = std::make_unique<QTranslator>();
    QVERIFY(installGlintorTranslation(*translator));
    GlintorGUI window;
    namedChild<QTimer>(&window, "statusTimer")->stop();
    window.resize(1, 1); // as small as its layout lets it be
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *hint = namedChild<QLabel>(&window, "hotkeyHint");
    auto *group = namedChild<QGroupBox>(&window, "settingsGroup");
    const auto geometries = [group] {
        QList<QRect> all;
        for (QWidget *widget : group->findChildren<QWidget *>())
            all << widget->geometry();
        return all;
    };
    const QList<QRect> before = geometries();
    const QString neutral = hint->text();

    QTest::sendKeyEvent(QTest::Click, namedChild<QWidget>(&window, "hotkeyEdit"), Qt::Key(key),
        key < 0xFFFF ? QString(QChar(key).toLower()) : QString(), Qt::KeyboardModifiers(modifiers));
    QTRY_VERIFY_WITH_TIMEOUT(hint->text() != neutral, 5000);
    QVERIFY2(hint->text().startsWith(QStringLiteral("Cannot use")), qPrintable(hint->text()));
    QCOMPARE(geometries(), before);
    // The whole text within the label, and the label within the group.
    const QRect room = hint->contentsRect();
    const QRect needed = hint->fontMetrics().boundingRect(
        QRect(0, 0, room.width(), 10 * room.height()), Qt::TextWordWrap, hint->text());
    QVERIFY2(needed.width() <= room.width() && needed.height() <= room.height(), qPrintable(hint->text()));
    QVERIFY(group->contentsRect().contains(hint->geometry()));
}

GLINTOR_GUI_TEST_MAIN(TestTranslations)
#include "tst_translations.moc"
