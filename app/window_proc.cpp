#include "app/window_proc.h"

#include <GLFW/glfw3.h>

#include <string>
#include <system_error>
#include <thread>

#include "app/appearance.h"
#include "app/controls.h"
#include "app/keyboard.h"
#include "app/readout_lines.h"
#include "app/save_dialog.h"
#include "display/level_meter.h"
#include "display/spectrogram_axis.h"
#include "export/mp3_export.h"
#include "recording/capture.h"
#include "recording/live_state.h"

namespace {

// Set by a close that found a capture still finishing its file; the window then closes as soon as
// the capture has reported its end.
bool closeWhenRecordingEnds = false;

// Repaints the meter this often while its peak marker falls.
constexpr UINT_PTR PEAK_FALL_TIMER = 23;
constexpr UINT PEAK_FALL_INTERVAL_MS = 50;

// Creates the child controls of the main window in their fixed order, sized to their texts in the
// system's message font, which each of them gets.
void createControls(HWND hwnd) {
    // NOTE: the progress bar's class comes from the common controls, which must be registered
    // first; without them the bar is missing and the rest of the window still works.
    initCommonControls();
    messageFont = createMessageFont();
    const ControlSpec* controls = mainWindowControls();
    const std::vector<RECT> rects = fitControls(controls, CONTROL_COUNT, measureTexts(controls, CONTROL_COUNT, messageFont));
    for (int i = 0; i < CONTROL_COUNT; ++i) {
        const ControlSpec& c = controls[i];
        const RECT& r = rects[i];
        *c.handle = CreateWindowExW(0, c.className, c.text, c.style, r.left, r.top, r.right - r.left, r.bottom - r.top,
                                    hwnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), nullptr, nullptr);
    }
    applyMessageFont(controls, CONTROL_COUNT);
}

// Empties both traces' buffers and the spectrogram's, each under its own lock, and wakes the
// render thread to show it.
void clearTraces() {
    {
        std::lock_guard<std::mutex> guard(waveformMutex);
        waveformLeft.clear();
    }
    {
        std::lock_guard<std::mutex> guard(spectrumMutex);
        spectrumData.clear();
    }
    {
        // No capture runs now, so this lock is free: the new recording's first columns start afresh.
        std::lock_guard<std::mutex> guard(fftInputMutex);
        levelInput.clear();
    }
    {
        std::lock_guard<std::mutex> guard(levelColumnsMutex);
        levelColumns.clear();
        ++levelColumnsCleared;
    }
    SetEvent(displayWake);
}

// Whether the timer that repaints the falling peak marker runs, and the clip count last shown.
bool peakFallTimerRunning = false;
uint64_t clippedSamplesShown = 0;

// Asks for the parts of the meter that a level changes to be repainted: the bar, and the clip
// indicator when its count changed; the scale stays.
void invalidateMeterLevel() {
    RECT client{};
    GetClientRect(levelMeter, &client);
    RECT bar{};
    RECT clipIndicator{};
    meterChangingAreas(client, &bar, &clipIndicator);
    InvalidateRect(levelMeter, &bar, TRUE);
    const uint64_t clipped = clippedSamples.load();
    if (clipped != clippedSamplesShown) {
        clippedSamplesShown = clipped;
        InvalidateRect(levelMeter, &clipIndicator, TRUE);
    }
}

// Repaints the meter's bar for a new level, and keeps repainting it while its peak marker falls.
void levelUpdated(HWND hwnd) {
    invalidateMeterLevel();
    if (peakFallTimerRunning) return;
    peakFallTimerRunning = SetTimer(hwnd, PEAK_FALL_TIMER, PEAK_FALL_INTERVAL_MS, nullptr) != 0;
}

// Repaints the falling peak marker (a held one stands still); stops once it has left the scale,
// so an idle meter rests.
void peakFallTick(HWND hwnd) {
    const uint64_t now = GetTickCount64();
    if (peakMarkerFalling(now)) invalidateMeterLevel();
    if (peakMarkerShowing(now)) return;
    KillTimer(hwnd, PEAK_FALL_TIMER);
    peakFallTimerRunning = false;
}

// Starts a recording unless one is setting up, running or finishing.
void startRecording(HWND hwnd) {
    if (isRecording.load() || captureActive.load()) return;
    clearTraces();
    const std::wstring path = chooseSaveFile(hwnd);
    if (path.empty()) return;
    outputPath = path;
    if (!launchCaptureWorker()) {
        SetWindowTextW(statusLabel, L"Could not start the recording.");
        return;
    }
    SetWindowTextW(statusLabel, recordingStartingText(outputPath).c_str());
    clearRecordingLine();
}

// Asks the capture worker to finish; also covers a worker still setting up. While it finishes,
// which a stalled disk can make long, the status no longer claims that it records.
void requestStop() {
    stopRequested.store(true);
    isRecording.store(false);
    if (captureActive.load()) SetWindowTextW(statusLabel, recordingFinishingText(outputPath).c_str());
}

// Asks for an MP3 path and starts an export of the current recording path.
void startMp3Export(HWND hwnd) {
    const std::wstring mp3Path = chooseSaveFile(hwnd);
    if (mp3Path.empty()) return;
    const WPARAM id = nextExportId();
    // Shown before the job runs, so that its first message finds it.
    exportStarted(id, mp3Path);
    if (!startExport(mp3Path, outputPath, hwnd, id)) {
        exportFinished(id, EXPORT_FAILED);
        MessageBoxW(nullptr, L"Failed to start the MP3 export.", L"Error", MB_ICONERROR);
    }
}

