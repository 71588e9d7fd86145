#pragma once

#include "unitcontrol.h"

#include <QMainWindow>

#include <memory>

class Glintor;
class HotkeyField;
class QCheckBox;
class QComboBox;
class QFormLayout;
class QLabel;
class QPushButton;
class QSettings;
class QSpinBox;
class QVBoxLayout;

// The settings window: shows whether the glintor.service user unit runs, starts, stops and restarts it
// through "systemctl --user", edits the settings file the service reads and shows the About box.
class GlintorGUI final : public QMainWindow
{
    Q_OBJECT

public:
    // How long one systemctl run may block the window before it is killed and counted as failed.
    static constexpr int SystemctlTimeoutMs = 30000;

    explicit GlintorGUI(QWidget *parent = nullptr);
    ~GlintorGUI() override;

    // Tests of a hung systemctl use this to give up sooner than a user would wait.
    void setSystemctlTimeout(int milliseconds);

private slots:
    void startService();
    void stopService();
    // The restart sequence; true when systemctl started the unit again. The two slots before it are
    // its other names, kept for the slot table: the button calls manualRestartService.
    void restartService() { doRestartService(); }
    void manualRestartService() { doRestartService(); }
    bool doRestartService();
    void checkServiceStatus();
    void saveSettings();
    void loadSettings();
    void restoreDefaultSettings();
    QString readVersionFromFile();
    void showAbout();

private:
    void setupUI();
    // Syncs the settings to the file; when they did not reach it, shows why, headed by failure, and
    // returns false.
    bool writeOrReport(QSettings &settings, const QString &failure);
    // Plays the effect and colour chosen in the window, saved or not, at the pointer: here on X11,
    // through the running service where the window is a Wayland client.
    void tryEffect();
    void askServiceToTryEffect();
    // What the desktop keeps from Glintor, said where it matters: on a layer-shell desktop the rows of
    // the triggers the service cannot have are greyed with the reason; without layer-shell a note.
    void showWaylandLimits(QFormLayout *form, QVBoxLayout *mainLayout);
    // On GNOME's Wayland session: whether Glintor's extension for GNOME Shell is active, installed or
    // missing, and the command that fixes it. Kept up to date with the service's status.
    void showExtensionState();

    QPushButton *startButton = nullptr;
    QPushButton *stopButton = nullptr;
    QPushButton *restartButton = nullptr;
    QLabel *statusLabel = nullptr;
    QCheckBox *enableAnimationCheck = nullptr;
    QComboBox *colorModeCombo = nullptr;
    QComboBox *animationEffectCombo = nullptr;
    QCheckBox *enableShakeCheck = nullptr;
    QSpinBox *shakeDistanceSpin = nullptr;
    QSpinBox *shakeWindowMsSpin = nullptr;
    QSpinBox *shakeAlternationsSpin = nullptr;
    HotkeyField *hotkeyField = nullptr;
    QCheckBox *enableCtrlTapCheck = nullptr;
    QLabel *gnomeNote = nullptr;
    std::unique_ptr<Glintor> tryOverlay; // made at the first "试一试"
    UnitControl unit { SystemctlTimeoutMs };
};
