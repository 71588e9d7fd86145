#include "locatebus.h"

#include <QCryptographicHash>

namespace LocateBus {

namespace {

// A bus name element holds only [A-Za-z0-9_-]; every other byte, and "_" itself, becomes "_xx" so
// that two displays never share a name.
QString escaped(const QByteArray &text)
{
    QString element;
    for (const char byte : text) {
        const bool plain
            = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9');
        if (plain)
            element += QLatin1Char(byte);
        else
            element += QStringLiteral("_%1").arg(uchar(byte), 2, 16, QLatin1Char('0'));
    }
    return element;
}

// "[protocol/][host]:number[.screen]" to "host:number": the screen does not matter (one service
// serves the display), and the local socket ("unix", or no host) is the same server as no host.
QByteArray x11Server(const QByteArray &display)
{
    const int colon = display.lastIndexOf(':');
    if (colon < 0)
        return display;
    QByteArray host = display.left(colon);
    QByteArray number = display.mid(colon + 1);
    const int dot = number.indexOf('.');
    if (dot >= 0)
        number.truncate(dot);
    const int slash = host.indexOf('/');
    if (slash >= 0 && host.left(slash) == "unix")
        host = host.mid(slash + 1);
    if (host == "unix")
        host.clear();
    return host.isEmpty() ? number : host + ':' + number;
}

QString named(const QString &platform, const QByteArray &display)
{
    QString element = platform + QLatin1Char('_') + escaped(display);
    // Bus names end at 255 characters; a display name that long is only told apart by its digest.
    if (element.size() > 200)
        element = platform + QStringLiteral("_h")
            + QString::fromLatin1(QCryptographicHash::hash(display, QCryptographicHash::Sha1).toHex());
    return QLatin1String(Id) + QLatin1Char('.') + element;
}

} // namespace

QString serviceName(bool onWayland, const QString &x11Display, const QString &waylandDisplay)
{
    if (!x11Display.isEmpty() && !onWayland)
        return named(QStringLiteral("x11"), x11Server(x11Display.toUtf8()));
    if (!waylandDisplay.isEmpty())
        return named(QStringLiteral("wayland"), waylandDisplay.toUtf8());
    return QString();
}

QString serviceName(bool onWayland)
{
    return serviceName(onWayland, qEnvironmentVariable("DISPLAY"), qEnvironmentVariable("WAYLAND_DISPLAY"));
}

QStringList serviceNames(const QString &x11Display, const QString &waylandDisplay)
{
    QStringList names;
    if (!waylandDisplay.isEmpty())
        names << serviceName(true, x11Display, waylandDisplay);
    if (!x11Display.isEmpty())
        names << serviceName(false, x11Display, waylandDisplay);
    return names;
}

QStringList serviceNames()
{
    return serviceNames(qEnvironmentVariable("DISPLAY"), qEnvironmentVariable("WAYLAND_DISPLAY"));
}

} // namespace LocateBus
