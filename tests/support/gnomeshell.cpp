#include "gnomeshell.h"

#include "serviceprocess.h"
#include "sessionbus.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>
#include <utility>
#include <csignal>
#include <functional>
#include <unistd.h>

namespace {

const QString HelperService = QStringLiteral("org.glintor.ShellTest");
const QString HelperPath = QStringLiteral("/org/glintor/ShellTest");
const QString ShellService = QStringLiteral("org.gnome.Shell");
const QString ShellPath = QStringLiteral("/org/gnome/Shell");
const QString ExtensionsInterface = QStringLiteral("org.gnome.Shell.Extensions");
constexpr int StartTimeoutMs = 60000;

// Copies an extension's folder into extensionsDir under the uuid its metadata names; returns the
// uuid, or an empty string.
QString installExtension(const QString &from, const QString &extensionsDir)
{
    QFile metadata(from + QStringLiteral("/metadata.json"));
    if (!metadata.open(QIODevice::ReadOnly))
        return QString();
    const QString uuid = QJsonDocument::fromJson(metadata.readAll()).object().value(QStringLiteral("uuid")).toString();
    const QString to = extensionsDir + QLatin1Char('/') + uuid;
    if (uuid.isEmpty() || !QDir().mkpath(to))
        return QString();
    const QStringList names = QDir(from).entryList(QDir::Files);
    for (const QString &name : names) {
        if (!QFile::copy(from + QLatin1Char('/') + name, to + QLatin1Char('/') + name))
            return QString();
    }
    return uuid;
}

// Process id to parent process id, for every process; /proc/PID/stat is "pid (name) state ppid ...".
QHash<qint64, qint64> parents()
{
    QHash<qint64, qint64> result;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool isNumber = false;
        const qint64 pid = entry.toLongLong(&isNumber);
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!isNumber || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 1).simplified().split(' ');
        if (fields.size() > 1 && fields.at(0) != "Z")
            result.insert(pid, fields.at(1).toLongLong());
    }
    return result;
}

bool descendsFrom(qint64 pid, qint64 ancestor, const QHash<qint64, qint64> &parentOf)
{
    for (int depth = 0; pid > 1 && depth < 64; ++depth) {
        if (pid == ancestor)
            return true;
        pid = parentOf.value(pid, 0);
    }
    return false;
}

// SIGTERM, and SIGKILL for those still there after 3 s.
void terminate(const QVector<qint64> &pids)
{
    for (qint64 pid : pids)
        ::kill(pid_t(pid), SIGTERM);
    auto alive = [&pids] {
        const QHash<qint64, qint64> running = parents();
        QVector<qint64> left;
        std::copy_if(
            pids.begin(), pids.end(), std::back_inserter(left), [&](qint64 pid) { return running.contains(pid); });
        return left;
    };
    QElapsedTimer timer;
    timer.start();
    QVector<qint64> left = alive();
    while (!left.isEmpty() && timer.elapsed() < 3000) {
        QThread::msleep(20);
        left = alive();
    }
    for (qint64 pid : left)
        ::kill(pid_t(pid), SIGKILL);
}

} // namespace

