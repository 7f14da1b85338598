#include "dialog_driver.h"

#include <vector>

namespace {

struct Search {
    HWND owner;
    const wchar_t* title;
    HWND found;
};

// Picks the first visible dialog that matches the owner and title.
BOOL CALLBACK matchDialog(HWND window, LPARAM param) {
    Search* search = reinterpret_cast<Search*>(param);
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    if (std::wstring(className) != L"#32770" || !IsWindowVisible(window)) return TRUE;
    if (search->owner && GetWindow(window, GW_OWNER) != search->owner) return TRUE;
    if (search->title) {
        wchar_t title[256] = {};
        GetWindowTextW(window, title, 256);
        if (std::wstring(title) != search->title) return TRUE;
    }
    search->found = window;
    return FALSE;
}

// The file name box of a save dialog: an edit, or the edit inside a combo box.
HWND fileNameBox(HWND dialog) {
    const int candidates[] = {0x047C /* cmb13 */, 0x0480 /* edt1 */};
    for (int id : candidates) {
        HWND box = GetDlgItem(dialog, id);
        if (box) return box;
    }
    return nullptr;
}

}  // namespace

HWND waitForDialog(HWND owner, DWORD timeoutMs, const wchar_t* title) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    do {
        Search search{owner, title, nullptr};
        EnumWindows(matchDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found) return search.found;
        Sleep(20);
    } while (GetTickCount64() < deadline);
    return nullptr;
}

HWND waitForThreadDialog(DWORD threadId, DWORD timeoutMs, const wchar_t* title) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    do {
        Search search{nullptr, title, nullptr};
        EnumThreadWindows(threadId, matchDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found) return search.found;
        Sleep(20);
    } while (GetTickCount64() < deadline);
    return nullptr;
}

bool submitSaveDialog(HWND dialog, const std::wstring& path) {
    HWND box = fileNameBox(dialog);
    if (!box) return false;
    SendMessageW(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
    return true;
}

bool openFolderInSaveDialog(HWND dialog, const std::wstring& folder) {
    HWND box = fileNameBox(dialog);
    if (!box) return false;
    SendMessageW(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(folder.c_str()));
    // Sent, not posted: it returns once the dialog has changed folders.
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
    return IsWindow(dialog) != FALSE;
}

void cancelDialog(HWND dialog) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
}

std::wstring messageBoxText(HWND box) {
    wchar_t text[1024] = {};
    GetDlgItemTextW(box, 0xFFFF, text, 1024);
    return text;
}

void dismissMessageBox(HWND box) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
}
