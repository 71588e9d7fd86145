#include "waylandserver.h"

#include "serviceprocess.h"

#include <QColor>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QThread>

#include <csignal>
#include <sys/types.h>
#include <unistd.h>

namespace {

// sway will not run as root; nobody can run it and own its runtime folder.
constexpr uid_t unprivilegedId = 65534;
constexpr int startTimeoutMs = 20000;

bool runningAsRoot()
{
    return geteuid() == 0;
}

// The parent's process id from /proc/PID/stat ("pid (name) state ppid ..."; the name may hold spaces).
qint64 parentOf(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 1).simplified().split(' ');
    return fields.size() > 1 ? fields.at(1).toLongLong() : -1;
}

QString sizeText(QSize size)
{
    return QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
}

QString colorText(QRgb color)
{
    return QColor(color).name();
}

} // namespace

WaylandServer::WaylandServer(Kind kind, QSize outputSize)
    // Under /tmp, not the build tree: the compositor's user must be able to reach its runtime folder.
    : serverKind(kind)
    , firstOutputSize(outputSize)
    , base(QStringLiteral("/tmp/glintor-wayland-XXXXXX"))
{
    if (!base.isValid() || !missingTools(kind).isEmpty())
        return;
    QFile::setPermissions(base.path(),
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther
            | QFile::ExeOther);
    runtimePath = base.path() + QStringLiteral("/runtime");
    if (!QDir().mkdir(runtimePath)
        || !QFile::setPermissions(runtimePath, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return;
    clientRuntimePath = runtimePath;
    if (kind == Kind::Sway && runningAsRoot()) {
        if (chown(QFile::encodeName(runtimePath).constData(), unprivilegedId, unprivilegedId) != 0)
            return;
        // Clients keep running as root, and Qt warns about a runtime folder that is not their
        // own; they reach the compositor through the absolute socket path anyway.
        clientRuntimePath = base.path() + QStringLiteral("/client-runtime");
        if (!QDir().mkdir(clientRuntimePath)
            || !QFile::setPermissions(clientRuntimePath, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
            return;
    }
    socketPath = runtimePath + QStringLiteral("/wayland-1");

    QElapsedTimer timer;
    timer.start();
    ready = kind == Kind::Sway ? startSway() : startWeston();
    if (ready)
        startUpMs = timer.elapsed();
    else
        qWarning("The headless compositor did not start:\n%s", qPrintable(logTail()));
}

WaylandServer::~WaylandServer()
{
    // The compositor's own children (weston's shell) are left to it: weston starts its shell again
    // when it dies.
    killClients(false);
    if (server.state() != QProcess::NotRunning) {
        server.terminate();
        if (!server.waitForFinished(3000)) {
            server.kill();
            server.waitForFinished(3000);
        }
    }
    // Clients the compositor started itself end with it; make sure nothing outlives the test.
    killClients(true);
}

QString WaylandServer::missingTools(Kind kind)
{
    const QStringList tools = kind == Kind::Sway ? QStringList { QStringLiteral("sway"), QStringLiteral("swaymsg"),
        QStringLiteral("grim"), QStringLiteral("wtype") }
                                                 : QStringList { QStringLiteral("weston") };
    for (const QString &tool : tools) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            return tool + QStringLiteral(" is not installed");
    }
    if (kind == Kind::Sway && runningAsRoot() && QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        return QStringLiteral("setpriv is not installed (sway refuses to run as root)");
    return QString();
}

bool WaylandServer::isRunning() const
{
    return ready && server.state() == QProcess::Running;
}

QProcessEnvironment WaylandServer::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), socketPath);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), clientRuntimePath);
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("WAYLAND_SOCKET"));
    if (serverKind == Kind::Sway)
        env.insert(QStringLiteral("SWAYSOCK"), ipcSocket);
    else
        env.remove(QStringLiteral("SWAYSOCK"));
    return env;
}

