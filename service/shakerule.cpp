#include "shakerule.h"

#include <cstdlib>

std::optional<int> recordShakeMove(ShakeHistory &history, int dx, qint64 now, int shakeDistance, int shakeWindowMs)
{
    if (dx == 0 || std::abs(qint64(dx)) < shakeDistance)
        return std::nullopt;

    history.push_back(qMakePair(now, dx > 0 ? 1 : -1));

    auto firstKept = history.begin();
    while (firstKept != history.end() && now - firstKept->first > shakeWindowMs)
        ++firstKept;
    history.erase(history.begin(), firstKept);

    int alternations = 0;
    for (size_t i = 1; i < history.size(); ++i) {
        if (history[i].second != history[i - 1].second)
            ++alternations;
    }
    return alternations;
}
