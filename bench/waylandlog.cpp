// The WAYLAND_DEBUG=client log parser: each glintor-locate call's steps, read from the service's log.

#include "waylandlog.h"

#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <ctime>

std::vector<WaylandLogLine> readWaylandLog(const QString &path)
{
    std::vector<WaylandLogLine> lines;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    for (const QByteArray &raw : file.readAll().split('\n')) {
        WaylandLogLine line;
        QByteArray rest = raw;
        if (rest.startsWith("qt[")) {
            line.qt = true;
            rest = rest.mid(2);
        }
        const int close = rest.indexOf(']');
        if (!rest.startsWith('[') || close < 0)
            continue;
        const QList<QByteArray> parts = rest.mid(1, close - 1).trimmed().split('.');
        if (parts.size() != 2)
            continue;
        line.stamp = quint32(parts[0].toULongLong() * 1000 + parts[1].toULongLong());
        QString text = QString::fromLatin1(rest.mid(close + 1).trimmed());
        // libwayland 1.23 (Debian 13) names the queue first and writes objects as name#id, not name@id.
        static const QRegularExpression queue(QStringLiteral("^\\{[^}]*\\}\\s*"));
        static const QRegularExpression object(QStringLiteral("\\b([A-Za-z_][A-Za-z0-9_]*)#(\\d+)"));
        text.remove(queue).replace(object, QStringLiteral("\\1@\\2"));
        line.text = text.toLatin1();
        lines.push_back(std::move(line));
    }
    return lines;
}

quint32 wallClockMicroseconds()
{
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    return quint32(quint64(now.tv_sec) * 1000000u + quint64(now.tv_nsec) / 1000u);
}

quint32 monotonicMilliseconds()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return quint32(quint64(now.tv_sec) * 1000u + quint64(now.tv_nsec) / 1000000u);
}

namespace {

double since(const WaylandLogLine &line, const LocateCall &call)
{
    return line.qt ? double(qint32(line.stamp - call.monotonicMs)) : double(qint32(line.stamp - call.wallUs)) / 1000.0;
}

// Searches the service's log for the steps of one call. The finding surfaces live on a connection
// of their own, whose object ids may repeat Qt's: they are known by their namespace, and their
// mapping commit is the one the finder sends right after the attach of their buffer.
void readCall(const std::vector<WaylandLogLine> &log, LocateCall &call)
{
    static const QRegularExpression layerSurface(
        QStringLiteral("get_layer_surface\\(new id (zwlr_layer_surface_v1@\\d+), "
                       "(wl_surface@\\d+), .*\"(glintor|glintor-pointer)\"\\)$"));
    static const QRegularExpression syncRequest(
        QStringLiteral("^-> wl_display@1\\.sync\\(new id (wl_callback@\\d+)\\)$"));
    struct Cover {
        QByteArray layer, surface; // "-> zwlr_layer_surface_v1@N", "-> wl_surface@N"
        bool shown = false, gone = false;
    };
    std::vector<Cover> covers;
    QByteArray syncDone; // "wl_callback@N.done("
    QByteArray overlay;
    bool overlayAttached = false;
    for (size_t i = 0; i < log.size(); ++i) {
        const WaylandLogLine &line = log[i];
        const QByteArray &text = line.text;
        const double at = since(line, call);
        if (at < 0 || at >= call.untilMs)
            continue;
        if (line.qt) {
            if (call.animationStarted < 0 && text.startsWith("Animation started"))
                call.animationStarted = at;
            continue;
        }
        if (text.contains("get_layer_surface(")) {
            const QRegularExpressionMatch made = layerSurface.match(QString::fromLatin1(text));
            if (!made.hasMatch())
                continue;
            const QByteArray surface = "-> " + made.captured(2).toLatin1();
            if (made.captured(3) == QLatin1String("glintor-pointer")) {
                // The call's own search only: its surfaces are all asked for before an enter or a drop.
                if (call.pointerEntered < 0
                    && std::none_of(covers.begin(), covers.end(), [](const Cover &cover) { return cover.gone; })) {
                    covers.push_back({ "-> " + made.captured(1).toLatin1(), surface });
                    if (call.finderMapped < 0)
                        call.finderMapped = at;
                }
            } else if (call.pointerEntered >= 0 && overlay.isEmpty()) {
                overlay = surface;
                call.overlayMapped = at;
            }
            continue;
        }
        const auto cover = std::find_if(covers.begin(), covers.end(), [&](const Cover &each) {
            return !each.gone && (text.startsWith(each.surface + '.') || text.startsWith(each.layer + '.'));
        });
        if (cover != covers.end()) {
            if (!cover->shown && text == cover->surface + ".commit()" && i > 0
                && log[i - 1].text.startsWith(cover->surface + ".attach(wl_buffer@")) {
                cover->shown = true;
                if (call.finderShown < 0)
                    call.finderShown = at;
                // Once every surface is shown the finder asks for a sync, a few requests after the
                // last commit (its first try unmaps the surfaces and maps the hand-over first).
                for (size_t next = i + 1; next < std::min(log.size(), i + 16) && syncDone.isEmpty(); ++next) {
                    const QRegularExpressionMatch sync = syncRequest.match(QString::fromLatin1(log[next].text));
                    if (sync.hasMatch())
                        syncDone = sync.captured(1).toLatin1() + ".done(";
                }
            } else if (text == cover->layer + ".destroy()" || text == cover->surface + ".destroy()") {
                cover->gone = true;
                if (cover->shown)
                    call.finderGone = at;
            }
            continue;
        }
        if (!syncDone.isEmpty() && call.enterBeforeSyncDone < 0
            && (text.startsWith(syncDone) || text.startsWith("discarded " + syncDone))) {
            // The finder drops its sync with the surfaces when the enter comes: libwayland then
            // discards the done.
            call.enterBeforeSyncDone = text.startsWith("discarded") || call.pointerEntered >= 0 ? 1 : 0;
        } else if (call.pointerEntered < 0 && text.startsWith("wl_pointer@") && text.contains(".enter(")) {
            if (std::any_of(covers.begin(), covers.end(),
                    [&](const Cover &each) { return text.contains(", " + each.surface.mid(3) + ", "); }))
                call.pointerEntered = at;
        } else if (!overlay.isEmpty() && call.firstFrame < 0) {
            if (text.startsWith(overlay + ".attach(wl_buffer@"))
                overlayAttached = true;
            else if (overlayAttached && text == overlay + ".commit()")
                call.firstFrame = at;
        }
    }
    call.covers = int(covers.size());
}

} // namespace

