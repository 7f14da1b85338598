#include "app/keyboard.h"

#include "app/controls.h"

namespace {

// An id no control and no command has: what Enter "presses" when no button is focused.
constexpr WORD NO_COMMAND_ID = 0xFFFF;

// The control that had the focus when the main window was last deactivated.
HWND focusBeforeDeactivation = nullptr;

// Returns whether window is one of the three buttons.
bool isCommandButton(HWND window) {
    return window != nullptr && (window == startButton || window == stopButton || window == exportButton);
}

}  // namespace

bool passesToDialogManager(const MSG& message) {
    // NOTE: IsDialogMessageW turns Esc into WM_COMMAND IDCANCEL, and IDCANCEL (2) is the id of
    // "Stop": a second Esc meant for a closing dialog would end the recording.
    return !(message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE);
}

LRESULT defaultButtonOf(HWND mainWindow) {
    HWND focus = GetFocus();
    const bool ours = isCommandButton(focus) && GetParent(focus) == mainWindow;
    return MAKELRESULT(ours ? static_cast<WORD>(GetDlgCtrlID(focus)) : NO_COMMAND_ID, DC_HASDEFID);
}

void keepFocusAcrossActivation(HWND mainWindow, WPARAM activation) {
    if (LOWORD(activation) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(mainWindow, focus)) focusBeforeDeactivation = focus;
        return;
    }
    // A minimised window takes no focus.
    if (HIWORD(activation)) return;
    if (!IsWindow(focusBeforeDeactivation) || !IsChild(mainWindow, focusBeforeDeactivation))
        focusBeforeDeactivation = startButton;
    SetFocus(focusBeforeDeactivation);
}

void forgetFocus() { focusBeforeDeactivation = nullptr; }
