#pragma once

// The wayland mode: glintor-service as a Wayland client, from glintor-locate's exec to the first ring
// frame, step by step, to its rest and memory, read from WAYLAND_DEBUG=client logs; clicks: waylandclicks.h.

#include <QSize>
#include <QString>

// The outputs sway was given: count of them side by side, each size (logical pixels).
struct WaylandLayout {
    int count = 1;
    QSize size { 1920, 1080 };
    QString label() const
    {
        const QString one = QStringLiteral("%1×%2").arg(size.width()).arg(size.height());
        return count == 1 ? one : QStringLiteral("%1 × %2").arg(count).arg(one);
    }
};

int runWayland(const QString &servicePath, const QString &pointerHelper, const WaylandLayout &layout, int count,
    int runs, int plainRuns, double restSeconds, int clicks, const QString &probePath, const QString &logDir);
