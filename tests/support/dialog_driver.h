// Drives common dialogs and message boxes of another thread or process as a user would:
// find the box, read or type its text, press its buttons.
#pragma once

#include <windows.h>

#include <string>

// Waits up to timeoutMs for a visible dialog (class #32770) owned by owner (or by any window
// when owner is null) and returns it, or null.
HWND waitForDialog(HWND owner, DWORD timeoutMs, const wchar_t* title = nullptr);

// Waits up to timeoutMs for a visible dialog with the given title that belongs to one thread,
// so that the boxes of other programs on the same desktop are never taken for it.
HWND waitForThreadDialog(DWORD threadId, DWORD timeoutMs, const wchar_t* title);

// Types path into a save dialog's file name box and presses its Save button.
bool submitSaveDialog(HWND dialog, const std::wstring& path);

// Types a folder's path into a save dialog's file name box and presses Save, which takes the
// dialog into that folder; returns once the dialog has done so.
bool openFolderInSaveDialog(HWND dialog, const std::wstring& folder);

// Presses a dialog's Cancel button.
void cancelDialog(HWND dialog);

// Returns the message text of a message box.
std::wstring messageBoxText(HWND box);

// Dismisses a message box with its OK button.
void dismissMessageBox(HWND box);
