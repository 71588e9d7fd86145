// The session bus name of the service on a display, as both the service and glintor-locate derive it.

#include "locatebus.h"

#include <QRegularExpression>
#include <QtTest>

class TestLocateBus final : public QObject {
    Q_OBJECT

private slots:
    void serviceName_data()
    {
        QTest::addColumn<QString>("display");
        QTest::addColumn<QString>("waylandDisplay");
        QTest::addColumn<QString>("name");

        const QString local0 = QStringLiteral("org.glintor.Glintor.x11_0");
        QTest::newRow(":0") << ":0"
                            << "" << local0;
        QTest::newRow(":0.0, another screen of the same server") << ":0.0"
                                                                 << "" << local0;
        QTest::newRow("unix:0") << "unix:0"
                                << "" << local0;
        QTest::newRow("unix/:0.1") << "unix/:0.1"
                                   << "" << local0;
        QTest::newRow("X and Wayland: X wins") << ":0"
                                               << "wayland-0" << local0;
        QTest::newRow(":12") << ":12"
                             << ""
                             << "org.glintor.Glintor.x11_12";
        QTest::newRow("remote host") << "host.example:0"
                                     << ""
                                     << "org.glintor.Glintor.x11_host_2eexample_3a0";
        QTest::newRow("IPv6 host") << "[::1]:3.0"
                                   << ""
                                   << "org.glintor.Glintor.x11__5b_3a_3a1_5d_3a3";
        QTest::newRow("Wayland only") << ""
                                      << "wayland-1"
                                      << "org.glintor.Glintor.wayland_wayland_2d1";
        QTest::newRow("underscore kept apart") << ""
                                               << "a_2d"
                                               << "org.glintor.Glintor.wayland_a_5f2d";
        QTest::newRow("no display") << ""
                                    << ""
                                    << "";
    }
    void serviceName()
    {
        QFETCH(QString, display);
        QFETCH(QString, waylandDisplay);
        QFETCH(QString, name);
        QCOMPARE(LocateBus::serviceName(display, waylandDisplay), name);
    }

    void longNamesStayValid()
    {
        const QString name = LocateBus::serviceName(QString(), QString(300, QLatin1Char('/')));
        QVERIFY(name.size() <= 255);
        QVERIFY(QRegularExpression(QStringLiteral("^org\\.glintor\\.Glintor\\.wayland_h[0-9a-f]{40}$"))
                    .match(name)
                    .hasMatch());
    }
};

QTEST_APPLESS_MAIN(TestLocateBus)

#include "tst_locatebus.moc"