double firstLine(const std::vector<WaylandLogLine> &log, const LocateCall &call, const QByteArray &prefix,
    const QByteArray &part, double fromMs)
{
    for (const WaylandLogLine &line : log) {
        const double at = since(line, call);
        if (!line.qt && at >= fromMs && at < call.untilMs && line.text.startsWith(prefix) && line.text.contains(part))
            return at;
    }
    return -1;
}

void readCalls(const QString &logPath, std::vector<LocateCall> &calls)
{
    const std::vector<WaylandLogLine> log = readWaylandLog(logPath);
    for (size_t i = 0; i < calls.size(); ++i) {
        if (i + 1 < calls.size())
            calls[i].untilMs = std::min(5000.0, double(qint32(calls[i + 1].monotonicMs - calls[i].monotonicMs)));
        readCall(log, calls[i]);
    }
}

std::pair<int, int> surfacesLeftMapped(const std::vector<WaylandLogLine> &log)
{
    static const QRegularExpression made(QStringLiteral("get_layer_surface\\(new id (zwlr_layer_surface_v1@\\d+), "
                                                        "(wl_surface@\\d+), .*\"(glintor|glintor-pointer)\"\\)$"));
    int madeCount = 0;
    int left = 0;
    for (size_t i = 0; i < log.size(); ++i) {
        const QRegularExpressionMatch match = made.match(QString::fromLatin1(log[i].text));
        if (log[i].qt || !match.hasMatch())
            continue;
        ++madeCount;
        const QByteArray layer = "-> " + match.captured(1).toLatin1();
        const QByteArray surface = "-> " + match.captured(2).toLatin1();
        const auto unmapped = std::find_if(log.begin() + qint64(i) + 1, log.end(), [&](const WaylandLogLine &line) {
            return line.text == layer + ".destroy()" || line.text == surface + ".destroy()"
                || line.text.startsWith(surface + ".attach(nil");
        });
        if (unmapped == log.end())
            ++left;
    }
    return { left, madeCount };
}
