// The shake rule on its own: horizontal moves and their poll times in, alternations out.

#include "shakerule.h"

#include <QtTest>

namespace {

// What the rule answered for one move: -1 when the move did not count, else the alternations.
int answerOf(const std::optional<int> &answer)
{
    return answer ? *answer : -1;
}

} // namespace

class TestShakeRule final : public QObject
{
    Q_OBJECT

private slots:
    void series_data();
    void series();
    void shortMoveLeavesHistoryAlone();
    void prunedEntriesAreTheOldest();
};

void TestShakeRule::series_data()
{
    QTest::addColumn<QList<int>>("moves"); // dx of each poll
    QTest::addColumn<QList<qint64>>("times"); // ms of each poll
    QTest::addColumn<int>("distance");
    QTest::addColumn<int>("windowMs");
    QTest::addColumn<QList<int>>("answers"); // -1: not counted
    QTest::addColumn<QList<int>>("directionsLeft"); // history after the last move, oldest first

    const QList<qint64> every20ms { 1000, 1020, 1040, 1060, 1080, 1100, 1120, 1140 };

    QTest::newRow("right left right left at 80 px")
        << QList<int> { 80, -80, 80, -80 } << every20ms.mid(0, 4) << 80 << 700 << QList<int> { 0, 1, 2, 3 }
        << QList<int> { 1, -1, 1, -1 };
    QTest::newRow("left right left right")
        << QList<int> { -200, 200, -200, 200 } << every20ms.mid(0, 4) << 80 << 700 << QList<int> { 0, 1, 2, 3 }
        << QList<int> { -1, 1, -1, 1 };
    QTest::newRow("right right left right left")
        << QList<int> { 80, 80, -80, 80, -80 } << every20ms.mid(0, 5) << 80 << 700 << QList<int> { 0, 0, 1, 2, 3 }
        << QList<int> { 1, 1, -1, 1, -1 };
    QTest::newRow("exactly shakeDistance to the right counts")
        << QList<int> { 80 } << every20ms.mid(0, 1) << 80 << 700 << QList<int> { 0 } << QList<int> { 1 };
    QTest::newRow("exactly shakeDistance to the left counts")
        << QList<int> { -80 } << every20ms.mid(0, 1) << 80 << 700 << QList<int> { 0 } << QList<int> { -1 };
    QTest::newRow("one pixel less to the right does not count")
        << QList<int> { 79 } << every20ms.mid(0, 1) << 80 << 700 << QList<int> { -1 } << QList<int> {};
    QTest::newRow("one pixel less to the left does not count")
        << QList<int> { -79 } << every20ms.mid(0, 1) << 80 << 700 << QList<int> { -1 } << QList<int> {};
    QTest::newRow("79 px swings never count")
        << QList<int> { 79, -79, 79, -79, 79, -79 } << every20ms.mid(0, 6) << 80 << 700
        << QList<int> { -1, -1, -1, -1, -1, -1 } << QList<int> {};
    QTest::newRow("short move between swings neither adds nor clears")
        << QList<int> { 80, -10, -80, 5, 80 } << every20ms.mid(0, 5) << 80 << 700 << QList<int> { 0, -1, 1, -1, 2 }
        << QList<int> { 1, -1, 1 };
    QTest::newRow("no move never counts, even with distance 0")
        << QList<int> { 0, 0 } << every20ms.mid(0, 2) << 0 << 700 << QList<int> { -1, -1 } << QList<int> {};
    QTest::newRow("distance 0 counts a one pixel move")
        << QList<int> { 1, -1 } << every20ms.mid(0, 2) << 0 << 700 << QList<int> { 0, 1 } << QList<int> { 1, -1 };
    QTest::newRow("larger distance setting")
        << QList<int> { 150, -150, 200, -200 } << every20ms.mid(0, 4) << 200 << 700 << QList<int> { -1, -1, 0, 1 }
        << QList<int> { 1, -1 };
    QTest::newRow("entry exactly shakeWindowMs old stays")
        << QList<int> { 80, -80 } << QList<qint64> { 1000, 1700 } << 80 << 700 << QList<int> { 0, 1 }
        << QList<int> { 1, -1 };
    QTest::newRow("entry one ms older is pruned")
        << QList<int> { 80, -80 } << QList<qint64> { 1000, 1701 } << 80 << 700 << QList<int> { 0, 0 }
        << QList<int> { -1 };
    QTest::newRow("moves spread over more than the window")
        << QList<int> { 80, -80, 80, -80, 80 } << QList<qint64> { 0, 400, 800, 1200, 1600 } << 80 << 700
        << QList<int> { 0, 1, 1, 1, 1 } << QList<int> { -1, 1 };
    QTest::newRow("fourth move just inside the window")
        << QList<int> { 80, -80, 80, -80 } << QList<qint64> { 100, 120, 140, 800 } << 80 << 700
        << QList<int> { 0, 1, 2, 3 } << QList<int> { 1, -1, 1, -1 };
    QTest::newRow("fourth move just outside the window")
        << QList<int> { 80, -80, 80, -80 } << QList<qint64> { 100, 120, 140, 801 } << 80 << 700
        << QList<int> { 0, 1, 2, 2 } << QList<int> { -1, 1, -1 };
    QTest::newRow("a long pause empties all but the new move")
        << QList<int> { 80, -80, 80 } << QList<qint64> { 0, 20, 5000 } << 80 << 700 << QList<int> { 0, 1, 0 }
        << QList<int> { 1 };
    QTest::newRow("window 0 keeps only moves of the same poll time")
        << QList<int> { 80, -80, 80 } << QList<qint64> { 0, 0, 1 } << 80 << 0 << QList<int> { 0, 1, 0 }
        << QList<int> { 1 };
}

