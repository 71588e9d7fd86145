#pragma once

// What the desktop keeps from Glintor, said in the settings window where it matters: the rows it greys
// and why, the note without layer-shell, and on GNOME's Wayland session the extension's state.

class QFormLayout;
class QLabel;
class QVBoxLayout;
class QWidget;

class DesktopNotes final {
public:
    // Adds this desktop's notes: under the status line in the main layout, or above the rows of the
    // form from the shake trigger's to the Ctrl tap's, greyed: all of them on a layer-shell desktop,
    // the Ctrl tap's alone on GNOME.
    void show(
        QFormLayout *form, QVBoxLayout *mainLayout, QWidget *statusLine, QWidget *shakeCheck, QWidget *ctrlTapCheck);
    // On GNOME's Wayland session: where Glintor's extension for GNOME Shell stands (active, not
    // enabled, not loaded since the login, out of date for this Shell, failed, missing) and what to
    // do about it. Kept up to date with the service's status.
    void showExtensionState();

private:
    QLabel *gnomeNote = nullptr;
};
