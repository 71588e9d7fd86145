// The rules of the hotkey thread as plain classes fed with event sequences: what a tap of Ctrl
// alone is, and when a hotkey grab is tried again and what gets logged.

#include "ctrltap.h"
#include "grabschedule.h"

#include <QtTest>

namespace {

// Keycodes as the evdev keymap has them.
const QMap<QChar, unsigned> Keys { { 'C', 37 }, { 'R', 105 }, { 'S', 50 }, { 'A', 64 }, { 'K', 66 }, { 'X', 38 } };

} // namespace

class TestTriggerRules final : public QObject {
    Q_OBJECT

private slots:
    void ctrlTap_data();
    void ctrlTap();
    void grabSchedule_data();
    void grabSchedule();
};

void TestTriggerRules::ctrlTap_data()
{
    QTest::addColumn<QString>("ctrlKeys"); // what the modifier map binds to Control
    // Events at ms times: "+S@0" key S down, "-S@5" up, "*S@7" an auto-repeat, "+B"/"-B" a
    // button, "W" a smooth-scroll valuator, "T" a touch begin.
    QTest::addColumn<QString>("events");
    QTest::addColumn<int>("taps");

    QTest::newRow("Ctrl alone") << "CR"
                                << "+C@0 -C@120" << 1;
    QTest::newRow("Shift then Ctrl (layout switch)") << "CR"
                                                     << "+S@0 +C@40 -C@120 -S@150" << 0;
    QTest::newRow("Ctrl then Shift") << "CR"
                                     << "+C@0 +S@40 -S@100 -C@120" << 0;
    QTest::newRow("a letter held, as in a game") << "CR"
                                                 << "+X@0 *X@30 +C@60 -C@160 -X@300" << 0;
    QTest::newRow("Alt first") << "CR"
                               << "+A@0 -A@20 +C@50 -C@100" << 1; // released before Ctrl went down
    QTest::newRow("Alt held") << "CR"
                              << "+A@0 +C@50 -C@100 -A@120" << 0;
    QTest::newRow("a tap after a spoiled one") << "CR"
                                               << "+S@0 +C@10 -C@50 -S@60 +C@500 -C@600" << 1;
    QTest::newRow("smooth-scroll zoom") << "CR"
                                        << "+C@0 W@100 -C@200" << 0;
    QTest::newRow("touch") << "CR"
                           << "+C@0 T@100 -C@200" << 0;
    QTest::newRow("Ctrl+click") << "CR"
                                << "+C@0 +B@100 -B@150 -C@200" << 0;
    QTest::newRow("button held at the press") << "CR"
                                              << "+B@0 +C@50 -C@100 -B@200" << 0;
    QTest::newRow("auto-repeat of Ctrl itself") << "CR"
                                                << "+C@0 *C@300 *C@340 -C@400" << 1;
    QTest::newRow("both Ctrl keys") << "CR"
                                    << "+C@0 +R@30 -C@100 -R@150" << 1;
    QTest::newRow("Caps as Ctrl") << "CRK"
                                  << "+K@0 -K@100" << 1;
    QTest::newRow("Caps when it is not Ctrl") << "CR"
                                              << "+K@0 -K@100" << 0;
    QTest::newRow("Caps as Ctrl, then a letter") << "CRK"
                                                 << "+K@0 +X@50 -X@60 -K@100" << 0;
    QTest::newRow("Ctrl's release unseen, then a tap") << "CR"
                                                       << "+C@0 +C@1000 -C@1100" << 1;
    QTest::newRow("released at 499 ms") << "CR"
                                        << "+C@1000 -C@1499" << 1;
    QTest::newRow("released at 500 ms") << "CR"
                                        << "+C@1000 -C@1500" << 1;
    QTest::newRow("released at 501 ms") << "CR"
                                        << "+C@1000 -C@1501" << 0;
}

