#pragma once

// What glintor-bench's modes share: the effects measured and the settings that choose them, waits on
// the event loop, and the glintor-service builds to run, their log read and their stop.

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class QByteArray;
class QProcess;

struct Effect {
    const char *name;
    int animationEffect; // the setting
    int colorMode;
};

extern const std::vector<Effect> Effects;

void writeSettings(const Effect &effect);
const Effect *findEffect(const QString &name);

// Runs the event loop until done() holds, checked whenever the loop is about to sleep, or until
// the time is up. No polling: a resting loop costs nothing.
bool runUntil(const std::function<bool()> &done, int timeoutMs);
void restFor(int milliseconds);

// Set when this program chose Qt's OpenGL integration for itself, not for the services it starts.
extern bool g_glIntegrationSetHere;

// The services see the environment this program was given: each build decides about Qt's OpenGL
// integration as it does for a user.
void startService(QProcess &service, const QString &path, const QStringList &arguments);
void stopService(QProcess &process);

// A glintor-service binary to measure, with the label of its rows.
struct ServiceBuild {
    QString label;
    QString path;
};

// The builds named by --service values, PATH or LABEL=PATH; none: the one beside this program.
std::vector<ServiceBuild> serviceBuilds(const QStringList &values);

// Reads what the service logs until text has been seen count times.
bool waitForLines(QProcess &process, QByteArray &seen, const QByteArray &text, int count, int timeoutMs);
bool waitForLine(QProcess &process, QByteArray &seen, const QByteArray &text, int timeoutMs);
