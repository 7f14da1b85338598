// The owner-drawn level meter: the RMS bar of inputLevel on a -60 dB to 0 dB scale, the peak
// marker, the scale's ticks and labels, and the clip indicator with its count.
#pragma once

#include <windows.h>

#include <cstdint>

// Paints the level meter for WM_DRAWITEM; returns 1 when it drew, 0 for any other control.
// Takes the peak published since the last paint into the marker's hold.
LRESULT paintLevelMeter(WPARAM wParam, LPARAM lParam);

// Returns whether the peak marker still stands on the scale at nowMs (GetTickCount64), so that
// the meter needs repainting while it falls.
bool peakMarkerShowing(uint64_t nowMs);

// Returns whether the peak marker is falling at nowMs, so that it moves between level updates.
bool peakMarkerFalling(uint64_t nowMs);

// Returns the parts of the meter's client area that a new level changes: the bar with its peak
// marker, and the clip indicator; the scale between and below them stays.
void meterChangingAreas(const RECT& client, RECT* bar, RECT* clipIndicator);

// Forgets the held peak, as a new recording starts.
void resetPeakMarker();
