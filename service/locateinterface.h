#pragma once

#include <QObject>
#include <QString>

class Desktop;
class Glintor;
class QDBusConnection;

// The service on the session bus, for commands bound in a window manager or a desktop's shortcut
// settings (glintor-locate), scripts and accessibility tools: Locate() plays the animation at the
// pointer as the hotkey does, ReloadSettings() rereads them as SIGUSR1 does, TryEffect() previews a
// choice. Nothing a caller sends is run or stored.
class LocateInterface final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.glintor.Glintor")
    Q_PROPERTY(QString Version READ version CONSTANT)

public:
    explicit LocateInterface(Glintor *overlay, QObject *parent = nullptr);
    // The desktop that finds the pointer for Locate() and TryEffect(); until it is set they do nothing.
    void setDesktop(Desktop *pointerDesktop) { desktop = pointerDesktop; }

    // Puts the object on connection and takes busName, from any older service of the display: the
    // newest service answers, as it holds the display's hotkey. A name taken away later, or held by
    // another client now, comes back once its holder lets go; each loss and return is logged once.
    // Returns whether the object is on the bus with the name held or queued for; says once why not
    // (no session bus is no error: the other triggers work without one).
    // StepAside: a lost name is not waited for; nameLost() tells the service to go.
    enum class OnLoss { Wait, StepAside };
    bool registerOn(QDBusConnection connection, const QString &busName, OnLoss loss = OnLoss::Wait);

    QString version() const;

signals:
    // With OnLoss::StepAside: another client took the bus name. On Wayland, where no display
    // selection exists, this is how the older service learns that it has been replaced.
    void nameLost();

public slots:
    Q_SCRIPTABLE void Locate();
    Q_SCRIPTABLE void ReloadSettings();
    // Plays the given choice once at the pointer, leaving the settings and the effect memory alone:
    // the settings window's "试一试" on Wayland, where only the service can place the overlay.
    // Numbers out of range are read as the overlay reads the settings file.
    Q_SCRIPTABLE void TryEffect(int animationEffect, int colorMode);

private slots:
    void noteNameLost(const QString &name);
    void noteNameAcquired(const QString &name);

private:
    Glintor *overlay;
    Desktop *desktop = nullptr;
    QString ownedName;
    OnLoss onLoss = OnLoss::Wait;
    bool nameMissing = false; // lost, or queued for, and not back yet
};
