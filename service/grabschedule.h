#pragma once

#include <QDebug>
#include <QString>

#include <algorithm>

// When to try the hotkey's grab and what to say about it. A service that replaces an older one
// waits up to HandoverMs for the older one's window to go before its first try. A refused grab (the
// older service still holds the key, it hangs, or a service that started in the same instant has
// not seen yet that it lost) is tried again: quickly for HandoverMs, then at a slow pace for as
// long as the service runs, so that the key comes to life as soon as its holder lets go. Times are
// milliseconds of a monotonic clock.
class GrabSchedule final {
public:
    static constexpr qint64 HandoverMs = 2000;
    static constexpr qint64 FastRetryMs = 50;
    static constexpr qint64 SlowRetryMs = 500;

    // What a try has to tell the log.
    enum class Note {
        Silent,
        TookOver, // holds the key an older service had
        StillWaiting, // the older service has not let go after HandoverMs
        Refused, // someone else holds the key after HandoverMs
        Grabbed, // holds it after all, after StillWaiting or Refused
    };

    GrabSchedule(qint64 now, bool olderServiceAlive)
        : dueAt(olderServiceAlive ? now + HandoverMs : now)
        , fastUntil(now + HandoverMs)
        , warnAt(now + HandoverMs)
        , tookOver(olderServiceAlive)
    {
    }

    // The older service's window went away: its grabs go with it, so try now.
    void olderServiceGone(qint64 now)
    {
        olderGone = true;
        dueAt = now;
        fastUntil = std::max(fastUntil, now + HandoverMs);
    }
    // When the next try is due; -1 once the key is held.
    qint64 nextAttempt() const { return held ? -1 : dueAt; }
    bool holding() const { return held; }

    Note attempted(bool grabbed, qint64 now)
    {
        if (grabbed) {
            held = true;
            if (tookOver)
                return Note::TookOver;
            return warned ? Note::Grabbed : Note::Silent;
        }
        dueAt = now + (now < fastUntil ? FastRetryMs : SlowRetryMs);
        if (warned || now < warnAt)
            return Note::Silent;
        warned = true;
        return tookOver && !olderGone ? Note::StillWaiting : Note::Refused;
    }

private:
    qint64 dueAt;
    qint64 fastUntil;
    qint64 warnAt;
    bool tookOver;
    bool olderGone = false;
    bool warned = false;
    bool held = false;
};

// Says in the log what a try of the hotkey's grab has to tell, the same on every desktop. Also
// without --debug where it matters: users must be able to see why a key does nothing.
inline void logGrabNote(GrabSchedule::Note note, const QString &hotkey, bool debug)
{
    switch (note) {
    case GrabSchedule::Note::Silent:
        break;
    case GrabSchedule::Note::TookOver:
        if (debug)
            qDebug() << "Took over from an older glintor-service";
        break;
    case GrabSchedule::Note::StillWaiting:
        qWarning().noquote() << "The glintor-service replaced still holds the hotkey" << hotkey
                             << "- waiting for it to let go";
        break;
    case GrabSchedule::Note::Refused:
        qWarning().noquote() << "Cannot grab hotkey" << hotkey << "- possibly already grabbed by another application";
        break;
    case GrabSchedule::Note::Grabbed:
        qInfo().noquote() << "The hotkey" << hotkey << "is free now and works";
        break;
    }
}
