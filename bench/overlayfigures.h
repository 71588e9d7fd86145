#pragma once

// The overlay measured in-process, the real Glintor with its real painting on the X server of
// DISPLAY or offscreen: bytes repainted, paint cost, CPU of whole animations, trigger to first frame.

#include <QtGlobal>

struct Effect;

// Bytes repainted per frame, the first frame after show() and the steady state, of three effects.
int runRegions();
// Wall time of paintEvent per frame, rendered offscreen.
int runPaint(const Effect &effect, int repeat);
// CPU of this process, the X server and the compositor for whole animations, median.
int runCpu(const Effect &effect, int count, qint64 xserverPid, qint64 compositorPid);
// Trigger to first frame flushed, cold and warm.
int runLatency(int count);