GnomeShell::GnomeShell(const QStringList &extensionDirs, const QStringList &experimentalFeatures)
    // Under /tmp, not the build tree: socket paths must stay short.
    : base(QStringLiteral("/tmp/glintor-gnome-XXXXXX"))
{
    if (!base.isValid() || !missingTools().isEmpty())
        return;
    runtimePath = base.filePath(QStringLiteral("runtime"));
    for (const QString &folder : { QStringLiteral("home"), QStringLiteral("config"), QStringLiteral("runtime") }) {
        if (!QDir().mkpath(base.filePath(folder)))
            return;
    }
    QFile::setPermissions(runtimePath, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QStringList folders
        = QStringList { QStringLiteral(GLINTOR_GNOME_TEST_EXTENSION_DIR "/%1/%2").arg(flavour(), HelperUuid) }
        + extensionDirs;
    for (const QString &folder : folders) {
        uuids << installExtension(folder, base.filePath(QStringLiteral("data/gnome-shell/extensions")));
        if (uuids.last().isEmpty())
            return;
    }

    // The buses start the services they activate (dconf, the accessibility bus) in the private home.
    const QProcessEnvironment env = shellEnvironment();
    sessionBus = std::make_unique<SessionBus>(SessionBus::Access::OwnUser, env);
    systemBus = std::make_unique<SessionBus>(SessionBus::Access::OwnUser, env);
    if (!sessionBus->isRunning() || !systemBus->isRunning())
        return;
    bus = QDBusConnection::connectToBus(sessionBus->address(), base.path());
    if (!bus.isConnected())
        return;

    // Settings through the private dconf: the extensions; no animations (the overview's included);
    // no hot corner, which would open the overview when a test moves the pointer to 0, 0.
    QStringList quoted;
    for (const QString &uuid : std::as_const(uuids))
        quoted << QLatin1Char('\'') + uuid + QLatin1Char('\'');
    const QStringList settings[] = {
        { QStringLiteral("org.gnome.shell"), QStringLiteral("enabled-extensions"),
            QLatin1Char('[') + quoted.join(QLatin1Char(',')) + QLatin1Char(']') },
        { QStringLiteral("org.gnome.desktop.interface"), QStringLiteral("enable-animations"), QStringLiteral("false") },
        { QStringLiteral("org.gnome.desktop.interface"), QStringLiteral("enable-hot-corners"),
            QStringLiteral("false") },
    };
    bool ok = true;
    for (const QStringList &setting : settings) {
        if (ok)
            runToEnd(
                QStringLiteral("gsettings"), QStringList { QStringLiteral("set") } + setting, shellEnvironment(), &ok);
    }
    // Those the release knows; GNOME 50 made them the default and dropped the key.
    QStringList features;
    const QByteArray known = runToEnd(QStringLiteral("gsettings"),
        { QStringLiteral("range"), QStringLiteral("org.gnome.mutter"), QStringLiteral("experimental-features") },
        shellEnvironment());
    for (const QString &feature : experimentalFeatures) {
        if (known.contains("'" + feature.toUtf8() + "'"))
            features << QLatin1Char('\'') + feature + QLatin1Char('\'');
    }
    if (ok && !features.isEmpty()) {
        runToEnd(QStringLiteral("gsettings"),
            { QStringLiteral("set"), QStringLiteral("org.gnome.mutter"), QStringLiteral("experimental-features"),
                QLatin1Char('[') + features.join(QLatin1Char(',')) + QLatin1Char(']') },
            shellEnvironment(), &ok);
    }
    if (!ok || !start())
        qWarning("The headless GNOME Shell did not start:\n%s", qPrintable(logTail()));
}

GnomeShell::~GnomeShell()
{
    if (bus.isConnected())
        QDBusConnection::disconnectFromBus(bus.name());
    if (!sessionBus || !systemBus)
        return;
    // Clients first: whatever runs with this Shell's runtime folder and was started neither by the
    // Shell nor by a bus.
    const QHash<qint64, qint64> parentOf = parents();
    QVector<qint64> clients = processesOfThisShell();
    clients.erase(std::remove_if(clients.begin(), clients.end(),
                      [&](qint64 pid) {
                          return descendsFrom(pid, shell.processId(), parentOf)
                              || descendsFrom(pid, sessionBus->processId(), parentOf)
                              || descendsFrom(pid, systemBus->processId(), parentOf);
                      }),
        clients.end());
    terminate(clients);
    killShell(false);
    // What the Shell and the buses started (the accessibility bus, dconf, helpers); then the buses.
    terminate(processesOfThisShell());
    systemBus.reset();
    sessionBus.reset();
}

QString GnomeShell::missingTools()
{
    for (const QString &tool : { QStringLiteral("gnome-shell"), QStringLiteral("Xwayland"), QStringLiteral("gsettings"),
             QStringLiteral("dbus-daemon"), QStringLiteral("xdpyinfo") }) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            return tool + QStringLiteral(" is not installed");
    }
    return QString();
}

QString GnomeShell::flavour()
{
    static const QString chosen = [] {
        const QByteArray version = runToEnd(QStringLiteral("gnome-shell"), { QStringLiteral("--version") },
            QProcessEnvironment::systemEnvironment());
        const QRegularExpressionMatch major
            = QRegularExpression(QStringLiteral("GNOME Shell (\\d+)")).match(QString::fromUtf8(version));
        return major.captured(1).toInt() >= 45 ? QStringLiteral("esm") : QStringLiteral("legacy");
    }();
    return chosen;
}

