#include "imagecheck.h"

#include "xserver.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QtGlobal>

bool sameColour(QRgb a, QRgb b, int tolerance)
{
    return qAbs(qRed(a) - qRed(b)) <= tolerance && qAbs(qGreen(a) - qGreen(b)) <= tolerance
        && qAbs(qBlue(a) - qBlue(b)) <= tolerance;
}

QImage screenshotUntil(const XServer &server, const std::function<bool(const QImage &)> &wanted, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    QImage shot;
    do {
        shot = server.screenshot();
        if (!shot.isNull() && wanted(shot))
            return shot;
        QCoreApplication::processEvents();
    } while (!deadline.hasExpired());
    return shot;
}