bool WaylandServer::startSway()
{
    const QString configPath = base.path() + QStringLiteral("/sway.config");
    QFile config(configPath);
    if (!config.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    // The first output stays at the origin: sway would otherwise line outputs up by itself.
    config.write(QStringLiteral("output * bg %1 solid_color\n"
                                "output HEADLESS-1 resolution %2 position 0 0\n"
                                "xwayland disable\n"
                                "default_border none\n"
                                "default_floating_border none\n"
                                "focus_follows_mouse no\n")
                     .arg(colorText(backgroundColor), sizeText(firstOutputSize))
                     .toUtf8());
    config.close();

    QProcessEnvironment env = environment();
    env.remove(QStringLiteral("SWAYSOCK"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimePath);
    env.insert(QStringLiteral("WLR_BACKENDS"), QStringLiteral("headless"));
    env.insert(QStringLiteral("WLR_LIBINPUT_NO_DEVICES"), QStringLiteral("1"));
    env.insert(QStringLiteral("WLR_RENDERER"), QStringLiteral("pixman"));
    server.setProcessEnvironment(env);
    server.setStandardOutputFile(base.path() + QStringLiteral("/compositor.log"));
    server.setStandardErrorFile(base.path() + QStringLiteral("/compositor.log"), QIODevice::Append);
    const QStringList swayArgs { QStringLiteral("sway"), QStringLiteral("-c"), configPath };
    if (runningAsRoot()) {
        // setpriv executes sway in its own process, so the IPC socket carries this process id.
        server.start(QStringLiteral("setpriv"),
            QStringList { QStringLiteral("--reuid=%1").arg(unprivilegedId),
                QStringLiteral("--regid=%1").arg(unprivilegedId), QStringLiteral("--clear-groups"),
                QStringLiteral("--") }
                + swayArgs);
    } else {
        server.start(swayArgs.first(), swayArgs.mid(1));
    }
    if (!server.waitForStarted(5000))
        return false;
    return waitUntilReady() && waitForBackground(QStringLiteral("HEADLESS-1"));
}

bool WaylandServer::startWeston()
{
    QProcessEnvironment env = environment();
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    server.setProcessEnvironment(env);
    server.setStandardOutputFile(base.path() + QStringLiteral("/compositor.log"));
    server.setStandardErrorFile(base.path() + QStringLiteral("/compositor.log"), QIODevice::Append);
    server.start(QStringLiteral("weston"),
        { QStringLiteral("--backend=headless-backend.so"), QStringLiteral("--socket=wayland-1"),
            QStringLiteral("--width=%1").arg(firstOutputSize.width()),
            QStringLiteral("--height=%1").arg(firstOutputSize.height()), QStringLiteral("--no-config"),
            QStringLiteral("--idle-time=0") });
    if (!server.waitForStarted(5000))
        return false;
    return waitUntilReady();
}

// Ready once the Wayland socket takes clients and, for sway, the IPC answers.
bool WaylandServer::waitUntilReady()
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < startTimeoutMs && server.state() == QProcess::Running) {
        if (serverKind == Kind::Sway && ipcSocket.isEmpty()) {
            const QString name = QStringLiteral("sway-ipc.%1.%2.sock")
                                     .arg(runningAsRoot() ? unprivilegedId : geteuid())
                                     .arg(server.processId());
            if (QFile::exists(runtimePath + QLatin1Char('/') + name))
                ipcSocket = runtimePath + QLatin1Char('/') + name;
        }
        if (QFile::exists(socketPath) && (serverKind == Kind::Weston || !ipcSocket.isEmpty())) {
            bool ok = false;
            if (serverKind == Kind::Sway)
                swaymsg({ QStringLiteral("-t"), QStringLiteral("get_outputs") }, &ok);
            else
                ok = globals().contains(QStringLiteral("wl_compositor"));
            if (ok)
                return true;
        }
        QThread::msleep(20);
    }
    return false;
}

// swaybg paints the background a moment after sway answers; until then outputs are grey.
bool WaylandServer::waitForBackground(const QString &outputName) const
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < startTimeoutMs && server.state() == QProcess::Running) {
        const QImage image = screenshot(outputName);
        if (!image.isNull() && image.pixel(image.width() / 2, image.height() / 2) == backgroundColor)
            return true;
        QThread::msleep(20);
    }
    return false;
}

// Every process carrying one of this compositor's private runtime folders in its environment is one of
// its clients: started by the test, or by the compositor itself (swaybg, bindsym exec, weston's
// shell). They end first, so none of them outlives the compositor or reconnects elsewhere.
void WaylandServer::killClients(bool withCompositorChildren)
{
    if (runtimePath.isEmpty())
        return;
    const QByteArray marker = "XDG_RUNTIME_DIR=" + QFile::encodeName(runtimePath);
    const QByteArray clientMarker = "XDG_RUNTIME_DIR=" + QFile::encodeName(clientRuntimePath);
    const qint64 serverPid = server.processId();
    auto clients = [&]() {
        QVector<pid_t> pids;
        const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QString &entry : entries) {
            bool isNumber = false;
            const pid_t pid = entry.toInt(&isNumber);
            if (!isNumber || pid == serverPid || pid == getpid()
                || (!withCompositorChildren && parentOf(pid) == serverPid))
                continue;
            QFile environment(QStringLiteral("/proc/%1/environ").arg(pid));
            if (!environment.open(QIODevice::ReadOnly))
                continue;
            const QList<QByteArray> variables = environment.readAll().split('\0');
            if (variables.contains(marker) || variables.contains(clientMarker))
                pids.append(pid);
        }
        return pids;
    };
    QVector<pid_t> pids = clients();
    for (pid_t pid : pids)
        ::kill(pid, SIGTERM);
    QElapsedTimer timer;
    timer.start();
    while (!pids.isEmpty() && timer.elapsed() < 3000) {
        QThread::msleep(20);
        pids = clients();
    }
    for (pid_t pid : pids)
        ::kill(pid, SIGKILL);
}

