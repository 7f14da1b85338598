// The spectrogram's labels, drawn with GDI beside and under its GL surface: the frequencies of
// the gridlines on the left, the time scale underneath.
#pragma once

#include <windows.h>

// The owner-drawn strips that carry the labels.
constexpr int FREQUENCY_LABELS_ID = 1103;
constexpr int TIME_LABELS_ID = 1104;

// Paints a label strip for WM_DRAWITEM; returns 1 when it drew, 0 for any other control.
LRESULT paintSpectrogramLabels(WPARAM wParam, LPARAM lParam);

// Returns the font to draw labels with: the control's own, else the system's message font (one
// copy, kept for the process); null only when neither can be had.
HFONT labelFont(HWND control);
