#pragma once

// glintor.service, the systemd user unit, as the settings window runs it: every "systemctl --user" call
// bounded in time, and the service beside this program started directly when a restart fails.
class UnitControl final {
public:
    explicit UnitControl(int timeoutMs);

    // How long one systemctl run may block the window before it is killed and counted as failed.
    void setSystemctlTimeout(int milliseconds);

    // True when systemctl did it.
    bool start();
    bool stop();
    // daemon-reload, stop, a pause, start; true when systemctl started the unit again. When it did
    // not, the glintor-service installed beside this program is started with --debug instead.
    bool restart();
    // Whether the unit runs, as "systemctl is-active" says it.
    bool isActive();

private:
    int systemctlTimeoutMs;
};
