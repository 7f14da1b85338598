#include "display/level_meter.h"

#include <cstdint>

#include "display/meter_width.h"
#include "recording/live_state.h"

namespace {

// The control identifier of the level bar in the main window.
constexpr uint32_t LEVEL_METER_ID = 3;
constexpr COLORREF BAR_COLOUR = RGB(0, 200, 0);

}  // namespace

LRESULT paintLevelMeter(WPARAM wParam, LPARAM lParam) {
    if (static_cast<uint32_t>(wParam) != LEVEL_METER_ID) return 0;
    const DRAWITEMSTRUCT* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
    HDC dc = item->hDC;
    const RECT area = item->rcItem;
    // Every request repaints the whole meter, whatever the item action or state asks for.
    FillRect(dc, &area, reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1)));
    RECT bar = area;
    bar.right = area.left + levelBarWidth(inputLevel.load(), area.right - area.left);
    HBRUSH barBrush = CreateSolidBrush(BAR_COLOUR);
    FillRect(dc, &bar, barBrush);
    DeleteObject(barBrush);
    return 1;
}
