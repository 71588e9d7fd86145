#pragma once

#include <QImage>
#include <QRgb>

#include <functional>

class XServer;

// Whether two pixels differ by at most tolerance in each of red, green and blue.
bool sameColour(QRgb a, QRgb b, int tolerance);

// Screenshots of server, taken until one shows what is wanted or timeoutMs has passed; events are processed
// in between. Returns the last screenshot, which the caller checks again.
QImage screenshotUntil(const XServer &server, const std::function<bool(const QImage &)> &wanted, int timeoutMs = 15000);
