#pragma once

// The one settings store both programs share: ~/.config/Glintor/Settings.conf.
// Names and defaults live here only; every reader opens its own QSettings for one operation.

namespace GlintorSettings {

constexpr const char *Organization = "Glintor";
constexpr const char *Application = "Settings";

namespace Key {
constexpr const char *ColorMode = "colorMode";
constexpr const char *AnimationEffect = "animationEffect";
constexpr const char *EnableAnimation = "enableAnimation";
constexpr const char *EnableShake = "enableShake";
constexpr const char *ShakeDistance = "shakeDistance";
constexpr const char *ShakeWindowMs = "shakeWindowMs";
constexpr const char *ShakeAlternations = "shakeAlternations";
constexpr const char *Hotkey = "hotkey";
constexpr const char *EnableCtrlTap = "enableCtrlTap";
} // namespace Key

namespace Default {
constexpr int ColorMode = 1; // red
constexpr int AnimationEffect = 0; // random
constexpr bool EnableAnimation = true;
constexpr bool EnableShake = true;
constexpr int ShakeDistance = 80;
constexpr int ShakeWindowMs = 700;
constexpr int ShakeAlternations = 3;
constexpr const char *Hotkey = "Ctrl+Alt+M";
constexpr bool EnableCtrlTap = false;
} // namespace Default

// What the settings window offers for the shake values. The service pulls a stored value outside
// them in: a distance or count of 0 would start an animation at every jitter of the mouse.
struct IntRange {
    int minimum;
    int maximum;
};
namespace Range {
constexpr IntRange ShakeDistance { 10, 1000 };
constexpr IntRange ShakeWindowMs { 100, 5000 };
constexpr IntRange ShakeAlternations { 1, 10 };
} // namespace Range

} // namespace GlintorSettings
