#include "app/controls.h"

HWND startButton = nullptr;
HWND stopButton = nullptr;
HWND exportButton = nullptr;
HWND statusLabel = nullptr;
HWND levelMeter = nullptr;
HWND waveformHost = nullptr;
HWND spectrumHost = nullptr;

namespace {
constexpr DWORD CHILD_VISIBLE = WS_CHILD | WS_VISIBLE;

const ControlSpec CONTROLS[CONTROL_COUNT] = {
    {L"BUTTON", L"Start Recording", CHILD_VISIBLE, 20, 20, 140, 30, ID_START_RECORDING, &startButton},
    {L"BUTTON", L"Stop", CHILD_VISIBLE, 180, 20, 80, 30, ID_STOP, &stopButton},
    {L"BUTTON", L"Export MP3", CHILD_VISIBLE, 270, 20, 90, 30, ID_EXPORT_MP3, &exportButton},
    {L"STATIC", L"Ready", CHILD_VISIBLE, 20, 60, 1160, 20, ID_STATUS, &statusLabel},
    {L"STATIC", nullptr, CHILD_VISIBLE | SS_OWNERDRAW, 20, 90, 1160, 20, ID_LEVEL_METER, &levelMeter},
    {L"STATIC", nullptr, CHILD_VISIBLE, 20, 120, 1160, 80, ID_WAVEFORM_HOST, &waveformHost},
    {L"STATIC", nullptr, CHILD_VISIBLE, 20, 210, 1160, 80, ID_SPECTRUM_HOST, &spectrumHost},
};
}  // namespace

const ControlSpec* mainWindowControls() { return CONTROLS; }

std::wstring savedStatusText(const std::wstring& path) { return L"Saved to: " + path; }
