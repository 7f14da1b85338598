// The level meter's scale: a level in [0, 1] on a -60 dB to 0 dB bar, in single precision.
#pragma once

// Returns where level lies on the -60 dB..0 dB scale, limited to [0, 1] (0 for a level that is not a number).
float levelFraction(float level);

// Returns how many of itemWidth pixels the bar of level fills; 0 for an empty or inverted item.
int levelBarWidth(float level, int itemWidth);
