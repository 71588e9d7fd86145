// The About box and the version file it reads from its fixed places: the working directory, its parent,
// the system share folders, beside the program and in the share folder of the program's prefix.

#include "fakesystemctl.h"
#include "glintor-gui.h"
#include "guitest.h"

#include <QCoreApplication>
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>

#include <memory>

#include <unistd.h>

// Content of version.txt per place: "work" (the working directory), "parent" (its parent), "beside"
// (beside the program), "share" (applicationDirPath/../share/glintor). A place not named has no file.
using VersionFiles = QMap<QString, QByteArray>;
Q_DECLARE_METATYPE(VersionFiles)

namespace {

const QString AboutText = QStringLiteral("Glintor - 在按下快捷键时在鼠标位置显示动画圆环\n\n版本 %1");

} // namespace

class TestAboutBox : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void showsTheFirstVersionFound_data();
    void showsTheFirstVersionFound();
    void readVersionFromFileTrims_data();
    void readVersionFromFileTrims();

private:
    QString placePath(const QString &place) const;
    void placeFiles(const VersionFiles &files);

    FakeSystemctl systemctl;
    std::unique_ptr<QTemporaryDir> root;
};

void TestAboutBox::initTestCase()
{
    QVERIFY(systemctl.isValid());
    systemctl.installOnPath();
    for (const char *installed : { "/usr/share/glintor/version.txt", "/usr/local/share/glintor/version.txt" }) {
        if (QFile::exists(QLatin1String(installed)))
            QSKIP("an installed Glintor's version file would come before the places under test");
    }
}

void TestAboutBox::init()
{
    root = std::make_unique<QTemporaryDir>();
    QVERIFY(root->isValid());
    QVERIFY(QDir(root->path()).mkpath(QStringLiteral("work")));
    QVERIFY(QDir::setCurrent(root->filePath(QStringLiteral("work"))));
}

void TestAboutBox::cleanup()
{
    QVERIFY(QDir::setCurrent(QDir::tempPath()));
    QFile::remove(placePath(QStringLiteral("beside")));
    QFile::remove(placePath(QStringLiteral("share")));
    root.reset();
}

QString TestAboutBox::placePath(const QString &place) const
{
    const QString program = QCoreApplication::applicationDirPath();
    if (place == QLatin1String("work"))
        return root->filePath(QStringLiteral("work/version.txt"));
    if (place == QLatin1String("parent"))
        return root->filePath(QStringLiteral("version.txt"));
    if (place == QLatin1String("beside"))
        return program + QStringLiteral("/version.txt");
    if (place == QLatin1String("share"))
        return program + QStringLiteral("/../share/glintor/version.txt");
    qFatal("unknown place");
}

void TestAboutBox::placeFiles(const VersionFiles &files)
{
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        const QString path = placePath(it.key());
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(it.value()), qint64(it.value().size()));
    }
}

void TestAboutBox::showsTheFirstVersionFound_data()
{
    QTest::addColumn<VersionFiles>("files");
    QTest::addColumn<QString>("version");

    QTest::newRow("no version file") << VersionFiles() << "1.0";
    QTest::newRow("working directory") << VersionFiles { { "work", "2.5.0\n" } } << "2.5.0";
    QTest::newRow("working directory wins over the share folder")
        << VersionFiles { { "work", "3.0\n" }, { "share", "9.9\n" } } << "3.0";
    QTest::newRow("working directory wins over its parent")
        << VersionFiles { { "work", "3.1\n" }, { "parent", "3.2\n" } } << "3.1";
    QTest::newRow("parent of the working directory")
        << VersionFiles { { "parent", "4.0\n" }, { "beside", "4.1\n" } } << "4.0";
    QTest::newRow("beside the program") << VersionFiles { { "beside", "5.0\n" }, { "share", "5.1\n" } } << "5.0";
    QTest::newRow("share folder of the prefix, last") << VersionFiles { { "share", "6.0\n" } } << "6.0";
    QTest::newRow("spaces are kept") << VersionFiles { { "work", "  7.0 beta  \n" } } << "  7.0 beta  ";
    QTest::newRow("first of several lines") << VersionFiles { { "work", "8.0\nsecond\nthird\n" } } << "8.0";
    QTest::newRow("CR LF is not part of the version") << VersionFiles { { "work", "8.1\r\nsecond\r\n" } } << "8.1";
    QTest::newRow("no line terminator") << VersionFiles { { "work", "8.2" } } << "8.2";
    QTest::newRow("empty file ends the search") << VersionFiles { { "work", "" }, { "share", "9.0\n" } } << "";
    QTest::newRow("unreadable file is passed over") << VersionFiles { { "work", "10.0\n" }, { "parent", "10.1\n" } }
                                                    << "10.1";
}

void TestAboutBox::showsTheFirstVersionFound()
{
    QFETCH(VersionFiles, files);
    QFETCH(QString, version);

    placeFiles(files);
    if (QByteArray(QTest::currentDataTag()).startsWith("unreadable")) {
        if (::geteuid() == 0)
            QSKIP("root reads any file");
        QVERIFY(QFile::setPermissions(placePath(QStringLiteral("work")), QFileDevice::Permissions()));
    }

    GlintorGUI window;
    MessageBoxAnswerer answerer;
    namedChild<QPushButton>(&window, "aboutButton")->click();

    QCOMPARE(answerer.boxes.size(), 1);
    QCOMPARE(answerer.boxes.at(0).title, QStringLiteral("关于Glintor"));
    QCOMPARE(answerer.boxes.at(0).text, AboutText.arg(version));
}

void TestAboutBox::readVersionFromFileTrims_data()
{
    QTest::addColumn<VersionFiles>("files");
    QTest::addColumn<QString>("version");

    QTest::newRow("no version file") << VersionFiles() << "1.0";
    QTest::newRow("working directory, spaces trimmed") << VersionFiles { { "work", "  7.0 beta  \n" } } << "7.0 beta";
    QTest::newRow("working directory wins over beside the program")
        << VersionFiles { { "work", "2.0\n" }, { "beside", "2.1\n" } } << "2.0";
    QTest::newRow("beside the program") << VersionFiles { { "beside", "\t3.0\r\n" } } << "3.0";
    QTest::newRow("blank first line gives the fallback") << VersionFiles { { "work", "   \n4.0\n" } } << "1.0";
    QTest::newRow("parent directory is not searched") << VersionFiles { { "parent", "5.0\n" } } << "1.0";
    QTest::newRow("share folder is not searched") << VersionFiles { { "share", "6.0\n" } } << "1.0";
}

void TestAboutBox::readVersionFromFileTrims()
{
    QFETCH(VersionFiles, files);
    QFETCH(QString, version);

    placeFiles(files);
    GlintorGUI window;
    QString found;
    QVERIFY(QMetaObject::invokeMethod(&window, "readVersionFromFile", Q_RETURN_ARG(QString, found)));
    QCOMPARE(found, version);
}

GLINTOR_GUI_TEST_MAIN(TestAboutBox)
#include "tst_aboutbox.moc"
