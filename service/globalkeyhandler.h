#pragma once

#include "shakerule.h"

#include <QObject>
#include <QPoint>

#include <atomic>
#include <functional>

class Glintor;
class QTimer;

// The service's in-process triggers: an application-wide event filter that starts the overlay on
// a Ctrl press, and a 20 ms pointer poll that starts it on a quick side-to-side shake.
class GlobalKeyHandler final : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<qint64()>;

    explicit GlobalKeyHandler(Glintor *overlay);
    ~GlobalKeyHandler() override;

    // Stops the shake poll for good; the key rules stay in force.
    void shutdown();
    // Stops and starts the shake poll, for a desktop that reports the pointer's motion itself
    // (pointerMoved) while it can.
    void setPolling(bool on);
    // A pointer position the desktop reported as the pointer moved, taken as a poll would take it;
    // a shake plays at that position.
    void pointerMoved(const QPoint &position);

    void setClock(Clock clock); // seam for tests

    // Lets the poll sleep while the pointer rests, once something will wake it on the next
    // pointer motion (see wakeOnMotion). Without it the poll runs every 20 ms for ever.
    void enableRestSleep();
    bool isPollSleeping() const { return pollSleeping.load(); }
    // Thread-safe: called for every pointer motion the X server reports. Returns true when the
    // poll was asleep; the caller then queues resumePolling() on this object's thread.
    bool wakeOnMotion() { return pollSleeping.exchange(false); }
    void resumePolling();

    bool eventFilter(QObject *watched, QEvent *event) override;

    // Read-only views for tests.
    QPoint lastPolledPosition() const { return lastPos; }
    const ShakeHistory &history() const { return shakeHistory; }
    bool isStopped() const { return stopped; }
    bool shakeEnabled() const { return enableShake; }

signals:
    void openSettings();

public slots:
    void reloadSettings();

private slots:
    void checkMouseShake();

private:
    Glintor *overlay;
    bool ctrlPressed = false;
    QPoint lastPos;
    QTimer *shakeTimer;
    bool enableShake;
    int shakeDistance;
    int shakeWindowMs;
    int shakeAlternations;
    ShakeHistory shakeHistory;
    bool stopped = false;

    void noteRest(const QPoint &previous, const QPoint &current);
    // Adds the move to position to the shake rule; the alternations when they make a shake.
    std::optional<int> shakeAt(const QPoint &position);

    Clock clock;
    bool restSleepEnabled = false;
    bool pollingOn = true;
    int restingPolls = 0;
    std::atomic<bool> pollSleeping { false };
};