bool GnomeShell::isReady() const
{
    return ready && shell.state() == QProcess::Running;
}

QString GnomeShell::sessionBusAddress() const
{
    return sessionBus ? sessionBus->address() : QString();
}

QProcessEnvironment GnomeShell::shellEnvironment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &name : { QStringLiteral("DISPLAY"), QStringLiteral("WAYLAND_DISPLAY"),
             QStringLiteral("WAYLAND_SOCKET"), QStringLiteral("XAUTHORITY"), QStringLiteral("QT_QPA_PLATFORM"),
             QStringLiteral("XDG_CACHE_HOME"), QStringLiteral("XDG_STATE_HOME") })
        env.remove(name);
    env.insert(QStringLiteral("HOME"), base.filePath(QStringLiteral("home")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), base.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), base.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimePath);
    if (sessionBus)
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), sessionBus->address());
    if (systemBus)
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), systemBus->address());
    return env;
}

QProcessEnvironment GnomeShell::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("WAYLAND_SOCKET"));
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), waylandDisplay());
    env.insert(QStringLiteral("DISPLAY"), xDisplay);
    env.insert(QStringLiteral("XAUTHORITY"), xAuthority);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimePath);
    env.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
    env.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("GNOME"));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), sessionBusAddress());
    if (systemBus)
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), systemBus->address());
    return env;
}

bool GnomeShell::start()
{
    ready = false;
    xDisplay.clear();
    xAuthority.clear();
    QElapsedTimer timer;
    timer.start();
    shell.setProcessEnvironment(shellEnvironment());
    shell.setStandardOutputFile(base.filePath(QStringLiteral("shell.log")), QIODevice::Append);
    shell.setStandardErrorFile(base.filePath(QStringLiteral("shell.log")), QIODevice::Append);
    shell.start(QStringLiteral("gnome-shell"),
        { QStringLiteral("--headless"), QStringLiteral("--wayland"), QStringLiteral("--virtual-monitor"),
            QStringLiteral("1920x1080"), QStringLiteral("--wayland-display"), QStringLiteral("glintor-gnome") });
    ready = shell.waitForStarted(5000) && waitUntilReady();
    // Now and then on a loaded machine (GNOME 48, about one start in fifteen beside another Shell)
    // the Shell's Xwayland answers no client: that start is given up for another.
    if (!ready && xwaylandSilent && !retried) {
        retried = true;
        qWarning("GNOME Shell: starting it again, its Xwayland did not answer:\n%s", qPrintable(logTail()));
        killShell(true);
        return start();
    }
    retried = false;
    startUpMs = ready ? timer.elapsed() : -1;
    return ready;
}

bool GnomeShell::waitUntilReady()
{
    xwaylandSilent = false;
    QElapsedTimer timer;
    timer.start();
    auto waitFor = [&](const char *what, const std::function<bool()> &done) {
        while (!done()) {
            if (timer.elapsed() > StartTimeoutMs || shell.state() != QProcess::Running) {
                qWarning("GNOME Shell: no %s after %lld ms", what, timer.elapsed());
                return false;
            }
            QThread::msleep(50);
        }
        return true;
    };
    // The helper is enabled once the Shell has loaded its extensions; mutter has then put the
    // Xwayland display and its authority file into its own environment.
    QVariantList answer;
    if (!waitFor("test helper", [&] {
            return bus.interface()->isServiceRegistered(HelperService).value()
                && callHelper(QStringLiteral("Environment"), {}, &answer) && !answer.value(0).toString().isEmpty();
        }))
        return false;
    xDisplay = answer.value(0).toString();
    xAuthority = answer.value(1).toString();
    const QProcessEnvironment xEnv = environment();
    xwaylandSilent = !waitFor("answer from Xwayland", [&] {
        bool answers = false;
        runToEnd(QStringLiteral("xdpyinfo"), { QStringLiteral("-display"), xDisplay }, xEnv, &answers);
        return answers;
    });
    if (xwaylandSilent)
        return false;
    for (const QString &uuid : std::as_const(uuids)) {
        QString error;
        ExtensionState state = Unknown;
        if (!waitFor("extension enabled", [&] {
                state = extensionState(uuid, &error);
                return state == Enabled || !error.isEmpty();
            })) {
            qWarning("GNOME Shell: extension %s in state %d", qPrintable(uuid), int(state));
            return false;
        }
        if (!error.isEmpty()) {
            qWarning("GNOME Shell: extension %s failed: %s", qPrintable(uuid), qPrintable(error));
            return false;
        }
    }
    if (callHelper(QStringLiteral("LeaveOverview"), {}, nullptr, StartTimeoutMs))
        return true;
    qWarning("GNOME Shell: the overview stayed");
    return false;
}

