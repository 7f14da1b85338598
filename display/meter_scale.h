// The level meter's scale beyond the bar: the peak marker's hold and fall, the tick marks and
// where the clip indicator sits. Pure arithmetic, evaluated when the meter paints.
#pragma once

#include <cstdint>
#include <vector>

// The peak marker holds the highest peak this long, then falls at this rate (as IEC-style peak
// meters fall, about 20 dB a second) until a higher peak takes over or it leaves the scale.
constexpr uint64_t PEAK_HOLD_MS = 1500;
constexpr float PEAK_FALL_DB_PER_SECOND = 20.0f;
// Where the meter's scale ends; the marker is not drawn below it.
constexpr float METER_FLOOR_DB = -60.0f;

// The marker's state: the peak held, in dB relative to full scale, and when it was seen.
struct PeakHold {
    float peakDb = -200.0f;
    uint64_t seenAtMs = 0;
};

// Returns a sample magnitude in dB relative to full scale; -200 for silence (or a NaN).
float magnitudeDb(float magnitude);

// Returns where the marker of hold stands at nowMs: the peak for PEAK_HOLD_MS, then falling.
float markerDb(const PeakHold& hold, uint64_t nowMs);

// Returns the hold after a peak magnitude is seen at nowMs: a peak at or above where the marker
// stands takes over; a lower one leaves the marker falling.
PeakHold takePeak(const PeakHold& hold, float magnitude, uint64_t nowMs);

// Returns whether the marker is still on the scale at nowMs, so the meter must keep repainting.
bool markerOnScale(const PeakHold& hold, uint64_t nowMs);

// Returns the pixel offset of a level in dB on a bar width pixels wide: the bar's own rule.
int scaleOffset(float levelDb, int width);

// One tick of the scale: its level and its label.
struct MeterTick {
    int db;
    const wchar_t* label;
};

// Returns the ticks: every 10 dB from -60 to 0, and -6 and -3, left to right.
std::vector<MeterTick> meterTicks();

// The clip indicator's width at the meter's right end, and the gap before it; the bar and its
// scale take the rest.
constexpr int CLIP_BOX_WIDTH = 110;
constexpr int CLIP_BOX_GAP = 8;

// Returns the width of the bar's scale in a meter itemWidth wide.
int barAreaWidth(int itemWidth);
