#include "test_window.h"

HWND createTestWindow() {
    static ATOM atom = [] {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"VoxtrelTestWindow";
        return RegisterClassW(&windowClass);
    }();
    (void)atom;
    return CreateWindowExW(0, L"VoxtrelTestWindow", L"test", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                           nullptr, GetModuleHandleW(nullptr), nullptr);
}

std::vector<MSG> takeMessages(HWND window, UINT message) {
    std::vector<MSG> taken;
    MSG msg;
    while (PeekMessageW(&msg, window, message, message, PM_REMOVE)) taken.push_back(msg);
    return taken;
}
