// The effects, event-loop waits and service runs that glintor-bench's modes share.

#include "benchrig.h"

#include "glintorsettings.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QProcess>
#include <QSettings>
#include <QTimer>

#include <csignal>

const std::vector<Effect> Effects { { "ring, white", 1, 0 }, { "ring, red", 1, 1 }, { "ring, rainbow", 1, 2 },
    { "fireworks", 2, 1 }, { "stars", 3, 1 } };

bool runUntil(const std::function<bool()> &done, int timeoutMs)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &loop, [&] {
        if (done())
            loop.quit();
    });
    timeout.start(timeoutMs);
    loop.exec();
    return done();
}

void restFor(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

void writeSettings(const Effect &effect)
{
    QSettings settings(GlintorSettings::Organization, GlintorSettings::Application);
    settings.clear();
    settings.setValue(GlintorSettings::Key::AnimationEffect, effect.animationEffect);
    settings.setValue(GlintorSettings::Key::ColorMode, effect.colorMode);
}

const Effect *findEffect(const QString &name)
{
    for (const Effect &effect : Effects) {
        if (name == QLatin1String(effect.name))
            return &effect;
    }
    return nullptr;
}

bool g_glIntegrationSetHere = false;

void startService(QProcess &service, const QString &path, const QStringList &arguments)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (g_glIntegrationSetHere)
        environment.remove(QStringLiteral("QT_XCB_GL_INTEGRATION"));
    service.setProcessEnvironment(environment);
    service.setReadChannel(QProcess::StandardError);
    service.start(path, arguments);
}

std::vector<ServiceBuild> serviceBuilds(const QStringList &values)
{
    std::vector<ServiceBuild> builds;
    for (const QString &value : values) {
        const int equals = value.indexOf(QLatin1Char('='));
        if (equals > 0)
            builds.push_back({ value.left(equals), value.mid(equals + 1) });
        else
            builds.push_back({ QStringLiteral("this build"), value });
    }
    if (builds.empty())
        builds.push_back({ QStringLiteral("this build"),
            QCoreApplication::applicationDirPath() + QStringLiteral("/glintor-service") });
    return builds;
}

bool waitForLines(QProcess &process, QByteArray &seen, const QByteArray &text, int count, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (seen.count(text) < count) {
        if (deadline.hasExpired() || process.state() == QProcess::NotRunning)
            return false;
        process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        seen += process.readAllStandardError();
    }
    return true;
}

bool waitForLine(QProcess &process, QByteArray &seen, const QByteArray &text, int timeoutMs)
{
    return waitForLines(process, seen, text, 1, timeoutMs);
}

void stopService(QProcess &process)
{
    ::kill(pid_t(process.processId()), SIGTERM);
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}
