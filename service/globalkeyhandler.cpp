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
        lastPos = QCursor::pos();
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
    lastPos = pos;
}
