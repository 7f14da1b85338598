// The main window's child controls: identifiers, the creation table and their handles.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

constexpr int ID_START_RECORDING = 1;
constexpr int ID_STOP = 2;
constexpr int ID_LEVEL_METER = 3;
constexpr int ID_EXPORT_MP3 = 10;
constexpr int ID_WAVEFORM_HOST = 1101;
constexpr int ID_SPECTRUM_HOST = 1102;
constexpr int ID_STATUS = 0;
constexpr int ID_RECORDING_INFO = 4;
constexpr int ID_EXPORT_PROGRESS = 5;
constexpr int ID_EXPORT_STATUS = 6;
// The spectrogram's label strips: its frequencies on the left, its time scale underneath.
constexpr int ID_FREQUENCY_LABELS = 1103;
constexpr int ID_TIME_LABELS = 1104;

struct ControlSpec {
    const wchar_t* className;
    const wchar_t* text;  // null: created without text
    DWORD style;
    int x, y, width, height;
    int id;
    HWND* handle;
};

constexpr int CONTROL_COUNT = 12;

// Returns the controls in creation order, each with the variable its handle goes to.
const ControlSpec* mainWindowControls();

// The holes in a recording's file, as the capture worker published them (see live_state.h).
struct RecordingGaps {
    uint64_t count = 0;
    uint64_t missingMs = 0;
    bool lengthUnknown = false;
};

// Returns the status text shown once a recording has ended: "Saved to: " and the path when it was
// written without fault and without a gap, else one line that says what happened and what the
// file holds, from the outcome and the milliseconds of audio kept that WM_RECORDING_SAVED
// carries and the gaps the worker published.
std::wstring recordingStatusText(WPARAM outcome, const std::wstring& path, uint64_t keptMs,
                                 const RecordingGaps& gaps = {});

// Returns how the gaps are told: "1 gap (0.5 s of audio missing)", "2 gaps (at least ...)".
std::wstring gapsText(const RecordingGaps& gaps);

// Returns the status text while a started recording opens its device and file.
std::wstring recordingStartingText(const std::wstring& path);

// Returns the status text while a recording runs into the file at path.
std::wstring recordingRunningText(const std::wstring& path);

// Returns the status text between "Stop" and the recording's end, while its file is completed.
std::wstring recordingFinishingText(const std::wstring& path);

// Returns a duration for the status line: "40 ms" below a tenth of a second, "12.3 s" below a
// minute, else "4:05" or "1:02:03".
std::wstring durationText(uint64_t milliseconds);

extern HWND startButton;
extern HWND stopButton;
extern HWND exportButton;
extern HWND statusLabel;
extern HWND levelMeter;
extern HWND waveformHost;
extern HWND spectrumHost;
extern HWND recordingInfoLabel;
extern HWND exportProgressBar;
extern HWND exportStatusLabel;
extern HWND frequencyLabels;
extern HWND timeLabels;