QByteArray WaylandServer::runClient(const QString &program, const QStringList &args, bool *ok) const
{
    return runToEnd(program, args, environment(), ok);
}

QString WaylandServer::logTail() const
{
    QFile log(base.path() + QStringLiteral("/compositor.log"));
    if (!log.open(QIODevice::ReadOnly))
        return QStringLiteral("(no log)");
    const QList<QByteArray> lines = log.readAll().split('\n');
    return QString::fromLocal8Bit(lines.mid(qMax(0, lines.size() - 15)).join('\n'));
}

QStringList WaylandServer::globals() const
{
    bool ok = false;
    const QByteArray out
        = runClient(builtProgram(QStringLiteral("virtualpointer")), { QStringLiteral("--globals") }, &ok);
    return ok ? QString::fromLatin1(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts) : QStringList();
}

QByteArray WaylandServer::swaymsg(const QStringList &args, bool *ok) const
{
    if (ok)
        *ok = false;
    if (serverKind != Kind::Sway || ipcSocket.isEmpty())
        return QByteArray();
    return runClient(QStringLiteral("swaymsg"), QStringList { QStringLiteral("-s"), ipcSocket } + args, ok);
}

QVector<WaylandOutput> WaylandServer::outputs() const
{
    bool ok = false;
    const QByteArray json = swaymsg({ QStringLiteral("-r"), QStringLiteral("-t"), QStringLiteral("get_outputs") }, &ok);
    QVector<WaylandOutput> result;
    if (!ok)
        return result;
    const QJsonArray list = QJsonDocument::fromJson(json).array();
    for (const QJsonValue &value : list) {
        const QJsonObject object = value.toObject();
        if (!object.value(QStringLiteral("active")).toBool())
            continue;
        const QJsonObject rect = object.value(QStringLiteral("rect")).toObject();
        result.append({ object.value(QStringLiteral("name")).toString(),
            QRect(rect.value(QStringLiteral("x")).toInt(), rect.value(QStringLiteral("y")).toInt(),
                rect.value(QStringLiteral("width")).toInt(), rect.value(QStringLiteral("height")).toInt()),
            object.value(QStringLiteral("scale")).toDouble(1.0) });
    }
    return result;
}

QRect WaylandServer::layoutRect() const
{
    QRect box;
    const QVector<WaylandOutput> list = outputs();
    for (const WaylandOutput &output : list)
        box = box.united(output.rect);
    return box;
}

QString WaylandServer::addOutput(QPoint pos, int scale, QSize modeSize)
{
    auto names = [this]() {
        QStringList list;
        const QVector<WaylandOutput> current = outputs();
        for (const WaylandOutput &output : current)
            list.append(output.name);
        return list;
    };
    const QStringList before = names();
    bool ok = false;
    swaymsg({ QStringLiteral("create_output") }, &ok);
    if (!ok)
        return QString();
    QString name;
    const QStringList after = names();
    for (const QString &candidate : after) {
        if (!before.contains(candidate))
            name = candidate;
    }
    if (name.isEmpty())
        return QString();
    swaymsg({ QStringLiteral("output"), name, QStringLiteral("resolution"),
                sizeText(modeSize.isEmpty() ? firstOutputSize : modeSize), QStringLiteral("position"),
                QString::number(pos.x()), QString::number(pos.y()), QStringLiteral("scale"), QString::number(scale) },
        &ok);
    return ok && waitForBackground(name) ? name : QString();
}

QImage WaylandServer::screenshot() const
{
    bool ok = false;
    const QByteArray png = runClient(QStringLiteral("grim"), { QStringLiteral("-") }, &ok);
    return ok ? QImage::fromData(png, "PNG").convertToFormat(QImage::Format_RGB32) : QImage();
}

QImage WaylandServer::screenshot(const QString &outputName) const
{
    bool ok = false;
    const QByteArray png
        = runClient(QStringLiteral("grim"), { QStringLiteral("-o"), outputName, QStringLiteral("-") }, &ok);
    return ok ? QImage::fromData(png, "PNG").convertToFormat(QImage::Format_RGB32) : QImage();
}

void WaylandServer::kill()
{
    server.kill();
    server.waitForFinished(3000);
}

