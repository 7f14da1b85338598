#include "app/controls.h"

#include <commctrl.h>

#include <cwchar>

#include "recording/live_state.h"

HWND startButton = nullptr;
HWND stopButton = nullptr;
HWND exportButton = nullptr;
HWND statusLabel = nullptr;
HWND levelMeter = nullptr;
HWND waveformHost = nullptr;
HWND spectrumHost = nullptr;
HWND recordingInfoLabel = nullptr;
HWND exportProgressBar = nullptr;
HWND exportStatusLabel = nullptr;
HWND frequencyLabels = nullptr;
HWND timeLabels = nullptr;

namespace {
constexpr DWORD CHILD_VISIBLE = WS_CHILD | WS_VISIBLE;
// The buttons are tab stops, so Tab and Shift+Tab move between them in creation order.
constexpr DWORD BUTTON_STYLE = CHILD_VISIBLE | WS_TABSTOP;

const ControlSpec CONTROLS[CONTROL_COUNT] = {
    {L"BUTTON", L"Start Recording", BUTTON_STYLE, 20, 20, 140, 30, ID_START_RECORDING, &startButton},
    {L"BUTTON", L"Stop", BUTTON_STYLE, 180, 20, 80, 30, ID_STOP, &stopButton},
    {L"BUTTON", L"Export MP3", BUTTON_STYLE, 270, 20, 90, 30, ID_EXPORT_MP3, &exportButton},
    // SS_NOPREFIX: the paths it shows are shown as they are, "Rock & Roll" with its "&".
    {L"STATIC", L"Ready", CHILD_VISIBLE | SS_NOPREFIX, 20, 60, 1160, 20, ID_STATUS, &statusLabel},
    // The meter: bar, peak marker, ticks with their labels, and the clip indicator at its right end.
    {L"STATIC", nullptr, CHILD_VISIBLE | SS_OWNERDRAW, 20, 136, 1160, 40, ID_LEVEL_METER, &levelMeter},
    {L"STATIC", nullptr, CHILD_VISIBLE, 20, 186, 1160, 80, ID_WAVEFORM_HOST, &waveformHost},
    // The spectrogram's surface, with its frequency labels to its left and its time scale under it.
    {L"STATIC", nullptr, CHILD_VISIBLE, 80, 276, 1100, 200, ID_SPECTRUM_HOST, &spectrumHost},
    {L"STATIC", nullptr, CHILD_VISIBLE | SS_OWNERDRAW, 20, 276, 60, 200, ID_FREQUENCY_LABELS, &frequencyLabels},
    {L"STATIC", nullptr, CHILD_VISIBLE | SS_OWNERDRAW, 80, 478, 1100, 18, ID_TIME_LABELS, &timeLabels},
    // The recording's time, size and disk left; the export's bar (shown from the first export on)
    // and its text.
    {L"STATIC", nullptr, CHILD_VISIBLE | SS_NOPREFIX, 20, 84, 1160, 20, ID_RECORDING_INFO, &recordingInfoLabel},
    {PROGRESS_CLASSW, nullptr, WS_CHILD, 20, 108, 240, 20, ID_EXPORT_PROGRESS, &exportProgressBar},
    {L"STATIC", nullptr, CHILD_VISIBLE | SS_NOPREFIX | SS_ENDELLIPSIS, 270, 108, 910, 20, ID_EXPORT_STATUS,
     &exportStatusLabel},
};
}  // namespace

const ControlSpec* mainWindowControls() { return CONTROLS; }

std::wstring recordingStartingText(const std::wstring& path) { return L"Starting to record to: " + path; }

std::wstring recordingRunningText(const std::wstring& path) { return L"Recording to: " + path; }

std::wstring recordingFinishingText(const std::wstring& path) { return L"Finishing the recording: " + path; }

std::wstring durationText(uint64_t milliseconds) {
    wchar_t text[64];
    // A tenth of a second would read "0.0 s" for a real hole of 10 ms.
    if (milliseconds < 100) {
        swprintf(text, 64, L"%llu ms", static_cast<unsigned long long>(milliseconds));
        return text;
    }
    if (milliseconds < 60000) {
        swprintf(text, 64, L"%llu.%llu s", static_cast<unsigned long long>(milliseconds / 1000),
                 static_cast<unsigned long long>(milliseconds % 1000 / 100));
        return text;
    }
    const unsigned long long seconds = milliseconds / 1000;
    if (seconds < 3600) {
        swprintf(text, 64, L"%llu:%02llu", seconds / 60, seconds % 60);
    } else {
        swprintf(text, 64, L"%llu:%02llu:%02llu", seconds / 3600, seconds / 60 % 60, seconds % 60);
    }
    return text;
}

std::wstring gapsText(const RecordingGaps& gaps) {
    const std::wstring count = std::to_wstring(gaps.count) + (gaps.count == 1 ? L" gap" : L" gaps");
    if (gaps.missingMs == 0 && gaps.lengthUnknown) return count + L" (length unknown)";
    return count + L" (" + (gaps.lengthUnknown ? L"at least " : L"") + durationText(gaps.missingMs) +
           L" of audio missing)";
}

std::wstring recordingStatusText(WPARAM outcome, const std::wstring& path, uint64_t keptMs,
                                 const RecordingGaps& gaps) {
    std::wstring kept = durationText(keptMs);
    // A recording that stopped early may have holes in what it kept, too.
    if (gaps.count > 0) kept += L" of audio, with " + gapsText(gaps) + L",";
    else kept += L" of audio";
    switch (outcome) {
        case RECORDING_SAVED:
            if (gaps.count > 0) return L"Saved with " + gapsText(gaps) + L" to: " + path;
            return L"Saved to: " + path;
        case RECORDING_NO_DEVICE:
            return L"Nothing recorded: no audio capture device was found. No file was created.";
        case RECORDING_DEVICE_FAILED:
            return L"Nothing recorded: the audio capture device could not be started. No file was created.";
        case RECORDING_FORMAT_UNSUPPORTED:
            return L"Nothing recorded: the capture device's sample format is not supported. No file was created.";
        case RECORDING_FILE_NOT_CREATED:
            return L"Nothing recorded: the file could not be opened for writing: " + path;
        case RECORDING_WRITE_FAILED:
            return L"Recording stopped early: writing to the file failed. " + kept + L" kept in: " + path;
        case RECORDING_DEVICE_LOST:
            return L"Recording stopped early: the capture device went away. " + kept + L" kept in: " + path;
        case RECORDING_SIZE_LIMIT:
            return L"Recording stopped at the 4 GiB limit of a WAV file. " + kept + L" kept in: " + path;
        case RECORDING_NO_AUDIO:
            return L"Nothing recorded: no audio arrived from the capture device. The file holds no audio: " + path;
        case RECORDING_ACCESS_DENIED:
            return L"Nothing recorded: Windows does not let this program use the microphone. Turn on "
                   L"\"Let desktop apps access your microphone\" in Settings > Privacy > Microphone. No file was created.";
        case RECORDING_DEVICE_IN_USE:
            return L"Nothing recorded: another program holds the capture device for itself (exclusive mode), "
                   L"such as a call or audio program. Close it, then try again. No file was created.";
        default:
            return L"The recording ended in an unknown way. The file, if any: " + path;
    }
}
