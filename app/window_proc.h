// The main window procedure: controls, commands, the capture worker's notifications, close
// and shutdown.
#pragma once

#include <windows.h>

// Handles the main window's messages.
LRESULT CALLBACK MainWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Starts a capture worker for outputPath; returns false (flags left idle) when no thread could start.
bool launchCaptureWorker();
