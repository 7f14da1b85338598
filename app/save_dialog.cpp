#include "app/save_dialog.h"

namespace {
// Each pair ends in a NUL; the literal's own terminator is the closing second NUL.
constexpr wchar_t FILTER[] = L"Audio Files\0*.wav;*.mp3\0All Files\0*.*\0";
}  // namespace

const wchar_t* saveDialogFilter() { return FILTER; }

OPENFILENAMEW makeSaveDialogRecord(HWND owner, wchar_t* pathBuffer) {
    OPENFILENAMEW record;
    ZeroMemory(&record, sizeof record);
    record.lStructSize = sizeof record;
    record.hwndOwner = owner;
    record.lpstrFilter = FILTER;
    record.lpstrFile = pathBuffer;
    record.nMaxFile = SAVE_PATH_CAPACITY;
    record.Flags = SAVE_DIALOG_FLAGS;
    return record;
}

std::wstring chooseSaveFile(HWND owner) {
    wchar_t path[SAVE_PATH_CAPACITY] = {};
    OPENFILENAMEW record = makeSaveDialogRecord(owner, path);
    if (!GetSaveFileNameW(&record)) return std::wstring();
    return std::wstring(path);
}
