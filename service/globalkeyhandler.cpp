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

// A stored number outside the settings window's range is pulled into it; text that is no number
// gives the default, not 0, which would make the detector as touchy as it can be. Either way a
// warning names what was stored and what is used.
int readBounded(const QSettings &settings, const char *key, int fallback, GlintorSettings::IntRange range)
{
    const QVariant stored = settings.value(QLatin1String(key));
    if (!stored.isValid())
        return fallback;
    bool isNumber = false;
    const int value = stored.toInt(&isNumber);
    if (!isNumber) {
        qWarning().noquote() << QStringLiteral("Setting %1=%2 is not a number; using %3")
                                    .arg(QLatin1String(key), stored.toString())
                                    .arg(fallback);
        return fallback;
    }
    const int used = qBound(range.minimum, value, range.maximum);
    if (used != value) {
        qWarning().noquote() << QStringLiteral("Setting %1=%2 is outside %3..%4; using %5")
                                    .arg(QLatin1String(key), stored.toString())
                                    .arg(range.minimum)
                                    .arg(range.maximum)
                                    .arg(used);
    }
    return used;
}
} // namespace

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

void GlobalKeyHandler::setPolling(bool on)
{
    pollingOn = on;
    pollSleeping.store(false);
    restingPolls = 0;
    if (on && !stopped)
        shakeTimer->start(ShakePollMs);
    else
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
    if (!stopped && pollingOn && !shakeTimer->isActive())
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
    using namespace GlintorSettings;
    QSettings settings(Organization, Application);
    enableShake = settings.value(Key::EnableShake, Default::EnableShake).toBool();
    shakeDistance = readBounded(settings, Key::ShakeDistance, Default::ShakeDistance, Range::ShakeDistance);
    shakeWindowMs = readBounded(settings, Key::ShakeWindowMs, Default::ShakeWindowMs, Range::ShakeWindowMs);
    shakeAlternations
        = readBounded(settings, Key::ShakeAlternations, Default::ShakeAlternations, Range::ShakeAlternations);
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
    if (const std::optional<int> alternations = shakeAt(pos)) {
        const QPoint shakePos = QCursor::pos();
        qDebug() << "Mouse shake detected (alternations=" << *alternations << ") at position:" << shakePos;
        overlay->startAnimation(shakePos);
    }
    noteRest(lastPos, pos);
    lastPos = pos;
}

void GlobalKeyHandler::pointerMoved(const QPoint &position)
{
    if (stopped)
        return;
    if (enableShake) {
        if (const std::optional<int> alternations = shakeAt(position)) {
            qDebug() << "Mouse shake detected (alternations=" << *alternations << ") at position:" << position;
            overlay->startAnimation(position);
        }
    }
    lastPos = position;
}

std::optional<int> GlobalKeyHandler::shakeAt(const QPoint &position)
{
    const int dx = position.x() - lastPos.x();
    const std::optional<int> alternations = recordShakeMove(shakeHistory, dx, clock(), shakeDistance, shakeWindowMs);
    if (!alternations || *alternations < shakeAlternations)
        return std::nullopt;
    shakeHistory.clear();
    return alternations;
}
