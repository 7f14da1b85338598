#include "app/readout_lines.h"

#include <commctrl.h>

#include <vector>

#include "app/controls.h"
#include "app/readouts.h"
#include "export/export_progress.h"
#include "recording/live_state.h"
#include "recording/wav_header.h"

namespace {

// Red enough to catch the eye on the window's background, dark enough to read.
constexpr COLORREF WARNING_TEXT_COLOUR = RGB(200, 0, 0);

bool recordingLineWarns = false;
bool recordingLineRunning = false;  // between the recording's start and its end
std::vector<ExportEntry> exportsShown;  // newest first
WPARAM lastExportId = 0;

// Sets a control's text unless it already reads so, which spares a flicker five times a second.
void setTextIfChanged(HWND control, const std::wstring& text) {
    wchar_t current[1024] = {};
    GetWindowTextW(control, current, 1024);
    if (text != current) SetWindowTextW(control, text.c_str());
}

// Shows the recording line's text and redraws it when its colour changes.
void showRecordingLine(const RecordingLine& line) {
    setTextIfChanged(recordingInfoLabel, line.text);
    if (line.warning != recordingLineWarns) {
        recordingLineWarns = line.warning;
        InvalidateRect(recordingInfoLabel, nullptr, TRUE);
    }
}

// Returns whether a recording that ended so left a file behind.
bool leftAFile(WPARAM outcome) {
    return outcome == RECORDING_SAVED || outcome == RECORDING_WRITE_FAILED || outcome == RECORDING_DEVICE_LOST ||
           outcome == RECORDING_SIZE_LIMIT || outcome == RECORDING_NO_AUDIO;
}

// Shows the export line and the bar from the exports the window knows.
void showExports() {
    // The bar first: a line that tells of an export never stands beside a hidden bar.
    const int permille = exportBarPermille(exportsShown);
    if (permille >= 0) {
        SendMessageW(exportProgressBar, PBM_SETPOS, static_cast<WPARAM>(permille), 0);
        ShowWindow(exportProgressBar, SW_SHOWNA);
    }
    setTextIfChanged(exportStatusLabel, exportLineText(exportsShown));
}

}  // namespace

void clearRecordingLine() { showRecordingLine(RecordingLine{}); }

void recordingLineStarted(HWND window) {
    recordingLineRunning = true;
    SetTimer(window, RECORDING_LINE_TIMER, RECORDING_LINE_REFRESH_MS, nullptr);
    refreshRecordingLine();
}

void refreshRecordingLine() {
    RecordingFigures figures;
    figures.bytesPerSecond = recordingBytesPerSecond.load();
    figures.bytesQueued = recordingBytesQueued.load();
    figures.bytesOnDisk = recordingBytesOnDisk.load();
    figures.diskLimitBytes = recordingDiskLimitBytes.load();
    showRecordingLine(recordingLine(figures));
}

void refreshRecordingLineWhileRecording() {
    if (recordingLineRunning) refreshRecordingLine();
}

void recordingLineEnded(HWND window, WPARAM outcome, LPARAM keptMs) {
    recordingLineRunning = false;
    KillTimer(window, RECORDING_LINE_TIMER);
    RecordingLine line;
    if (leftAFile(outcome))
        line.text = recordedLine(static_cast<uint64_t>(keptMs), WAV_HEADER_BYTES + recordingBytesOnDisk.load());
    showRecordingLine(line);
}

WPARAM nextExportId() { return ++lastExportId; }

void exportStarted(WPARAM id, const std::wstring& mp3Path) {
    addStartedExport(exportsShown, id, mp3Path);
    // Bar ranges go up to 65535 by default; the jobs count in thousandths.
    SendMessageW(exportProgressBar, PBM_SETRANGE32, 0, EXPORT_PERMILLE_DONE);
    showExports();
}

void exportProgressed(WPARAM id, LPARAM permille) {
    if (applyExportProgress(exportsShown, id, permille)) showExports();
}

void exportFinished(WPARAM id, LPARAM audioMsOrFailed) {
    if (applyExportFinished(exportsShown, id, audioMsOrFailed)) showExports();
}

void forgetReadouts() {
    recordingLineWarns = false;
    recordingLineRunning = false;
    exportsShown.clear();
}

HBRUSH colourReadout(HDC dc, HWND control) {
    if (control != statusLabel && control != recordingInfoLabel && control != exportStatusLabel) return nullptr;
    SetBkColor(dc, GetSysColor(COLOR_WINDOW));
    SetTextColor(dc, control == recordingInfoLabel && recordingLineWarns ? WARNING_TEXT_COLOUR
                                                                         : GetSysColor(COLOR_WINDOWTEXT));
    return GetSysColorBrush(COLOR_WINDOW);
}
