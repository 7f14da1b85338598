// A real top-level window for tests that post to a window and read its queue.
#pragma once

#include <windows.h>

#include <vector>

// Creates a hidden top-level window owned by the calling thread.
HWND createTestWindow();

// Removes and returns every queued message with the given number for the window.
std::vector<MSG> takeMessages(HWND window, UINT message);