// Runs the command of a button, told apart by the low 16 bits of wParam.
void runCommand(HWND hwnd, WPARAM wParam) {
    // The user has asked to close: no new dialog may keep the window open.
    if (closeWhenRecordingEnds) return;
    switch (static_cast<uint16_t>(LOWORD(wParam))) {
        case ID_START_RECORDING: startRecording(hwnd); break;
        case ID_STOP: requestStop(); break;
        case ID_EXPORT_MP3: startMp3Export(hwnd); break;
        default: break;
    }
}

// Tells how the recording ended and returns the flags to idle; carries out a close that waited
// for this end.
void recordingSaved(HWND hwnd, WPARAM outcome, LPARAM keptMs) {
    const RecordingGaps gaps{lastRecordingGaps.load(), lastRecordingMissingMs.load(),
                             lastRecordingGapLengthUnknown.load()};
    SetWindowTextW(statusLabel,
                   recordingStatusText(outcome, outputPath, static_cast<uint64_t>(keptMs), gaps).c_str());
    recordingLineEnded(hwnd, outcome, keptMs);
    isRecording.store(false);
    if (closeWhenRecordingEnds && !captureActive.load()) DestroyWindow(hwnd);
}

// Closes the window, or, while a capture is still finishing its file, once it has reported its end.
void closeWindow(HWND hwnd) {
    requestStop();
    if (captureActive.load()) {
        closeWhenRecordingEnds = true;
        return;
    }
    DestroyWindow(hwnd);
}

// Stops the render thread before the surfaces it draws into are destroyed, then ends GLFW.
void shutDown() {
    renderRunning.store(false);
    SetEvent(displayWake);
    if (renderThread.joinable()) renderThread.join();
    if (waveformSurface) glfwDestroyWindow(waveformSurface);
    if (spectrumSurface) glfwDestroyWindow(spectrumSurface);
    glfwTerminate();
    closeWhenRecordingEnds = false;
    peakFallTimerRunning = false;  // the window's timers went with it
    forgetFocus();
    forgetReadouts();
    PostQuitMessage(0);
}

}  // namespace

bool launchCaptureWorker() {
    // Raised here as well as by the worker, so a second "Start Recording" that arrives before
    // the new thread has run cannot start a second worker.
    stopRequested.store(false);
    captureActive.store(true);
    // The clip indicator and the peak marker tell about this recording only.
    clippedSamples.store(0);
    clippedSamplesShown = 0;
    inputPeak.store(0.0f);
    resetPeakMarker();
    InvalidateRect(levelMeter, nullptr, TRUE);
    try {
        std::thread(recordAudio, outputPath, mainWindow).detach();
    } catch (const std::system_error&) {
        captureActive.store(false);
        return false;
    }
    return true;
}

LRESULT CALLBACK MainWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            createControls(hwnd);
            mainWindow = hwnd;
            return 0;
        case WM_DESTROY:
            shutDown();
            return 0;
        case WM_NCDESTROY:
            // The controls are gone by now, so nothing uses the font any more.
            deleteMessageFont();
            return DefWindowProcW(hwnd, message, wParam, lParam);
        case WM_CLOSE:
            closeWindow(hwnd);
            return 0;
        case WM_DRAWITEM:
            return paintLevelMeter(wParam, lParam) || paintSpectrogramLabels(wParam, lParam);
        case WM_COMMAND:
            runCommand(hwnd, wParam);
            return 0;
        case WM_LEVEL_UPDATE:
            levelUpdated(hwnd);
            // Audio has just reached the writer: the time shown keeps up with bursts of it.
            refreshRecordingLineWhileRecording();
            return 0;
        case WM_RECORDING_STARTED:
            SetWindowTextW(statusLabel, recordingRunningText(outputPath).c_str());
            recordingLineStarted(hwnd);
            // The device's rate is known now, and the frequency labels follow it.
            InvalidateRect(frequencyLabels, nullptr, TRUE);
            SetEvent(displayWake);
            return 0;
        case WM_TIMER:
            if (wParam == RECORDING_LINE_TIMER) refreshRecordingLine();
            else if (wParam == PEAK_FALL_TIMER) peakFallTick(hwnd);
            return 0;
        case WM_EXPORT_PROGRESS:
            exportProgressed(wParam, lParam);
            return 0;
        case WM_EXPORT_FINISHED:
            exportFinished(wParam, lParam);
            return 0;
        case WM_CTLCOLORSTATIC:
            if (HBRUSH brush = colourReadout(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)))
                return reinterpret_cast<LRESULT>(brush);
            return DefWindowProcW(hwnd, message, wParam, lParam);
        case WM_WINDOWPOSCHANGED:
            // Moved, restored or brought back to the top: the surfaces' pictures may need drawing again.
            SetEvent(displayWake);
            return DefWindowProcW(hwnd, message, wParam, lParam);
        case WM_RECORDING_SAVED:
            // The last packets' picture, drawn before the display rests.
            SetEvent(displayWake);
            recordingSaved(hwnd, wParam, lParam);
            return 0;
        case WM_ACTIVATE:
            // Back from a dialog or another program: whatever covered the surfaces has gone.
            SetEvent(displayWake);
            keepFocusAcrossActivation(hwnd, wParam);
            return 0;
        case DM_GETDEFID:
            return defaultButtonOf(hwnd);
        default:
            return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}
