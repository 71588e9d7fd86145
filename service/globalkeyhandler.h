#pragma once

#include "shakerule.h"

#include <QObject>
#include <QPoint>

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

    void setClock(Clock clock); // seam for tests

    bool eventFilter(QObject *watched, QEvent *event) override;

    // Read-only views for tests.
    QPoint lastPolledPosition() const { return lastPos; }
    const ShakeHistory &history() const { return shakeHistory; }
    bool isStopped() const { return stopped; }

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

    Clock clock;
};
