#include "display/spectrogram_axis.h"

#include <cstdint>
#include <cwchar>

#include "display/spectrogram.h"
#include "recording/live_state.h"

namespace {

constexpr int TICK_LENGTH = 6;

// Writes how a gridline's frequency is labelled into text: "100 Hz", "1 kHz", "10 kHz".
void frequencyLabel(double hz, wchar_t* text, size_t size) {
    if (hz >= 1000.0) swprintf(text, size, L"%g kHz", hz / 1000.0);
    else swprintf(text, size, L"%g Hz", hz);
}

// Draws each gridline's frequency at its row, right-aligned against the surface, with a tick.
void drawFrequencyLabels(HDC dc, const RECT& area) {
    const int32_t rate = displaySampleRate.load();
    const int height = area.bottom - area.top;
    for (double hz : gridFrequencies(rate)) {
        const int row = frequencyRow(hz, rate, height);
        if (row < 0 || row >= height) continue;
        const int y = area.bottom - 1 - row;  // rows count from the bottom
        RECT tick{area.right - TICK_LENGTH, y, area.right, y + 1};
        FillRect(dc, &tick, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
        wchar_t text[32];
        frequencyLabel(hz, text, 32);
        RECT label{area.left, y - 10, area.right - TICK_LENGTH - 2, y + 10};
        DrawTextW(dc, text, -1, &label, DT_RIGHT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    }
}

// Draws the time scale: how long ago the left edge and the middle are, and "now" at the right.
void drawTimeLabels(HDC dc, const RECT& area) {
    wchar_t text[32];
    RECT label = area;
    swprintf(text, 32, L"%g s ago", SPECTROGRAM_SECONDS);
    DrawTextW(dc, text, -1, &label, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
    swprintf(text, 32, L"%g s ago", SPECTROGRAM_SECONDS / 2);
    DrawTextW(dc, text, -1, &label, DT_CENTER | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
    DrawTextW(dc, L"now", -1, &label, DT_RIGHT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
}

}  // namespace

HFONT labelFont(HWND control) {
    HFONT font = control ? reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)) : nullptr;
    if (font) return font;
    // Made once and kept for the process: the meter paints many times a second.
    static const HFONT messageFont = [] {
        NONCLIENTMETRICSW metrics{};
        metrics.cbSize = sizeof metrics;
        if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) return HFONT{};
        return CreateFontIndirectW(&metrics.lfMessageFont);
    }();
    return messageFont;
}

LRESULT paintSpectrogramLabels(WPARAM wParam, LPARAM lParam) {
    const uint32_t id = static_cast<uint32_t>(wParam);
    if (id != FREQUENCY_LABELS_ID && id != TIME_LABELS_ID) return 0;
    const DRAWITEMSTRUCT* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
    HDC dc = item->hDC;
    const RECT area = item->rcItem;
    FillRect(dc, &area, reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1)));
    HFONT font = labelFont(item->hwndItem);
    HGDIOBJ previousFont = font ? SelectObject(dc, font) : nullptr;
    const int previousMode = SetBkMode(dc, TRANSPARENT);
    const COLORREF previousColour = SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    if (id == FREQUENCY_LABELS_ID) drawFrequencyLabels(dc, area);
    else drawTimeLabels(dc, area);
    SetTextColor(dc, previousColour);
    SetBkMode(dc, previousMode);
    if (previousFont) SelectObject(dc, previousFont);
    return 1;
}
