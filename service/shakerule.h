#pragma once

#include <QPair>
#include <QtGlobal>

#include <optional>
#include <vector>

// The mouse-shake rule as pure logic: one poll's horizontal move and its time in, the number of
// direction changes in the window out. Entries are (time in ms, direction +1 right / -1 left),
// oldest first.
using ShakeHistory = std::vector<QPair<qint64, int>>;

// Records a move of dx pixels seen at time now. Returns nothing when the move is too short to
// count (the history is left alone); otherwise appends it, drops entries older than windowMs and
// returns the alternations among the remaining entries.
std::optional<int> recordShakeMove(ShakeHistory &history, int dx, qint64 now, int shakeDistance, int shakeWindowMs);