bool GnomeShell::callHelper(
    const QString &method, const QVariantList &arguments, QVariantList *answer, int timeoutMs) const
{
    QDBusMessage call = QDBusMessage::createMethodCall(HelperService, HelperPath, HelperService, method);
    call.setArguments(arguments);
    const QDBusMessage reply = bus.call(call, QDBus::Block, timeoutMs);
    if (answer)
        *answer = reply.arguments();
    if (reply.type() == QDBusMessage::ErrorMessage
        && reply.errorName() != QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown"))
        qWarning("GNOME Shell test helper: %s: %s", qPrintable(method), qPrintable(reply.errorMessage()));
    return reply.type() == QDBusMessage::ReplyMessage;
}

// Processes with this Shell's runtime folder in their environment, but for the Shell and the buses:
// its Xwayland, what it and the buses started, the clients of the test.
QVector<qint64> GnomeShell::processesOfThisShell() const
{
    const QByteArray marker = "XDG_RUNTIME_DIR=" + QFile::encodeName(runtimePath);
    const QVector<qint64> skipped { qint64(getpid()), shell.processId(), sessionBus->processId(),
        systemBus->processId() };
    QVector<qint64> pids;
    const QHash<qint64, qint64> running = parents();
    for (auto it = running.begin(); it != running.end(); ++it) {
        QFile environment(QStringLiteral("/proc/%1/environ").arg(it.key()));
        if (!skipped.contains(it.key()) && environment.open(QIODevice::ReadOnly)
            && environment.readAll().split('\0').contains(marker))
            pids << it.key();
    }
    return pids;
}

void GnomeShell::killShell(bool crash)
{
    if (shell.state() == QProcess::NotRunning)
        return;
    const qint64 shellPid = shell.processId();
    const QHash<qint64, qint64> parentOf = parents();
    QVector<qint64> children;
    for (auto it = parentOf.begin(); it != parentOf.end(); ++it) {
        if (it.key() != shellPid && descendsFrom(it.key(), shellPid, parentOf))
            children << it.key();
    }
    if (crash) {
        shell.kill();
    } else {
        shell.terminate();
        if (!shell.waitForFinished(5000))
            shell.kill();
    }
    shell.waitForFinished(5000);
    terminate(children);
    // Killed, the Shell leaves its Xwayland's lock files, which name the Shell, and sockets behind.
    const QStringList locks
        = QDir(QStringLiteral("/tmp")).entryList({ QStringLiteral(".X*-lock") }, QDir::Files | QDir::Hidden);
    for (const QString &lock : locks) {
        QFile file(QStringLiteral("/tmp/") + lock);
        if (!file.open(QIODevice::ReadOnly) || file.readAll().trimmed().toLongLong() != shellPid)
            continue;
        file.remove();
        QFile::remove(QStringLiteral("/tmp/.X11-unix/X") + lock.mid(2, lock.size() - 7));
    }
    ready = false;
}

bool GnomeShell::restart()
{
    killShell(true);
    if (start())
        return true;
    qWarning("The headless GNOME Shell did not start again:\n%s", qPrintable(logTail()));
    return false;
}

bool GnomeShell::setExtensionEnabled(const QString &uuid, bool enabled)
{
    // The Shell's own calls, which gnome-extensions and the Extensions app make on a desktop.
    const QDBusMessage reply
        = bus.call(QDBusMessage::createMethodCall(ShellService, ShellPath, ExtensionsInterface,
                       enabled ? QStringLiteral("EnableExtension") : QStringLiteral("DisableExtension"))
            << uuid);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return false;
    // Done once the Shell has acted and dconf has stored its two lists: a Shell killed before that
    // starts again with the old ones.
    auto listed = [this, &uuid](const QString &key) {
        bool ok = false;
        const QByteArray value = runToEnd(QStringLiteral("gsettings"),
            { QStringLiteral("get"), QStringLiteral("org.gnome.shell"), key }, shellEnvironment(), &ok);
        return ok && value.contains("'" + uuid.toUtf8() + "'");
    };
    QElapsedTimer timer;
    timer.start();
    while ((extensionState(uuid) == Enabled) != enabled || listed(QStringLiteral("enabled-extensions")) != enabled
        || listed(QStringLiteral("disabled-extensions")) == enabled) {
        if (timer.elapsed() > 20000)
            return false;
        QThread::msleep(20);
    }
    return true;
}

GnomeShell::ExtensionState GnomeShell::extensionState(const QString &uuid, QString *error) const
{
    const QDBusMessage reply = bus.call(
        QDBusMessage::createMethodCall(ShellService, ShellPath, ExtensionsInterface, QStringLiteral("GetExtensionInfo"))
        << uuid);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return Unknown;
    QVariantMap info;
    reply.arguments().first().value<QDBusArgument>() >> info;
    if (error)
        *error = info.value(QStringLiteral("error")).toString();
    return ExtensionState(info.value(QStringLiteral("state")).toInt());
}

GnomeShell::ExtensionState GnomeShell::declareShellVersions(const QString &uuid, const QStringList &versions)
{
    QFile file(base.filePath(QStringLiteral("data/gnome-shell/extensions/%1/metadata.json").arg(uuid)));
    if (!file.open(QIODevice::ReadWrite))
        return Unknown;
    QJsonObject metadata = QJsonDocument::fromJson(file.readAll()).object();
    metadata.insert(QStringLiteral("shell-version"), QJsonArray::fromStringList(versions));
    file.resize(0);
    file.seek(0);
    file.write(QJsonDocument(metadata).toJson());
    file.close();
    return callHelper(QStringLiteral("ReloadExtension"), { uuid }) ? extensionState(uuid) : Unknown;
}

bool GnomeShell::movePointer(const QVector<QPoint> &path)
{
    QDBusArgument points;
    points.beginArray(qMetaTypeId<QPoint>());
    for (QPoint point : path)
        points << point;
    points.endArray();
    return callHelper(QStringLiteral("MovePointer"), { QVariant::fromValue(points) });
}

bool GnomeShell::click(QString *picked)
{
    QVariantList answer;
    const bool ok = callHelper(QStringLiteral("Click"), {}, &answer);
    if (picked)
        *picked = answer.value(0).toString();
    return ok;
}

bool GnomeShell::relayout()
{
    return callHelper(QStringLiteral("Relayout"), {});
}

double GnomeShell::setScale(double wanted)
{
    QVariantList answer;
    return callHelper(QStringLiteral("SetScale"), { wanted }, &answer) ? answer.value(0).toDouble() : 0;
}

bool GnomeShell::keys(const QVector<quint32> &keysyms, int holdMs)
{
    const QList<uint> list(keysyms.begin(), keysyms.end());
    return callHelper(
        QStringLiteral("Keys"), { QVariant::fromValue(list), uint(qMax(0, holdMs)) }, nullptr, holdMs + 20000);
}

QImage GnomeShell::screenshot() const
{
    const QString path = base.filePath(QStringLiteral("screenshot.png"));
    QVariantList answer;
    if (!callHelper(QStringLiteral("Screenshot"), { path }, &answer) || !answer.value(0).toBool())
        return QImage();
    const QImage image = QImage(path).convertToFormat(QImage::Format_RGB32);
    QFile::remove(path);
    return image;
}

bool GnomeShell::grabAccelerator(const QString &accelerator) const
{
    QVariantList answer;
    return callHelper(QStringLiteral("Grab"), { accelerator }, &answer) && answer.value(0).toBool();
}

int GnomeShell::releaseAccelerator() const
{
    QVariantList answer;
    return callHelper(QStringLiteral("Ungrab"), {}, &answer) ? answer.value(0).toInt() : -1;
}

QString GnomeShell::logTail() const
{
    QFile log(base.filePath(QStringLiteral("shell.log")));
    if (!log.open(QIODevice::ReadOnly))
        return QStringLiteral("(no log)");
    const QList<QByteArray> lines = log.readAll().split('\n');
    return QString::fromLocal8Bit(lines.mid(qMax(0, lines.size() - 25)).join('\n'));
}
