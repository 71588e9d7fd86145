#pragma once

#include "desktopnotes.h"
#include "unitcontrol.h"

#include <QMainWindow>

#include <memory>

class Glintor;
class HotkeyField;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSettings;
class QSpinBox;

// The settings window: shows whether the glintor.service user unit runs, starts, stops and restarts it
// (UnitControl), edits the settings file the service reads in a form with the hotkey field
// (HotkeyField) and the desktop's notes (DesktopNotes), and shows the About box.
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
    DesktopNotes desktopNotes;
    std::unique_ptr<Glintor> tryOverlay; // made at the first "试一试"
    UnitControl unit { SystemctlTimeoutMs };
};
