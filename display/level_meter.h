// The owner-drawn level bar: inputLevel on a -60 dB to 0 dB scale.
#pragma once

#include <windows.h>

// Paints the level meter for WM_DRAWITEM; returns 1 when it drew, 0 for any other control.
LRESULT paintLevelMeter(WPARAM wParam, LPARAM lParam);