void TestShakeRule::series()
{
    QFETCH(QList<int>, moves);
    QFETCH(QList<qint64>, times);
    QFETCH(int, distance);
    QFETCH(int, windowMs);
    QFETCH(QList<int>, answers);
    QFETCH(QList<int>, directionsLeft);
    QCOMPARE(times.size(), moves.size());

    ShakeHistory history;
    QList<int> seen;
    for (int i = 0; i < moves.size(); ++i)
        seen << answerOf(recordShakeMove(history, moves.at(i), times.at(i), distance, windowMs));
    QCOMPARE(seen, answers);

    QList<int> directions;
    for (const auto &entry : history)
        directions << entry.second;
    QCOMPARE(directions, directionsLeft);
}

void TestShakeRule::shortMoveLeavesHistoryAlone()
{
    // A short move far outside the window must not prune either: only qualifying moves do.
    ShakeHistory history;
    QCOMPARE(answerOf(recordShakeMove(history, 80, 1000, 80, 700)), 0);
    QCOMPARE(answerOf(recordShakeMove(history, 10, 90000, 80, 700)), -1);
    QCOMPARE(history.size(), size_t(1));
    QCOMPARE(history.front().first, qint64(1000));
}

void TestShakeRule::prunedEntriesAreTheOldest()
{
    ShakeHistory history;
    const QList<qint64> times { 1000, 1300, 1600, 1800, 2000 };
    int sign = 1;
    for (qint64 time : times) {
        recordShakeMove(history, sign * 100, time, 80, 700);
        sign = -sign;
    }
    // 1000 went when 1800 came (800 ms old); 1300 is exactly 700 ms old at 2000 and stays.
    QCOMPARE(history.size(), size_t(4));
    QCOMPARE(history.front().first, qint64(1300));
    QCOMPARE(history.back().first, qint64(2000));
    QCOMPARE(history.back().second, 1);
}

QTEST_APPLESS_MAIN(TestShakeRule)

#include "tst_shakerule.moc"