bool WaylandServer::wtype(const QStringList &args) const
{
    bool ok = false;
    runClient(QStringLiteral("wtype"), args, &ok);
    return ok;
}

VirtualPointer::VirtualPointer(const WaylandServer &server, QSize layoutExtent)
    : compositor(server)
    , fixedExtent(layoutExtent)
{
    helper.setProcessEnvironment(server.environment());
    helper.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    helper.start(builtProgram(QStringLiteral("virtualpointer")), QStringList());
    ready = helper.waitForStarted(5000) && waitForAnswer("ready");
}

VirtualPointer::~VirtualPointer()
{
    if (helper.state() == QProcess::NotRunning)
        return;
    helper.write("quit\n");
    if (!helper.waitForFinished(3000)) {
        helper.kill();
        helper.waitForFinished(3000);
    }
}

bool VirtualPointer::moveTo(QPoint position)
{
    if (!ready)
        return false;
    // The compositor maps the extent onto the layout's bounding box as it is at this moment, so
    // unless the test fixed it, take the layout as it is now: outputs may have come since.
    QRect layout(QPoint(0, 0), fixedExtent);
    if (fixedExtent.isEmpty())
        layout = compositor.layoutRect();
    if (layout.isEmpty())
        return false;
    const QPoint inLayout = position - layout.topLeft();
    helper.write(QStringLiteral("move %1 %2 %3 %4\n")
                     .arg(inLayout.x())
                     .arg(inLayout.y())
                     .arg(layout.width())
                     .arg(layout.height())
                     .toLatin1());
    return waitForAnswer("ok");
}

bool VirtualPointer::command(const char *line)
{
    if (!ready)
        return false;
    helper.write(line);
    return waitForAnswer("ok");
}

bool VirtualPointer::waitForAnswer(const QByteArray &expected)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000) {
        if (helper.canReadLine())
            return helper.readLine().trimmed() == expected;
        if (helper.state() == QProcess::NotRunning)
            return false;
        helper.waitForReadyRead(100);
    }
    return false;
}

ClickProbe::ClickProbe(const WaylandServer &server, Kind kind)
    : ClickProbe(server.environment(),
        kind == Kind::Panel       ? QStringList { QStringLiteral("--panel"), QString::number(PanelHeight) }
            : kind == Kind::Overlay ? QStringList { QStringLiteral("--overlay") }
                                    : QStringList())
{
}

ClickProbe::ClickProbe(const QProcessEnvironment &env, const QStringList &arguments)
{
    probe.setProcessEnvironment(env);
    probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    probe.start(builtProgram(QStringLiteral("clickprobe")), arguments);
    probe.waitForStarted(5000);
}

ClickProbe::~ClickProbe()
{
    if (probe.state() != QProcess::NotRunning) {
        probe.terminate();
        if (!probe.waitForFinished(3000)) {
            probe.kill();
            probe.waitForFinished(3000);
        }
    }
}

bool ClickProbe::waitUntilShown(QSize size, int timeoutMs)
{
    return waitUntilShown([size](QSize shown) { return shown == size; }, timeoutMs);
}

bool ClickProbe::waitUntilShownAtLeast(QSize least, int timeoutMs)
{
    return waitUntilShown(
        [least](QSize shown) { return shown.width() >= least.width() && shown.height() >= least.height(); }, timeoutMs);
}

bool ClickProbe::waitUntilShown(const std::function<bool(QSize)> &wanted, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        const QStringList fields
            = waitForLine(QStringLiteral("shown "), int(qMax<qint64>(0, timeoutMs - timer.elapsed()))).split(' ');
        if (fields.size() != 3)
            return false;
        if (wanted(QSize(fields.at(1).toInt(), fields.at(2).toInt())))
            return true;
    }
}

QPoint ClickProbe::waitForPress(int timeoutMs)
{
    const QStringList fields = waitForLine(QStringLiteral("press "), timeoutMs).split(QLatin1Char(' '));
    if (fields.size() != 3)
        return QPoint(-1, -1);
    return QPoint(fields.at(1).toInt(), fields.at(2).toInt());
}

// The next line starting with prefix; earlier lines of other kinds are dropped.
QString ClickProbe::waitForLine(const QString &prefix, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        while (probe.canReadLine()) {
            const QString line = QString::fromUtf8(probe.readLine()).trimmed();
            history << line;
            if (line.startsWith(prefix))
                return line;
        }
        if (timer.elapsed() >= timeoutMs || probe.state() == QProcess::NotRunning)
            return QString();
        probe.waitForReadyRead(int(qBound(qint64(1), timeoutMs - timer.elapsed(), qint64(100))));
    }
}
