// The window's two readout lines at work: the recording line, refreshed from the recording
// engine's published figures by a timer, and the export line, fed by the export jobs' messages.
// UI thread only.
#pragma once

#include <windows.h>

#include <string>

// The timer that refreshes the recording line, and how often: five times a second keeps the
// tenths shown within half a second of the file.
constexpr UINT_PTR RECORDING_LINE_TIMER = 24;
constexpr UINT RECORDING_LINE_REFRESH_MS = 200;

// Empties the recording line as a new recording is started.
void clearRecordingLine();

// Starts refreshing the recording line: the recording runs.
void recordingLineStarted(HWND window);

// Shows the running recording's time, size and time left; on each timer tick.
void refreshRecordingLine();

// Refreshes the recording line as new audio arrives, while the recording line is refreshed at all.
void refreshRecordingLineWhileRecording();

// Stops refreshing and leaves the ended recording's length and size, when it left a file.
void recordingLineEnded(HWND window, WPARAM outcome, LPARAM keptMs);

// Returns a fresh id for an export about to start.
WPARAM nextExportId();

// Shows a started export in front of the export line.
void exportStarted(WPARAM id, const std::wstring& mp3Path);

// Shows an export's progress (thousandths) or its end (milliseconds of audio, or EXPORT_FAILED).
void exportProgressed(WPARAM id, LPARAM permille);
void exportFinished(WPARAM id, LPARAM audioMsOrFailed);

// Forgets the exports and the warning shown, as the window goes.
void forgetReadouts();

// Colours the readout lines for WM_CTLCOLORSTATIC: text on the window's own background, red
// while little time is left; returns the brush, or null for a control of someone else.
HBRUSH colourReadout(HDC dc, HWND control);
