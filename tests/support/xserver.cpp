#include "xserver.h"

#include "serviceprocess.h"

#include <QElapsedTimer>
#include <QThread>

#include <X11/Xlib.h>

XServer::XServer(QSize screenSize)
{
    // -displayfd lets the server pick a free display number and tell it on standard output.
    server.setProgram(QStringLiteral("Xvfb"));
    server.setArguments({ QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-noreset"),
                          QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-screen"),
                          QStringLiteral("0"),
                          QStringLiteral("%1x%2x24").arg(screenSize.width()).arg(screenSize.height()) });
    server.setProcessChannelMode(QProcess::SeparateChannels);
    server.setStandardErrorFile(QProcess::nullDevice());
    server.start();
    if (!server.waitForStarted(5000))
        return;
    QByteArray number;
    QElapsedTimer timer;
    timer.start();
    while (!number.contains('\n') && timer.elapsed() < 10000) {
        if (server.waitForReadyRead(200))
            number += server.readAllStandardOutput();
        if (server.state() == QProcess::NotRunning)
            return;
    }
    if (number.trimmed().isEmpty())
        return;
    displayName = QLatin1Char(':') + QString::fromLatin1(number.trimmed());
}

XServer::~XServer()
{
    stop(compositor);
    stop(windowManager);
    if (server.state() != QProcess::NotRunning) {
        server.terminate();
        if (!server.waitForFinished(3000)) {
            server.kill();
            server.waitForFinished(3000);
        }
    }
}

QProcessEnvironment XServer::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), displayName);
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    return env;
}

bool XServer::startCompositor()
{
    return startManager(compositor, QStringLiteral("xcompmgr"), {}, "_NET_WM_CM_S0");
}

bool XServer::startWindowManager()
{
    return startManager(windowManager, QStringLiteral("openbox"), { QStringLiteral("--sm-disable") }, "WM_S0");
}

bool XServer::startManager(
    std::unique_ptr<QProcess> &process, const QString &program, const QStringList &arguments, const char *selection)
{
    process = std::make_unique<QProcess>();
    process->setProcessEnvironment(environment());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    process->start(program, arguments);
    if (!process->waitForStarted(5000))
        return false;
    // Ready once it owns its selection.
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 5000 && process->state() == QProcess::Running) {
        if (ownsSelection(selection))
            return true;
        QThread::msleep(50);
    }
    return false;
}

bool XServer::hasCompositor() const
{
    return ownsSelection("_NET_WM_CM_S0");
}

bool XServer::ownsSelection(const char *selection) const
{
    Display *display = XOpenDisplay(displayName.toLatin1().constData());
    if (!display)
        return false;
    const bool owned = XGetSelectionOwner(display, XInternAtom(display, selection, False)) != None;
    XCloseDisplay(display);
    return owned;
}

void XServer::stopCompositor()
{
    stop(compositor);
}

void XServer::stop(std::unique_ptr<QProcess> &process)
{
    if (process && process->state() != QProcess::NotRunning) {
        process->terminate();
        if (!process->waitForFinished(3000)) {
            process->kill();
            process->waitForFinished(3000);
        }
    }
    process.reset();
}

QByteArray XServer::run(const QString &program, const QStringList &arguments, bool *ok) const
{
    return runToEnd(program, arguments, environment(), ok);
}

bool XServer::xdotool(const QStringList &arguments) const
{
    bool ok = false;
    run(QStringLiteral("xdotool"), arguments, &ok);
    return ok;
}

QImage XServer::screenshot() const
{
    bool ok = false;
    const QByteArray png = run(QStringLiteral("import"), { QStringLiteral("-window"), QStringLiteral("root"),
                                                           QStringLiteral("png:-") },
                               &ok);
    return ok ? QImage::fromData(png, "PNG").convertToFormat(QImage::Format_RGB32) : QImage();
}
