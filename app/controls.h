// The main window's child controls: identifiers, the creation table and their handles.
#pragma once

#include <windows.h>

#include <string>

constexpr int ID_START_RECORDING = 1;
constexpr int ID_STOP = 2;
constexpr int ID_LEVEL_METER = 3;
constexpr int ID_EXPORT_MP3 = 10;
constexpr int ID_WAVEFORM_HOST = 1101;
constexpr int ID_SPECTRUM_HOST = 1102;
constexpr int ID_STATUS = 0;

struct ControlSpec {
    const wchar_t* className;
    const wchar_t* text;  // null: created without text
    DWORD style;
    int x, y, width, height;
    int id;
    HWND* handle;
};

constexpr int CONTROL_COUNT = 7;

// Returns the seven controls in creation order, each with the variable its handle goes to.
const ControlSpec* mainWindowControls();

// Returns the status text shown once a recording has ended.
std::wstring savedStatusText(const std::wstring& path);

extern HWND startButton;
extern HWND stopButton;
extern HWND exportButton;
extern HWND statusLabel;
extern HWND levelMeter;
extern HWND waveformHost;
extern HWND spectrumHost;
