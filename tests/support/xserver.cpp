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
    stopCompositor();
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
    compositor = std::make_unique<QProcess>();
    compositor->setProcessEnvironment(environment());
    compositor->setStandardOutputFile(QProcess::nullDevice());
    compositor->setStandardErrorFile(QProcess::nullDevice());
    compositor->start(QStringLiteral("xcompmgr"), QStringList());
    if (!compositor->waitForStarted(5000))
        return false;
    // The compositor is ready once it owns the _NET_WM_CM_S0 selection.
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 5000 && compositor->state() == QProcess::Running) {
        if (hasCompositor())
            return true;
        QThread::msleep(50);
    }
    return false;
}

bool XServer::hasCompositor() const
{
    Display *display = XOpenDisplay(displayName.toLatin1().constData());
    if (!display)
        return false;
    const Atom selection = XInternAtom(display, "_NET_WM_CM_S0", False);
    const bool owned = XGetSelectionOwner(display, selection) != None;
    XCloseDisplay(display);
    return owned;
}

void XServer::stopCompositor()
{
    if (compositor && compositor->state() != QProcess::NotRunning) {
        compositor->terminate();
        if (!compositor->waitForFinished(3000)) {
            compositor->kill();
            compositor->waitForFinished(3000);
        }
    }
    compositor.reset();
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
