#include "app/appearance.h"

#include <commctrl.h>

#include <algorithm>

HFONT messageFont = nullptr;

namespace {

// Room a push button needs around its text: the theme's border and the focus rectangle.
constexpr int BUTTON_TEXT_MARGIN = 24;
// Rows of text follow each other this many pixels apart; a line of text may grow to it.
constexpr int TEXT_ROW_PITCH = 24;

// Returns whether the control is a push button.
bool isButton(const ControlSpec& control) { return _wcsicmp(control.className, L"BUTTON") == 0; }

// Returns whether the control is one line of text, or sits in such a line (the export's bar).
bool isTextRow(const ControlSpec& control) {
    return control.id == ID_STATUS || control.id == ID_RECORDING_INFO || control.id == ID_EXPORT_PROGRESS ||
           control.id == ID_EXPORT_STATUS;
}

}  // namespace

bool initCommonControls() {
    INITCOMMONCONTROLSEX classes{};
    classes.dwSize = sizeof classes;
    classes.dwICC = ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES;
    return InitCommonControlsEx(&classes) != FALSE;
}

HFONT createMessageFont(int percent) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) return nullptr;
    LOGFONTW font = metrics.lfMessageFont;
    font.lfHeight = MulDiv(font.lfHeight, percent, 100);
    return CreateFontIndirectW(&font);
}

TextMeasures measureTexts(const ControlSpec* controls, int count, HFONT font) {
    TextMeasures measures;
    HDC screen = GetDC(nullptr);
    if (!screen) return measures;
    HGDIOBJ previous = SelectObject(screen, font ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT));
    TEXTMETRICW metrics{};
    if (GetTextMetricsW(screen, &metrics)) measures.lineHeight = metrics.tmHeight;
    for (int i = 0; i < count; ++i) {
        SIZE size{};
        const wchar_t* text = controls[i].text;
        if (text && !GetTextExtentPoint32W(screen, text, static_cast<int>(wcslen(text)), &size)) size.cx = 0;
        measures.textWidths.push_back(text ? size.cx : 0);
    }
    SelectObject(screen, previous);
    ReleaseDC(nullptr, screen);
    return measures;
}

std::vector<RECT> fitControls(const ControlSpec* controls, int count, const TextMeasures& measures) {
    std::vector<RECT> rects;
    int buttonShift = 0;
    for (int i = 0; i < count; ++i) {
        const ControlSpec& c = controls[i];
        RECT r{c.x, c.y, c.x + c.width, c.y + c.height};
        const int textWidth = i < static_cast<int>(measures.textWidths.size()) ? measures.textWidths[i] : 0;
        if (isButton(c)) {
            r.left += buttonShift;
            const int width = std::max(c.width, textWidth + BUTTON_TEXT_MARGIN);
            r.right = r.left + width;
            buttonShift += width - c.width;
        } else if (isTextRow(c)) {
            r.bottom = c.y + std::min(std::max(c.height, measures.lineHeight), TEXT_ROW_PITCH);
        }
        rects.push_back(r);
    }
    return rects;
}

void applyMessageFont(const ControlSpec* controls, int count) {
    if (!messageFont) return;
    for (int i = 0; i < count; ++i)
        if (*controls[i].handle) SendMessageW(*controls[i].handle, WM_SETFONT, reinterpret_cast<WPARAM>(messageFont), FALSE);
}

void deleteMessageFont() {
    if (messageFont) DeleteObject(messageFont);
    messageFont = nullptr;
}

HICON loadProgramIcon(HINSTANCE instance, bool small) {
    const int size = GetSystemMetrics(small ? SM_CXSMICON : SM_CXICON);
    // NOTE: LR_SHARED hands out the system's one copy, which must not be destroyed; the class
    // keeps it for the life of the process.
    return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(PROGRAM_ICON_ID), IMAGE_ICON, size, size,
                                         LR_DEFAULTCOLOR | LR_SHARED));
}
