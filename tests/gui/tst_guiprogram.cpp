// The real glintor-gui program on a private X server: it starts in the language of the catalogue its
// search finds, checks the unit once at start, logs nothing, ends with status 0 when its window is
// closed and leaves the service running.

#include "fakesystemctl.h"
#include "serviceprocess.h"
#include "xserver.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>

#include <X11/Xlib.h>

#include <algorithm>
#include <memory>

namespace {

// What the program printed, less Qt 6's note that the machine lacks the locale LANG names (test
// machines have few): the language comes from LANG all the same.
QStringList ownLines(const QStringList &lines)
{
    QStringList own = lines;
    const auto note = std::find_if(own.begin(), own.end(), [](const QString &line) {
        return line.startsWith(QLatin1String("Detected locale \"")) && line.endsWith(QLatin1String("which is not UTF-8."));
    });
    if (note != own.end())
        own.erase(note, note + qMin(4, int(own.end() - note)));
    return own;
}

using XConnection = std::unique_ptr<Display, int (*)(Display *)>;

XConnection openDisplay(const QString &display)
{
    return XConnection(XOpenDisplay(display.toLatin1().constData()), XCloseDisplay);
}

// Titles (_NET_WM_NAME) of the shown top-level windows, with their ids. Read here rather than through
// xdotool, whose name search goes by WM_NAME in the encoding of the program's locale.
QMap<QString, unsigned long> shownWindows(const QString &display)
{
    QMap<QString, unsigned long> windows;
    XConnection connection = openDisplay(display);
    if (!connection)
        return windows;
    Display *dpy = connection.get();
    const Atom netWmName = XInternAtom(dpy, "_NET_WM_NAME", False);
    const Atom utf8String = XInternAtom(dpy, "UTF8_STRING", False);
    Window root = 0;
    Window parent = 0;
    Window *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(dpy, DefaultRootWindow(dpy), &root, &parent, &children, &count))
        return windows;
    for (unsigned int i = 0; i < count; ++i) {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(dpy, children[i], &attributes) || attributes.map_state != IsViewable)
            continue;
        Atom type = 0;
        int format = 0;
        unsigned long items = 0;
        unsigned long left = 0;
        unsigned char *data = nullptr;
        if (XGetWindowProperty(dpy, children[i], netWmName, 0, 1024, False, utf8String, &type, &format, &items, &left,
                               &data)
                == Success
            && data) {
            windows.insert(QString::fromUtf8(reinterpret_cast<const char *>(data), int(items)), children[i]);
            XFree(data);
        }
    }
    if (children)
        XFree(children);
    return windows;
}

// Asks the window to close, as a window manager's close button would.
bool closeWindow(const QString &display, unsigned long window)
{
    XConnection connection = openDisplay(display);
    if (!connection)
        return false;
    XEvent event {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(connection.get(), "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(connection.get(), "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const bool sent = XSendEvent(connection.get(), window, False, NoEventMask, &event) != 0;
    XSync(connection.get(), False);
    return sent;
}

} // namespace

class TestGuiProgram : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void startsInTheSystemLanguage_data();
    void startsInTheSystemLanguage();

private:
    std::unique_ptr<XServer> xserver;
    std::unique_ptr<FakeSystemctl> systemctl;
};

void TestGuiProgram::initTestCase()
{
    xserver = std::make_unique<XServer>();
    QVERIFY(xserver->isRunning());
    systemctl = std::make_unique<FakeSystemctl>();
    QVERIFY(systemctl->isValid());
    QVERIFY(QFile::exists(builtProgram(QStringLiteral("glintor-gui"))));
}

void TestGuiProgram::startsInTheSystemLanguage_data()
{
    QTest::addColumn<QString>("lang");
    QTest::addColumn<bool>("catalogueInWorkingDirectory");
    QTest::addColumn<QString>("aboutTitle");

    QTest::newRow("C locale, no catalogue") << "C.UTF-8" << false << "关于Glintor";
    QTest::newRow("Chinese system") << "zh_CN.UTF-8" << false << "关于Glintor";
    QTest::newRow("English system") << "en_US.UTF-8" << false << "About Glintor";
    QTest::newRow("French system, catalogue in ./translations") << "fr_FR.UTF-8" << true << "À propos de Glintor";
    QTest::newRow("French system, no catalogue") << "fr_FR.UTF-8" << false << "关于Glintor";
}

