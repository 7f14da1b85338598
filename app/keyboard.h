// The keyboard interface of the main window: Tab and Shift+Tab between the buttons, Space and
// Enter press the focused one, and the focus survives dialogs.
#pragma once

#include <windows.h>

// Returns whether the message loop should offer a message to IsDialogMessageW: every message
// except the Esc key, which the dialog manager would turn into a press of "Stop".
bool passesToDialogManager(const MSG& message);

// Answers DM_GETDEFID: the focused button of the main window is the default, so Enter presses it;
// with no button focused, an id that belongs to no command, as the dialog manager would otherwise
// send IDOK, the id of "Start Recording".
LRESULT defaultButtonOf(HWND mainWindow);

// Keeps the focused control when the main window is deactivated and gives it the focus back when
// it is activated again; the first activation focuses "Start Recording".
void keepFocusAcrossActivation(HWND mainWindow, WPARAM activation);

// Forgets the remembered focus, for a main window that is being destroyed.
void forgetFocus();
