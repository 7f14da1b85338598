// The common save-file dialog that both commands use to ask for a path.
#pragma once

#include <windows.h>
#include <commdlg.h>

#include <string>

constexpr DWORD SAVE_DIALOG_FLAGS = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST;
constexpr DWORD SAVE_PATH_CAPACITY = 260;

// Returns the filter list: "Audio Files" (*.wav;*.mp3) then "All Files" (*.*), double-NUL ended.
const wchar_t* saveDialogFilter();

// Fills the dialog record for owner around the given path buffer of SAVE_PATH_CAPACITY characters.
OPENFILENAMEW makeSaveDialogRecord(HWND owner, wchar_t* pathBuffer);

// Shows the save dialog; returns the chosen path, or an empty string when cancelled or failed.
std::wstring chooseSaveFile(HWND owner);