void TestGuiProgram::startsInTheSystemLanguage()
{
    QFETCH(QString, lang);
    QFETCH(bool, catalogueInWorkingDirectory);
    QFETCH(QString, aboutTitle);

    QTemporaryDir work;
    QVERIFY(work.isValid());
    QDir folder(work.path());
    QVERIFY(folder.mkpath(QStringLiteral("config")));
    QVERIFY(folder.mkpath(QStringLiteral("runtime")));
    QVERIFY(QFile::setPermissions(folder.filePath(QStringLiteral("runtime")),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    if (catalogueInWorkingDirectory) {
        QVERIFY(folder.mkpath(QStringLiteral("translations")));
        QVERIFY(QFile::copy(QStringLiteral(GLINTOR_TEST_CATALOGUE_DIR "/glintor_fr.qm"),
                            folder.filePath(QStringLiteral("translations/glintor_fr.qm"))));
    }

    // The unit runs before the window opens and must still run after it closed.
    QProcess start;
    start.start(systemctl->binDirectory() + QStringLiteral("/systemctl"),
                { QStringLiteral("--user"), QStringLiteral("start"), QStringLiteral("glintor.service") });
    QVERIFY(start.waitForFinished(10000));
    const qint64 unit = systemctl->unitPid();
    QVERIFY(unit != 0);
    systemctl->clearCalls();

    QProcessEnvironment environment = systemctl->environment(xserver->environment());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), folder.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), folder.filePath(QStringLiteral("runtime")));
    environment.insert(QStringLiteral("LANG"), lang);
    for (const char *name : { "LC_ALL", "LC_MESSAGES", "LANGUAGE" })
        environment.remove(QLatin1String(name));
    // Started from the temporary folder, which may hold a "./translations" catalogue.
    ProgramRun gui(QStringLiteral("/bin/sh"),
                   { QStringLiteral("-c"), QStringLiteral("cd \"$1\" && exec \"$2\""), QStringLiteral("sh"),
                     work.path(), builtProgram(QStringLiteral("glintor-gui")) },
                   environment);

    QTRY_VERIFY_WITH_TIMEOUT(shownWindows(xserver->display()).contains(QStringLiteral("Glintor")), 20000);
    const unsigned long window = shownWindows(xserver->display()).value(QStringLiteral("Glintor"));
    // The window is mapped before the constructor's status check runs, so wait for that call.
    QTRY_COMPARE_WITH_TIMEOUT(systemctl->calls().value(0), QStringLiteral("--user is-active glintor.service"), 20000);

    // The About button is last in the focus chain.
    QVERIFY(xserver->xdotool({ QStringLiteral("windowfocus"), QStringLiteral("--sync"), QString::number(window) }));
    QVERIFY(xserver->xdotool({ QStringLiteral("key"), QStringLiteral("shift+Tab"), QStringLiteral("space") }));
    QTRY_VERIFY_WITH_TIMEOUT(shownWindows(xserver->display()).contains(aboutTitle), 20000);
    QVERIFY(xserver->xdotool({ QStringLiteral("key"), QStringLiteral("Escape") }));
    // A window behind a modal box ignores a close request.
    QTRY_VERIFY_WITH_TIMEOUT(!shownWindows(xserver->display()).contains(aboutTitle), 20000);

    QVERIFY(closeWindow(xserver->display(), window));
    QCOMPARE(gui.waitForExit(10000), 0);
    QCOMPARE(ownLines(gui.lines()), QStringList());
    QCOMPARE(systemctl->unitPid(), unit);
}

QTEST_GUILESS_MAIN(TestGuiProgram)
#include "tst_guiprogram.moc"
