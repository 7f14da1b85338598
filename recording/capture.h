// The capture worker: records the default capture endpoint into a WAV file until isRecording
// is lowered, then posts WM_RECORDING_SAVED to the window, exactly once, whatever happened, with
// how the recording ended and how much audio the file holds (see live_state.h).
#pragma once

#include <windows.h>

#include <string>

// Runs one recording into the file at path; the body of a detached capture thread.
void recordAudio(std::wstring path, HWND window);
