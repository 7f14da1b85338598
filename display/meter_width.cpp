#include "display/meter_width.h"

#include <cmath>

namespace {

constexpr float SCALE_FLOOR_DB = -60.0f;
// Keeps the logarithm finite for a level of exactly 0.
constexpr float LEVEL_OFFSET = 1e-8f;

}  // namespace

float levelFraction(float level) {
    const float decibels = 20.0f * std::log10(level + LEVEL_OFFSET);
    float fraction = (decibels - SCALE_FLOOR_DB) / -SCALE_FLOOR_DB;
    // Written as "not at least 0" so a NaN (a negative or NaN level) gives an empty bar, not an
    // undefined conversion to int.
    if (!(fraction >= 0.0f)) fraction = 0.0f;
    if (fraction > 1.0f) fraction = 1.0f;
    return fraction;
}

int levelBarWidth(float level, int itemWidth) {
    // An inverted item would otherwise yield a bar reaching left, outside the item.
    if (itemWidth <= 0) return 0;
    return static_cast<int>(static_cast<float>(itemWidth) * levelFraction(level));
}
