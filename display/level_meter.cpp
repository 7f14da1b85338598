#include "display/level_meter.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <vector>

#include "display/meter_scale.h"
#include "display/meter_width.h"
#include "display/spectrogram_axis.h"
#include "recording/live_state.h"

namespace {

// The control identifier of the level bar in the main window.
constexpr uint32_t LEVEL_METER_ID = 3;
constexpr COLORREF BAR_COLOUR = RGB(0, 200, 0);
// Blue: apart from the green bar and from the clip indicator's red.
constexpr COLORREF PEAK_COLOUR = RGB(0, 70, 255);
constexpr COLORREF TICK_COLOUR = RGB(64, 64, 64);
constexpr COLORREF CLIP_LIT_COLOUR = RGB(220, 0, 0);
constexpr COLORREF CLIP_UNLIT_COLOUR = RGB(128, 128, 128);
// The meter's rows, from its top: the bar, then the ticks, then their labels.
constexpr int BAR_HEIGHT = 18;
constexpr int TICK_LENGTH = 5;
constexpr int PEAK_MARKER_WIDTH = 3;

// The marker's hold; the UI thread's alone, as only it paints.
PeakHold peakHold;

// Fills a rectangle with a colour, with a brush made and deleted for it.
void fill(HDC dc, const RECT& area, COLORREF colour) {
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &area, brush);
    DeleteObject(brush);
}

// Draws the bar and the peak marker in the bar's rows.
void drawBarAndMarker(HDC dc, const RECT& bar, uint64_t nowMs) {
    const int width = bar.right - bar.left;
    RECT filled = bar;
    filled.right = bar.left + levelBarWidth(inputLevel.load(), width);
    fill(dc, filled, BAR_COLOUR);
    if (!markerOnScale(peakHold, nowMs)) return;
    // The marker's right edge sits where the bar would end at the peak's level.
    const int end = bar.left + scaleOffset(markerDb(peakHold, nowMs), width);
    RECT marker{end - PEAK_MARKER_WIDTH, bar.top, end, bar.bottom};
    if (marker.left < bar.left) marker = {bar.left, bar.top, bar.left + PEAK_MARKER_WIDTH, bar.bottom};
    fill(dc, marker, PEAK_COLOUR);
}

// Draws the ticks under the bar and their labels under the ticks.
void drawScale(HDC dc, const RECT& bar, int bottom) {
    const int width = bar.right - bar.left;
    const std::vector<MeterTick> ticks = meterTicks();
    for (size_t i = 0; i < ticks.size(); ++i) {
        const int x = std::min(bar.left + scaleOffset(static_cast<float>(ticks[i].db), width), bar.right - 1);
        fill(dc, RECT{x, bar.bottom, x + 1, bar.bottom + TICK_LENGTH}, TICK_COLOUR);
        // Centred on its tick; the first and last kept inside the scale.
        RECT label{x - 40, bar.bottom + TICK_LENGTH, x + 40, bottom};
        UINT align = DT_CENTER;
        if (i == 0) {
            label.left = bar.left;
            align = DT_LEFT;
        } else if (i + 1 == ticks.size()) {
            label.right = bar.right;
            align = DT_RIGHT;
        }
        DrawTextW(dc, ticks[i].label, -1, &label, align | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
    }
}

// Draws the clip indicator: red with the count of clipped samples once any sample reached full
// scale in this recording, a grey outline otherwise.
void drawClipIndicator(HDC dc, const RECT& box) {
    const uint64_t clipped = clippedSamples.load();
    if (clipped == 0) {
        fill(dc, box, CLIP_UNLIT_COLOUR);
        RECT inside{box.left + 1, box.top + 1, box.right - 1, box.bottom - 1};
        FillRect(dc, &inside, reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1)));
        SetTextColor(dc, CLIP_UNLIT_COLOUR);
        RECT text = box;
        DrawTextW(dc, L"no clipping", -1, &text, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        return;
    }
    fill(dc, box, CLIP_LIT_COLOUR);
    SetTextColor(dc, RGB(255, 255, 255));
    wchar_t count[64];
    swprintf(count, 64, L"CLIPPED\n%llu sample%ls", static_cast<unsigned long long>(clipped), clipped == 1 ? L"" : L"s");
    RECT text = box;
    DrawTextW(dc, count, -1, &text, DT_CENTER | DT_TOP | DT_NOPREFIX);
}

}  // namespace

LRESULT paintLevelMeter(WPARAM wParam, LPARAM lParam) {
    if (static_cast<uint32_t>(wParam) != LEVEL_METER_ID) return 0;
    const DRAWITEMSTRUCT* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
    HDC dc = item->hDC;
    const RECT area = item->rcItem;
    const uint64_t now = GetTickCount64();
    peakHold = takePeak(peakHold, inputPeak.exchange(0.0f), now);
    // Every request repaints the whole meter, whatever the item action or state asks for.
    FillRect(dc, &area, reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1)));
    if (area.right <= area.left || area.bottom <= area.top) return 1;
    const RECT bar{area.left, area.top, area.left + barAreaWidth(area.right - area.left),
                   std::min(area.top + BAR_HEIGHT, area.bottom)};
    const RECT clipBox{area.right - CLIP_BOX_WIDTH, area.top, area.right, area.bottom};

    HFONT font = labelFont(item->hwndItem);
    HGDIOBJ previousFont = font ? SelectObject(dc, font) : nullptr;
    const int previousMode = SetBkMode(dc, TRANSPARENT);
    const COLORREF previousColour = SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));

    drawBarAndMarker(dc, bar, now);
    // A level update repaints the bar alone, and the clip indicator when its count changed (see
    // meterChangingAreas); text is drawn only where the system asks for paint.
    const RECT scale{bar.left, bar.bottom, bar.right, area.bottom};
    if (RectVisible(dc, &scale)) drawScale(dc, bar, area.bottom);
    if (RectVisible(dc, &clipBox)) drawClipIndicator(dc, clipBox);

    SetTextColor(dc, previousColour);
    SetBkMode(dc, previousMode);
    if (previousFont) SelectObject(dc, previousFont);
    return 1;
}

void meterChangingAreas(const RECT& client, RECT* bar, RECT* clipIndicator) {
    *bar = RECT{client.left, client.top, client.left + barAreaWidth(client.right - client.left),
                std::min(client.top + BAR_HEIGHT, client.bottom)};
    *clipIndicator = RECT{client.right - CLIP_BOX_WIDTH, client.top, client.right, client.bottom};
}

bool peakMarkerShowing(uint64_t nowMs) { return markerOnScale(peakHold, nowMs); }

bool peakMarkerFalling(uint64_t nowMs) {
    return markerOnScale(peakHold, nowMs) && nowMs > peakHold.seenAtMs + PEAK_HOLD_MS;
}

void resetPeakMarker() { peakHold = PeakHold{}; }
