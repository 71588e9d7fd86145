#include "globalkeyhandler.h"

#include "glintor.h"
#include "glintorsettings.h"

#include <QCursor>
#include <QDateTime>
#include <QDebug>
#include <QKeyEvent>
#include <QSettings>
#include <QTimer>

namespace {
constexpr int ShakePollMs = 20;
// A pointer that has not moved for this many polls (one second) lets the poll sleep.
constexpr int RestingPollsBeforeSleep = 50;
}

GlobalKeyHandler::GlobalKeyHandler(Glintor *overlayWidget)
    : QObject(nullptr)
    , overlay(overlayWidget)
    , lastPos(QCursor::pos())
    , shakeTimer(new QTimer(this))
    , enableShake(GlintorSettings::Default::EnableShake)
    , shakeDistance(GlintorSettings::Default::ShakeDistance)
    , shakeWindowMs(GlintorSettings::Default::ShakeWindowMs)
    , shakeAlternations(GlintorSettings::Default::ShakeAlternations)
    , clock([] { return QDateTime::currentMSecsSinceEpoch(); })
{
    connect(shakeTimer, &QTimer::timeout, this, &GlobalKeyHandler::checkMouseShake);
    shakeTimer->start(ShakePollMs);
    reloadSettings();
}

GlobalKeyHandler::~GlobalKeyHandler() = default;

void GlobalKeyHandler::setClock(Clock newClock)
{
    clock = std::move(newClock);
}

void GlobalKeyHandler::shutdown()
{
    stopped = true;
    shakeTimer->stop();
}

void GlobalKeyHandler::enableRestSleep()
{
    restSleepEnabled = true;
}

void GlobalKeyHandler::noteRest(const QPoint &previous, const QPoint &current)
{
    // Polling a resting pointer only ever yields dx = 0, which decides nothing, so sleep until
    // the next motion instead of paying for 50 X round trips a second.
    restingPolls = current == previous ? restingPolls + 1 : 0;
    if (restSleepEnabled && restingPolls >= RestingPollsBeforeSleep) {
        pollSleeping.store(true);
        shakeTimer->stop();
    }
}

void GlobalKeyHandler::resumePolling()
{
    restingPolls = 0;
    pollSleeping.store(false);
    if (!stopped && !shakeTimer->isActive())
        shakeTimer->start(ShakePollMs);
}

bool GlobalKeyHandler::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto *keyEvent = static_cast<QKeyEvent *>(event);
        if (keyEvent->key() == Qt::Key_Control && !ctrlPressed) {
            ctrlPressed = true;
            const QPoint pos = QCursor::pos();
            qDebug() << "Ctrl key pressed at position:" << pos;
            overlay->startAnimation(pos);
            return true;
        }
        const Qt::KeyboardModifiers ctrlShift = Qt::ControlModifier | Qt::ShiftModifier;
        if ((keyEvent->modifiers() & ctrlShift) == ctrlShift && keyEvent->key() == Qt::Key_S) {
            qDebug() << "Opening settings dialog";
            emit openSettings();
            return true;
        }
    } else if (event->type() == QEvent::KeyRelease && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Control) {
        ctrlPressed = false;
        qDebug() << "Ctrl key released";
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void GlobalKeyHandler::reloadSettings()
{
    QSettings settings(GlintorSettings::Organization, GlintorSettings::Application);
    enableShake = settings.value(GlintorSettings::Key::EnableShake, GlintorSettings::Default::EnableShake).toBool();
    shakeDistance = settings.value(GlintorSettings::Key::ShakeDistance, GlintorSettings::Default::ShakeDistance).toInt();
    shakeWindowMs = settings.value(GlintorSettings::Key::ShakeWindowMs, GlintorSettings::Default::ShakeWindowMs).toInt();
    shakeAlternations
        = settings.value(GlintorSettings::Key::ShakeAlternations, GlintorSettings::Default::ShakeAlternations).toInt();
}

void GlobalKeyHandler::checkMouseShake()
{
    if (stopped)
        return;
    if (!enableShake) {
        const QPoint previous = lastPos;
        lastPos = QCursor::pos();
        noteRest(previous, lastPos);
        return;
    }

    const QPoint pos = QCursor::pos();
    const qint64 now = clock();
    const int dx = pos.x() - lastPos.x();
    const std::optional<int> alternations = recordShakeMove(shakeHistory, dx, now, shakeDistance, shakeWindowMs);
    if (alternations && *alternations >= shakeAlternations) {
        const QPoint shakePos = QCursor::pos();
        qDebug() << "Mouse shake detected (alternations=" << *alternations << ") at position:" << shakePos;
        overlay->startAnimation(shakePos);
        shakeHistory.clear();
    }
    noteRest(lastPos, pos);
    lastPos = pos;
}