void TestTriggerRules::ctrlTap()
{
    QFETCH(QString, ctrlKeys);
    QFETCH(QString, events);
    QFETCH(int, taps);

    CtrlTap tap;
    std::vector<unsigned> keycodes;
    for (const QChar key : ctrlKeys)
        keycodes.push_back(Keys.value(key));
    tap.setCtrlKeycodes(keycodes);

    int seen = 0;
    for (const QString &event : events.split(QLatin1Char(' '))) {
        const QChar kind = event.at(0);
        const unsigned long time = event.section(QLatin1Char('@'), 1).toULong();
        if (kind == 'W' || kind == 'T') {
            tap.otherInput();
        } else if (event.at(1) == 'B') {
            kind == '+' ? tap.buttonPress() : tap.buttonRelease();
        } else if (kind == '-') {
            seen += tap.keyRelease(Keys.value(event.at(1)), time) ? 1 : 0;
        } else {
            tap.keyPress(Keys.value(event.at(1)), time, kind == '*');
        }
    }
    QCOMPARE(seen, taps);
}

void TestTriggerRules::grabSchedule_data()
{
    QTest::addColumn<bool>("olderAlive"); // an older service held the selection at the start
    // Steps at ms times: "gone@T" the older service's window went; "grab@T" / "refused@T" a try
    // made at T (each must be due by then) with that outcome.
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("notes"); // what the tries logged, in order
    QTest::addColumn<qint64>("nextDue"); // when the next try is due after the steps; -1 when held

    QTest::newRow("alone") << false << "grab@0"
                           << "" << qint64(-1);
    QTest::newRow("takeover: older gone in time") << true << "gone@300 grab@300"
                                                  << "TookOver" << qint64(-1);
    QTest::newRow("takeover: its grab outlives its window") << true << "gone@300 refused@300 refused@350 grab@400"
                                                            << "TookOver" << qint64(-1);
    QTest::newRow("takeover: the older one hangs") << true << "refused@2000 refused@2500 refused@3000"
                                                   << "StillWaiting" << qint64(3500);
    QTest::newRow("takeover: the hung one goes on and exits") << true << "refused@2000 refused@2500 gone@2700 grab@2700"
                                                              << "StillWaiting TookOver" << qint64(-1);
    QTest::newRow("a race: the loser still holds the key") << false << "refused@0 refused@50 refused@100 grab@150"
                                                           << "" << qint64(-1);
    QTest::newRow("another program holds the key") << false << "refused@0 refused@1950 refused@2000 refused@2500"
                                                   << "Refused" << qint64(3000);
    QTest::newRow("another program lets go later") << false << "refused@0 refused@2000 refused@2500 grab@3000"
                                                   << "Refused Grabbed" << qint64(-1);
    QTest::newRow("takeover: said once 2 s are over") << true << "refused@2000" << "StillWaiting" << qint64(2500);
    QTest::newRow("the older one's window went, another program holds the key")
        << true << "gone@100 refused@100 refused@2000 refused@2050"
        << "Refused" << qint64(2100);
}

void TestTriggerRules::grabSchedule()
{
    QFETCH(bool, olderAlive);
    QFETCH(QString, steps);
    QFETCH(QString, notes);
    QFETCH(qint64, nextDue);

    const QMap<GrabSchedule::Note, QString> names { { GrabSchedule::Note::TookOver, "TookOver" },
        { GrabSchedule::Note::StillWaiting, "StillWaiting" }, { GrabSchedule::Note::Refused, "Refused" },
        { GrabSchedule::Note::Grabbed, "Grabbed" } };
    GrabSchedule schedule(0, olderAlive);
    QStringList logged;
    for (const QString &step : steps.split(QLatin1Char(' '))) {
        const qint64 time = step.section(QLatin1Char('@'), 1).toLongLong();
        if (step.startsWith(QLatin1String("gone"))) {
            schedule.olderServiceGone(time);
            continue;
        }
        QVERIFY2(schedule.nextAttempt() >= 0 && schedule.nextAttempt() <= time,
            qPrintable(QStringLiteral("%1 was not due; due at %2").arg(step).arg(schedule.nextAttempt())));
        const GrabSchedule::Note note = schedule.attempted(step.startsWith(QLatin1String("grab")), time);
        if (note != GrabSchedule::Note::Silent)
            logged << names.value(note);
    }
    QCOMPARE(logged.join(QLatin1Char(' ')), notes);
    QCOMPARE(schedule.nextAttempt(), nextDue);
    // A service that took over never tries before the older one has had its time to go.
    GrabSchedule waiting(0, true);
    QCOMPARE(waiting.nextAttempt(), GrabSchedule::HandoverMs);
}

QTEST_APPLESS_MAIN(TestTriggerRules)

#include "tst_triggerrules.moc"
