#include "display/meter_scale.h"

#include <algorithm>
#include <cmath>

#include "display/meter_width.h"

float magnitudeDb(float magnitude) {
    if (!(magnitude > 0.0f)) return -200.0f;
    return std::max(20.0f * std::log10(magnitude), -200.0f);
}

float markerDb(const PeakHold& hold, uint64_t nowMs) {
    if (nowMs <= hold.seenAtMs + PEAK_HOLD_MS) return hold.peakDb;
    const float fallingMs = static_cast<float>(nowMs - hold.seenAtMs - PEAK_HOLD_MS);
    return hold.peakDb - PEAK_FALL_DB_PER_SECOND * fallingMs / 1000.0f;
}

PeakHold takePeak(const PeakHold& hold, float magnitude, uint64_t nowMs) {
    const float peakDb = magnitudeDb(magnitude);
    if (peakDb >= markerDb(hold, nowMs)) return {peakDb, nowMs};
    return hold;
}

bool markerOnScale(const PeakHold& hold, uint64_t nowMs) { return markerDb(hold, nowMs) >= METER_FLOOR_DB; }

int scaleOffset(float levelDb, int width) {
    // The bar's width rule, applied to the level that has this many dB.
    return levelBarWidth(std::pow(10.0f, levelDb / 20.0f), width);
}

std::vector<MeterTick> meterTicks() {
    return {{-60, L"-60"}, {-50, L"-50"}, {-40, L"-40"}, {-30, L"-30"}, {-20, L"-20"},
            {-10, L"-10"}, {-6, L"-6"},   {-3, L"-3"},   {0, L"0 dB"}};
}

int barAreaWidth(int itemWidth) { return std::max(itemWidth - CLIP_BOX_WIDTH - CLIP_BOX_GAP, 0); }
