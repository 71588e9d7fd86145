// The session bus name of the service on a display, as both the service and glintor-locate derive it.

#include "locatebus.h"

#include <QtTest>

class TestLocateBus final : public QObject {
    Q_OBJECT

private slots:
    void serviceName_data()
    {
        QTest::addColumn<QString>("display");
        QTest::addColumn<QString>("waylandDisplay");
        QTest::addColumn<QString>("onX11"); // the name of a service on X11, after "org.glintor.Glintor."
        QTest::addColumn<QString>("onWayland"); // of a service on Qt's Wayland platform

        const auto row = [](const char *tag, const char *x11, const char *wayland, const char *onX11,
                             const char *onWayland) {
            QTest::newRow(tag) << QString(x11) << QString(wayland) << QString(onX11) << QString(onWayland);
        };
        row(":0", ":0", "", "x11_0", "");
        row(":0.1, another screen of the same server", ":0.1", "", "x11_0", "");
        row("unix:0", "unix:0", "", "x11_0", "");
        row("unix/:0.0", "unix/:0.0", "", "x11_0", "");
        row("X and Wayland (XWayland, or a stale DISPLAY)", ":0", "wayland-0", "x11_0", "wayland_wayland_2d0");
        row(":12", ":12", "", "x11_12", "");
        row("remote host", "host.example:0.0", "", "x11_host_2eexample_3a0", "");
        row("IPv6 host", "[::1]:3", "", "x11__5b_3a_3a1_5d_3a3", "");
        row("Wayland only", "", "wayland-1", "wayland_wayland_2d1", "wayland_wayland_2d1");
        row("an underscore kept apart from an escape", "", "a_2d", "wayland_a_5f2d", "wayland_a_5f2d");
        row("a name too long for the bus", "",
            "/run/user/1000/wayland-0/////////////////////////////////////"
            "////////////////////////////////////////////////////////////////////////////////////////////////",
            "wayland_hc6b06bc75836a12f02d97c5f0481be81098c4fce", "wayland_hc6b06bc75836a12f02d97c5f0481be81098c4fce");
        row("no display", "", "", "", "");
    }
    void serviceName()
    {
        QFETCH(QString, display);
        QFETCH(QString, waylandDisplay);
        QFETCH(QString, onX11);
        QFETCH(QString, onWayland);
        const auto name = [](const QString &element) {
            return element.isEmpty() ? QString() : QStringLiteral("org.glintor.Glintor.") + element;
        };
        QCOMPARE(LocateBus::serviceName(false, display, waylandDisplay), name(onX11));
        if (!onWayland.isEmpty())
            QCOMPARE(LocateBus::serviceName(true, display, waylandDisplay), name(onWayland));
        // glintor-locate tries the session's Wayland display before its X display.
        QStringList tried;
        if (!waylandDisplay.isEmpty())
            tried << name(onWayland);
        if (!display.isEmpty())
            tried << name(onX11);
        QCOMPARE(LocateBus::serviceNames(display, waylandDisplay), tried);
    }
};

QTEST_APPLESS_MAIN(TestLocateBus)

#include "tst_locatebus.moc"
