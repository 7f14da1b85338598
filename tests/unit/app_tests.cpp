// Application shell: the save dialog and the main window procedure, driven through a real
// window, real controls and the real common dialog under Wine.
#include <gtest/gtest.h>

#include <windows.h>
#include <commdlg.h>

#include <GLFW/glfw3.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/appearance.h"
#include "app/controls.h"
#include "app/readout_lines.h"
#include "app/readouts.h"
#include "app/save_dialog.h"
#include "app/startup.h"
#include "app/window_proc.h"
#include "display/gl_surface.h"
#include "dialog_driver.h"
#include "export/export_progress.h"
#include "recording/live_state.h"
#include "temp_dir.h"

namespace {

// Runs the window's messages for about ms milliseconds.
void pumpMessages(DWORD ms) {
    const ULONGLONG deadline = GetTickCount64() + ms;
    MSG msg;
    while (GetTickCount64() < deadline) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(5);
    }
}

HWND createMainWindow() {
    static const ATOM atom = [] {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = MainWndProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        windowClass.lpszClassName = L"VoxtrelApp";
        return RegisterClassW(&windowClass);
    }();
    EXPECT_NE(atom, 0);
    HWND window = CreateWindowExW(0, L"VoxtrelApp", L"Voxtrel with FFT", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 1200, 1400, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ShowWindow(window, SW_SHOW);
    return window;
}

std::wstring windowText(HWND window) {
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

std::wstring className(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

void fillTraces() {
    { std::lock_guard<std::mutex> g(waveformMutex); waveformLeft.assign(100, 5); }
    { std::lock_guard<std::mutex> g(spectrumMutex); spectrumData.assign(4096, 0.5f); }
}

size_t waveformSize() { std::lock_guard<std::mutex> g(waveformMutex); return waveformLeft.size(); }
size_t spectrumSize() { std::lock_guard<std::mutex> g(spectrumMutex); return spectrumData.size(); }

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        isRecording.store(false);
        captureActive.store(false);
        stopRequested.store(false);
        outputPath = L"output.wav";
        window = createMainWindow();
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override {
        captureActive.store(false);
        if (IsWindow(window)) DestroyWindow(window);
        pumpMessages(10);
    }
    HWND window = nullptr;
};

}  // namespace

TEST(SaveDialog, RecordCarriesTheFixedSettings) {
    wchar_t buffer[SAVE_PATH_CAPACITY] = {};
    const OPENFILENAMEW record = makeSaveDialogRecord(reinterpret_cast<HWND>(0x1234), buffer);
    EXPECT_EQ(record.lStructSize, 152u);
    EXPECT_EQ(record.hwndOwner, reinterpret_cast<HWND>(0x1234));
    EXPECT_EQ(record.Flags, 0x802u);
    EXPECT_EQ(record.nMaxFile, 260u);
    EXPECT_EQ(record.lpstrFile, buffer);
    EXPECT_EQ(record.nFilterIndex, 0u);
    EXPECT_EQ(record.lpstrDefExt, nullptr);
    EXPECT_EQ(record.lpstrInitialDir, nullptr);
    EXPECT_EQ(record.lpstrTitle, nullptr);
    EXPECT_EQ(record.lpstrCustomFilter, nullptr);
    EXPECT_EQ(record.lpstrFileTitle, nullptr);

    const wchar_t* filter = saveDialogFilter();
    std::vector<std::wstring> parts;
    while (*filter) {
        parts.emplace_back(filter);
        filter += parts.back().size() + 1;
    }
    EXPECT_EQ(parts, (std::vector<std::wstring>{L"Audio Files", L"*.wav;*.mp3", L"All Files", L"*.*"}));
}

TEST(SaveDialog, ReturnsTheTypedPathUnchangedOrEmptyWhenCancelled) {
    TempDir dir;
    const std::wstring typed = dir.wideFile(L"take one");  // no extension
    struct Case {
        const char* name;
        bool submit;
        std::wstring expected;
    } cases[] = {{"typed name without extension", true, typed}, {"cancelled", false, L""}};
    HWND owner = createMainWindow();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<bool> driven{false};
        std::thread user([&] {
            HWND dialog = waitForDialog(owner, 10000);
            if (!dialog) return;
            EXPECT_FALSE(IsWindowEnabled(owner)) << "the owner is disabled while the dialog is up";
            driven = c.submit ? submitSaveDialog(dialog, typed) : (cancelDialog(dialog), true);
        });
        const std::wstring chosen = chooseSaveFile(owner);
        user.join();
        EXPECT_TRUE(driven.load());
        EXPECT_EQ(chosen, c.expected);
    }
    DestroyWindow(owner);
}

TEST_F(MainWindowTest, CreatesTheControlsAtTheirPlacesInTheMessageFont) {
    struct Expected {
        int id;
        const wchar_t* cls;
        const wchar_t* text;
        LONG style;
        RECT rect;
    } controls[] = {
        {1, L"Button", L"Start Recording", 0x50010000, {20, 20, 160, 50}},
        {2, L"Button", L"Stop", 0x50010000, {180, 20, 260, 50}},
        {10, L"Button", L"Export MP3", 0x50010000, {270, 20, 360, 50}},
        {0, L"Static", L"Ready", 0x50000080, {20, 60, 1180, 80}},  // SS_NOPREFIX: a path's "&" shows
        {3, L"Static", L"", 0x5000000D, {20, 136, 1180, 176}},
        {1101, L"Static", L"", 0x50000000, {20, 186, 1180, 266}},
        {1102, L"Static", L"", 0x50000000, {80, 276, 1180, 476}},
        {1103, L"Static", L"", 0x5000000D, {20, 276, 80, 476}},
        {1104, L"Static", L"", 0x5000000D, {80, 478, 1180, 496}},
        {4, L"Static", L"", 0x50000080, {20, 84, 1180, 104}},
        {5, L"msctls_progress32", L"", 0x40000000, {20, 108, 260, 128}},
        {6, L"Static", L"", 0x50004080, {270, 108, 1180, 128}},
    };
    EXPECT_EQ(mainWindow, window);
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0));
    for (const Expected& e : controls) {
        SCOPED_TRACE(e.id);
        HWND control = GetDlgItem(window, e.id);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(_wcsicmp(className(control).c_str(), e.cls), 0) << std::string(className(control).begin(), className(control).end());
        EXPECT_EQ(windowText(control), e.text);
        EXPECT_EQ(GetWindowLongW(control, GWL_STYLE), e.style);
        RECT r;
        GetWindowRect(control, &r);
        MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&r), 2);
        EXPECT_EQ(r.left, e.rect.left);
        EXPECT_EQ(r.top, e.rect.top);
        EXPECT_EQ(r.right, e.rect.right);
        EXPECT_EQ(r.bottom, e.rect.bottom);
        // Every control has the system's message font, not the bold system font.
        LOGFONTW font{};
        HFONT handle = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
        ASSERT_EQ(GetObjectW(handle, sizeof font, &font), static_cast<int>(sizeof font));
        EXPECT_EQ(std::wstring(font.lfFaceName), metrics.lfMessageFont.lfFaceName);
        EXPECT_EQ(font.lfHeight, metrics.lfMessageFont.lfHeight);
        EXPECT_EQ(font.lfWeight, metrics.lfMessageFont.lfWeight);
    }
    EXPECT_EQ(statusLabel, GetDlgItem(window, 0));
    EXPECT_EQ(levelMeter, GetDlgItem(window, 3));
}

TEST(Layout, ButtonsGrowToTheirTextsAndLinesToTheFont) {
    // The table's own sizes: each control with the text width and line height it is measured at.
    const ControlSpec* controls = mainWindowControls();
    TextMeasures wide{std::vector<int>(CONTROL_COUNT, 0), 22};
    wide.textWidths[0] = 150;  // "Start Recording" needs 174 of its 140 pixels
    const std::vector<RECT> rects = fitControls(controls, CONTROL_COUNT, wide);
    const struct {
        int index;
        RECT rect;
    } cases[] = {
        {0, {20, 20, 194, 50}},     // widened
        {1, {214, 20, 294, 50}},    // pushed along by as much
        {2, {304, 20, 394, 50}},
        {3, {20, 60, 1180, 82}},    // the status line as tall as the font
        {4, {20, 136, 1180, 176}},  // the meter keeps its place
        {9, {20, 84, 1180, 106}},   // the recording line
        {11, {270, 108, 1180, 130}},  // the export's text
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.index);
        EXPECT_EQ(rects[c.index].left, c.rect.left);
        EXPECT_EQ(rects[c.index].top, c.rect.top);
        EXPECT_EQ(rects[c.index].right, c.rect.right);
        EXPECT_EQ(rects[c.index].bottom, c.rect.bottom);
    }
    // A line never grows into the next row.
    EXPECT_EQ(fitControls(controls, CONTROL_COUNT, TextMeasures{{}, 40})[3].bottom, 84);

    // The real message font at 100 % and at 150 % text scaling: every text fits its control.
    for (int percent : {100, 150}) {
        SCOPED_TRACE(percent);
        HFONT font = createMessageFont(percent);
        ASSERT_NE(font, nullptr);
        const TextMeasures measures = measureTexts(controls, CONTROL_COUNT, font);
        const std::vector<RECT> fitted = fitControls(controls, CONTROL_COUNT, measures);
        for (int i = 0; i < CONTROL_COUNT; ++i) {
            if (!controls[i].text) continue;
            EXPECT_GE(fitted[i].right - fitted[i].left, measures.textWidths[i] + 8) << i;
            EXPECT_GE(fitted[i].bottom - fitted[i].top, measures.lineHeight) << i;
        }
        EXPECT_GT(measures.textWidths[0], 40);
        for (int i = 0; i + 1 < 3; ++i) EXPECT_LT(fitted[i].right, fitted[i + 1].left);
        DeleteObject(font);
    }
}

TEST(StatusText, SaysHowTheRecordingEndedAndWhatTheFileHolds) {
    const std::wstring path = L"C:\\takes\\f\u00fcr M\u00fcller.wav";
    const struct {
        WPARAM outcome;
        uint64_t keptMs;
        std::wstring text;
    } cases[] = {
        {RECORDING_SAVED, 4000, L"Saved to: " + path},
        {RECORDING_NO_DEVICE, 0, L"Nothing recorded: no audio capture device was found. No file was created."},
        {RECORDING_DEVICE_FAILED, 0,
         L"Nothing recorded: the audio capture device could not be started. No file was created."},
        {RECORDING_FORMAT_UNSUPPORTED, 0,
         L"Nothing recorded: the capture device's sample format is not supported. No file was created."},
        {RECORDING_FILE_NOT_CREATED, 0, L"Nothing recorded: the file could not be opened for writing: " + path},
        {RECORDING_WRITE_FAILED, 12345,
         L"Recording stopped early: writing to the file failed. 12.3 s of audio kept in: " + path},
        {RECORDING_DEVICE_LOST, 61000,
         L"Recording stopped early: the capture device went away. 1:01 of audio kept in: " + path},
        {RECORDING_SIZE_LIMIT, 22369621,
         L"Recording stopped at the 4 GiB limit of a WAV file. 6:12:49 of audio kept in: " + path},
        {RECORDING_NO_AUDIO, 0,
         L"Nothing recorded: no audio arrived from the capture device. The file holds no audio: " + path},
        {RECORDING_ACCESS_DENIED, 0,
         L"Nothing recorded: Windows does not let this program use the microphone. Turn on \"Let desktop apps "
         L"access your microphone\" in Settings > Privacy > Microphone. No file was created."},
        {RECORDING_DEVICE_IN_USE, 0,
         L"Nothing recorded: another program holds the capture device for itself (exclusive mode), such as a "
         L"call or audio program. Close it, then try again. No file was created."},
    };
    for (const auto& c : cases) EXPECT_EQ(recordingStatusText(c.outcome, path, c.keptMs), c.text) << c.outcome;
}

TEST(StatusText, ARecordingWithGapsSaysHowManyAndHowMuchIsMissing) {
    const std::wstring path = L"C:\\takes\\gappy.wav";
    const struct {
        WPARAM outcome;
        uint64_t keptMs;
        RecordingGaps gaps;
        std::wstring text;
    } cases[] = {
        {RECORDING_SAVED, 9000, {0, 0, false}, L"Saved to: " + path},
        {RECORDING_SAVED, 9000, {1, 5200, false}, L"Saved with 1 gap (5.2 s of audio missing) to: " + path},
        {RECORDING_SAVED, 9000, {3, 1500, true}, L"Saved with 3 gaps (at least 1.5 s of audio missing) to: " + path},
        {RECORDING_SAVED, 9000, {1, 0, true}, L"Saved with 1 gap (length unknown) to: " + path},
        {RECORDING_SAVED, 9000, {1, 10, false}, L"Saved with 1 gap (10 ms of audio missing) to: " + path},
        {RECORDING_WRITE_FAILED, 12345, {2, 61000, false},
         L"Recording stopped early: writing to the file failed. 12.3 s of audio, with 2 gaps (1:01 of audio "
         L"missing), kept in: " + path},
    };
    for (const auto& c : cases) EXPECT_EQ(recordingStatusText(c.outcome, path, c.keptMs, c.gaps), c.text);
}

TEST(StatusText, DurationsReadAsAPersonWouldSayThem) {
    const struct {
        uint64_t ms;
        const wchar_t* text;
    } cases[] = {{0, L"0 ms"},       {99, L"99 ms"},       {100, L"0.1 s"},           {950, L"0.9 s"},
                 {59999, L"59.9 s"},
                 {60000, L"1:00"},   {3599999, L"59:59"}, {3600000, L"1:00:00"},     {36061000, L"10:01:01"}};
    for (const auto& c : cases) EXPECT_EQ(durationText(c.ms), c.text) << c.ms;
}

TEST(Readouts, TimeSizeAndTimeLeftReadAsARecorderShowsThem) {
    const struct {
        uint64_t ms;
        const wchar_t* text;
    } clocks[] = {{0, L"0:00:00.0"}, {99, L"0:00:00.0"}, {754567, L"0:12:34.5"}, {36061999, L"10:01:01.9"}};
    for (const auto& c : clocks) EXPECT_EQ(clockText(c.ms), c.text) << c.ms;
    const struct {
        uint64_t bytes;
        const wchar_t* text;
    } sizes[] = {{44, L"0.0 MB"},           {104858, L"0.1 MB"},           {144912044, L"138.1 MB"},
                 {1073741823, L"1023.9 MB"}, {1073741824, L"1.00 GB"},       {4294967295, L"3.99 GB"}};
    for (const auto& c : sizes) EXPECT_EQ(fileSizeText(c.bytes), c.text) << c.bytes;
    const struct {
        uint64_t seconds;
        const wchar_t* text;
    } lefts[] = {{0, L"0 s"},        {59, L"59 s"},      {252, L"4 min 12 s"}, {599, L"9 min 59 s"},
                 {600, L"10 min"},   {2549, L"42 min"},  {3569, L"59 min"},    {3570, L"1 h 0 min"},
                 {20400, L"5 h 40 min"}};
    for (const auto& c : lefts) EXPECT_EQ(timeLeftText(c.seconds), c.text) << c.seconds;
    EXPECT_EQ(secondsUntilFull(1000, 200, 100), 8u);
    EXPECT_EQ(secondsUntilFull(1000, 1200, 100), 0u) << "already past the limit";
    EXPECT_EQ(secondsUntilFull(1000, 0, 0), 0u) << "no rate";
}

TEST(Readouts, TheRecordingLineCountsDownToWhicheverEndComesFirst) {
    constexpr uint32_t rate = 192000;  // 48000 Hz stereo
    constexpr uint64_t unknown = UINT64_MAX;
    const struct {
        const char* name;
        RecordingFigures figures;
        std::wstring text;
        bool warning;
    } cases[] = {
        {"format not known yet", {0, 0, 0, unknown}, L"", false},
        {"hours on disk", {rate, rate * 754ull + 96000, rate * 754ull + 96000, rate * 754ull + rate * 20400ull},
         L"0:12:34.5   138.1 MB   5 h 40 min left on disk", false},
        {"the disk nearly full", {rate, rate * 10ull, rate * 10ull, rate * 262ull},
         L"0:00:10.0   1.8 MB   Disk almost full: only 4 min 12 s left", true},
        {"the disk full", {rate, rate * 10ull, rate * 10ull, rate * 5ull},
         L"0:00:10.0   1.8 MB   Disk almost full: only 0 s left", true},
        {"no reading of the disk", {rate, 0, 0, unknown},
         L"0:00:00.0   0.0 MB   6 h 13 min left before the 4 GiB limit of a WAV file", false},
        {"the WAV limit before the disk", {rate, 4200000000ull, 4200000000ull, unknown - 1},
         L"6:04:35.0   3.91 GB   Near the 4 GiB limit of a WAV file: only 8 min 14 s left", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const RecordingLine line = recordingLine(c.figures);
        EXPECT_EQ(line.text, c.text);
        EXPECT_EQ(line.warning, c.warning);
    }
    EXPECT_EQ(recordedLine(754567, 144912044), L"0:12:34.5   138.1 MB");
}

TEST(Readouts, EveryExportReachesItsEndInTheLineNewestFirst) {
    std::vector<ExportEntry> exports;
    EXPECT_EQ(exportBarPermille(exports), -1) << "no bar before the first export";
    // Each step: what arrives, then the line and the bar.
    const struct {
        char what;  // s: started, p: progress, f: finished
        WPARAM id;
        LPARAM value;
        bool known;
        std::wstring line;
        int bar;
    } steps[] = {
        {'s', 1, 0, true, L"Exporting 0 %: a.mp3", 0},
        {'p', 1, 456, true, L"Exporting 45 %: a.mp3", 456},
        {'s', 2, 0, true, L"Exporting 0 %: b.mp3   Exporting 45 %: a.mp3", 0},
        {'p', 2, 2000, true, L"Exporting 100 %: b.mp3   Exporting 45 %: a.mp3", 1000},
        {'p', 9, 10, false, L"Exporting 100 %: b.mp3   Exporting 45 %: a.mp3", 1000},
        {'f', 2, 3723000, true, L"Exported to: b.mp3 (1:02:03)   Exporting 45 %: a.mp3", 456},
        // The older one ends after the newer: both ends stay in the line.
        {'f', 1, EXPORT_FAILED, true, L"Exported to: b.mp3 (1:02:03)   Export failed: a.mp3", 1000},
        {'p', 1, 700, false, L"Exported to: b.mp3 (1:02:03)   Export failed: a.mp3", 1000},
        // A new start drops the ends already told.
        {'s', 3, 0, true, L"Exporting 0 %: c.mp3", 0},
        {'f', 3, 50, true, L"Exported to: c.mp3 (50 ms)", 1000},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(testing::Message() << step.what << step.id);
        bool known = true;
        if (step.what == 's') addStartedExport(exports, step.id, std::wstring(1, wchar_t(L'a' + step.id - 1)) + L".mp3");
        if (step.what == 'p') known = applyExportProgress(exports, step.id, step.value);
        if (step.what == 'f') known = applyExportFinished(exports, step.id, step.value);
        EXPECT_EQ(known, step.known);
        EXPECT_EQ(exportLineText(exports), step.line);
        EXPECT_EQ(exportBarPermille(exports), step.bar);
    }
    ExportEntry failedFirst{7, L"d.mp3", ExportState::Failed, 300, 0};
    EXPECT_EQ(exportBarPermille({failedFirst}), 0) << "a failed export leaves no full bar";
}

TEST_F(MainWindowTest, TheStatusSaysWhereARecordingGoesWhileItRuns) {
    outputPath = L"C:\\takes\\second.wav";
    SetWindowTextW(statusLabel, L"Saved to: C:\\takes\\first.wav");
    isRecording.store(true);
    EXPECT_EQ(SendMessageW(window, WM_RECORDING_STARTED, 0, 0), 0);
    EXPECT_EQ(windowText(statusLabel), L"Recording to: C:\\takes\\second.wav");
    EXPECT_TRUE(isRecording.load()) << "the start changes no flag";
    // "Stop" while the worker still finishes the file: it no longer records.
    captureActive.store(true);
    EXPECT_EQ(SendMessageW(window, WM_COMMAND, MAKEWPARAM(ID_STOP, BN_CLICKED), 0), 0);
    EXPECT_EQ(windowText(statusLabel), L"Finishing the recording: C:\\takes\\second.wav");
    captureActive.store(false);
    EXPECT_EQ(SendMessageW(window, WM_RECORDING_SAVED, RECORDING_SAVED, 500), 0);
    EXPECT_EQ(windowText(statusLabel), L"Saved to: C:\\takes\\second.wav");
}

TEST_F(MainWindowTest, TheRecordingLineFollowsTheRecording) {
    constexpr uint64_t rate = 96000;  // 48000 Hz mono
    recordingBytesPerSecond.store(rate);
    recordingBytesQueued.store(rate * 3);
    recordingBytesOnDisk.store(rate * 3);
    recordingDiskLimitBytes.store(rate * 3 + rate * 7200);
    isRecording.store(true);
    SendMessageW(window, WM_RECORDING_STARTED, 0, 0);
    EXPECT_EQ(windowText(recordingInfoLabel), L"0:00:03.0   0.2 MB   2 h 0 min left on disk");
    HDC dc = GetDC(recordingInfoLabel);
    const auto colourOf = [&](HWND control) {
        const LRESULT brush = SendMessageW(window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                           reinterpret_cast<LPARAM>(control));
        EXPECT_EQ(brush, reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW)));
        return GetTextColor(dc);
    };
    EXPECT_EQ(colourOf(recordingInfoLabel), GetSysColor(COLOR_WINDOWTEXT));
    // Audio that reaches the writer shows at once, a burst of it too.
    recordingBytesQueued.store(rate * 4);
    SendMessageW(window, WM_LEVEL_UPDATE, 0, 0);
    EXPECT_EQ(windowText(recordingInfoLabel), L"0:00:04.0   0.2 MB   2 h 0 min left on disk");

    // The disk nearly full: a tick of the timer later the line warns, in words and in red.
    recordingDiskLimitBytes.store(rate * 4 + rate * 30);
    const std::wstring warning = L"0:00:04.0   0.2 MB   Disk almost full: only 30 s left";
    for (ULONGLONG end = GetTickCount64() + 5000; windowText(recordingInfoLabel) != warning && GetTickCount64() < end;)
        pumpMessages(50);
    EXPECT_EQ(windowText(recordingInfoLabel), warning);
    EXPECT_EQ(colourOf(recordingInfoLabel), RGB(200, 0, 0));
    EXPECT_EQ(colourOf(statusLabel), GetSysColor(COLOR_WINDOWTEXT)) << "only the recording line warns";

    // Its end leaves the length and size of the file; a run that made no file leaves nothing.
    SendMessageW(window, WM_RECORDING_SAVED, RECORDING_SAVED, 3000);
    EXPECT_EQ(windowText(recordingInfoLabel), L"0:00:03.0   0.2 MB");
    EXPECT_EQ(colourOf(recordingInfoLabel), GetSysColor(COLOR_WINDOWTEXT));
    recordingBytesQueued.store(rate * 5);
    SendMessageW(window, WM_LEVEL_UPDATE, 0, 0);
    pumpMessages(2 * RECORDING_LINE_REFRESH_MS);
    EXPECT_EQ(windowText(recordingInfoLabel), L"0:00:03.0   0.2 MB") << "the refreshing stopped";
    SendMessageW(window, WM_RECORDING_SAVED, RECORDING_NO_DEVICE, 0);
    EXPECT_EQ(windowText(recordingInfoLabel), L"");
    ReleaseDC(recordingInfoLabel, dc);
    recordingBytesPerSecond.store(0);
}

TEST_F(MainWindowTest, RecordingSavedTellsTheOutcomeAndReturnsToIdle) {
    outputPath = L"C:\\takes\\first.wav";
    const struct {
        WPARAM outcome;
        LPARAM keptMs;
    } ends[] = {{RECORDING_SAVED, 3000}, {RECORDING_NO_DEVICE, 0}, {RECORDING_WRITE_FAILED, 1500}};
    for (const auto& end : ends) {
        isRecording.store(true);
        EXPECT_EQ(SendMessageW(window, WM_RECORDING_SAVED, end.outcome, end.keptMs), 0);
        EXPECT_EQ(windowText(statusLabel), recordingStatusText(end.outcome, outputPath, end.keptMs));
        EXPECT_FALSE(isRecording.load());
    }
    EXPECT_EQ(windowText(statusLabel).rfind(L"Recording stopped early", 0), 0u);
}

TEST_F(MainWindowTest, RecordingSavedTellsTheGapsTheWorkerPublished) {
    outputPath = L"C:\\takes\\second.wav";
    lastRecordingGaps.store(2);
    lastRecordingMissingMs.store(1500);
    lastRecordingGapLengthUnknown.store(false);
    isRecording.store(true);
    SendMessageW(window, WM_RECORDING_SAVED, RECORDING_SAVED, 9000);
    EXPECT_EQ(windowText(statusLabel), L"Saved with 2 gaps (1.5 s of audio missing) to: C:\\takes\\second.wav");
    lastRecordingGaps.store(0);
    lastRecordingMissingMs.store(0);
    SendMessageW(window, WM_RECORDING_SAVED, RECORDING_SAVED, 9000);
    EXPECT_EQ(windowText(statusLabel), L"Saved to: C:\\takes\\second.wav");
}

TEST_F(MainWindowTest, StopActsWhateverTheNotificationCode) {
    isRecording.store(true);
    EXPECT_EQ(SendMessageW(window, WM_COMMAND, MAKEWPARAM(ID_STOP, BN_DOUBLECLICKED), 0), 0);
    EXPECT_FALSE(isRecording.load());
    EXPECT_TRUE(stopRequested.load());
    EXPECT_EQ(SendMessageW(window, WM_COMMAND, MAKEWPARAM(77, 0), 0), 0);
    EXPECT_EQ(windowText(statusLabel), L"Ready");
}

TEST_F(MainWindowTest, StartIsRefusedWhileACaptureIsSettingUpRunningOrFinishing) {
    struct State {
        bool recording, active;
    } states[] = {{false, true}, {true, true}, {true, false}};
    for (const State& s : states) {
        SCOPED_TRACE(testing::Message() << s.recording << s.active);
        isRecording.store(s.recording);
        captureActive.store(s.active);
        fillTraces();
        PostMessageW(GetDlgItem(window, ID_START_RECORDING), BM_CLICK, 0, 0);
        pumpMessages(300);
        EXPECT_EQ(waitForDialog(window, 0), nullptr);
        EXPECT_EQ(waveformSize(), 100u) << "a refused start leaves the traces";
        EXPECT_EQ(spectrumSize(), 4096u);
    }
}

TEST_F(MainWindowTest, ACancelledStartClearsBothTracesAndNothingElse) {
    fillTraces();
    std::thread user([&] {
        HWND dialog = waitForDialog(window, 10000);
        ASSERT_NE(dialog, nullptr);
        cancelDialog(dialog);
    });
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(ID_START_RECORDING, BN_CLICKED), 0);
    user.join();
    EXPECT_EQ(waveformSize(), 0u);
    EXPECT_EQ(spectrumSize(), 0u);
    EXPECT_EQ(outputPath, L"output.wav");
    EXPECT_FALSE(captureActive.load());
    EXPECT_FALSE(isRecording.load());
    EXPECT_EQ(windowText(statusLabel), L"Ready");
}

namespace {

// The status line's text at the moment the main window receives WM_DESTROY.
std::wstring statusAtDestroy;

// Notes the status line's text when the main window is being destroyed.
LRESULT CALLBACK noteStatusAtDestroy(int code, WPARAM wParam, LPARAM lParam) {
    const CWPSTRUCT* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && call->message == WM_DESTROY && call->hwnd == mainWindow) statusAtDestroy = windowText(statusLabel);
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

TEST_F(MainWindowTest, ACloseDuringACaptureIsCarriedOutOnceTheCaptureHasReported) {
    outputPath = L"C:\\takes\\closing.wav";
    isRecording.store(true);
    captureActive.store(true);
    EXPECT_EQ(SendMessageW(window, WM_CLOSE, 0, 0), 0);
    EXPECT_TRUE(IsWindow(window)) << "the window stays while the worker finishes";
    EXPECT_FALSE(isRecording.load());
    EXPECT_TRUE(stopRequested.load());

    // Meanwhile the buttons open no dialog that would keep the window open.
    captureActive.store(false);
    PostMessageW(GetDlgItem(window, ID_EXPORT_MP3), BM_CLICK, 0, 0);
    PostMessageW(GetDlgItem(window, ID_START_RECORDING), BM_CLICK, 0, 0);
    pumpMessages(300);
    EXPECT_EQ(waitForDialog(window, 0), nullptr);
    EXPECT_TRUE(IsWindow(window));

    // The worker lowers captureActive, then reports: the status is set, then the window closes.
    statusAtDestroy.clear();
    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, noteStatusAtDestroy, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    EXPECT_EQ(SendMessageW(window, WM_RECORDING_SAVED, RECORDING_SAVED, 1000), 0);
    UnhookWindowsHookEx(hook);
    EXPECT_FALSE(IsWindow(window)) << "the close was not carried out";
    EXPECT_EQ(statusAtDestroy, L"Saved to: C:\\takes\\closing.wav");
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "destroy posts the quit message";
    EXPECT_EQ(msg.wParam, 0u);
    EXPECT_FALSE(renderRunning.load());
    renderRunning.store(true);
}

TEST_F(MainWindowTest, ACloseWithoutACaptureDestroysAtOnceAndAReportLaterClosesNothing) {
    // A recording that ends without a close leaves the window open.
    captureActive.store(false);
    EXPECT_EQ(SendMessageW(window, WM_RECORDING_SAVED, RECORDING_SAVED, 1000), 0);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(SendMessageW(window, WM_CLOSE, 0, 0), 0);
    EXPECT_FALSE(IsWindow(window));
    MSG msg;
    EXPECT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    renderRunning.store(true);
}

TEST_F(MainWindowTest, OwnerDrawForAnotherControlAndLevelUpdates) {
    DRAWITEMSTRUCT item{};
    item.CtlID = 5;
    EXPECT_EQ(SendMessageW(window, WM_DRAWITEM, 5, reinterpret_cast<LPARAM>(&item)), 0);
    ValidateRect(levelMeter, nullptr);
    EXPECT_EQ(SendMessageW(window, WM_LEVEL_UPDATE, 0, 0), 0);
    // A level repaints the bar's rows of the scale's width; the scale under it stays.
    RECT dirty;
    EXPECT_TRUE(GetUpdateRect(levelMeter, &dirty, FALSE));
    EXPECT_EQ(dirty.left, 0);
    EXPECT_EQ(dirty.right, 1160 - 110 - 8);
    EXPECT_EQ(dirty.bottom, 18);
    // A new clipped sample repaints the clip indicator at the right end too.
    ValidateRect(levelMeter, nullptr);
    clippedSamples.store(5);
    EXPECT_EQ(SendMessageW(window, WM_LEVEL_UPDATE, 0, 0), 0);
    EXPECT_TRUE(GetUpdateRect(levelMeter, &dirty, FALSE));
    EXPECT_EQ(dirty.right, 1160);
    EXPECT_EQ(dirty.bottom, 40);
    clippedSamples.store(0);
}

TEST_F(MainWindowTest, ClosingWhileTheMissingSpectrumIsReportedEndsStartUpWithoutARenderThread) {
    ASSERT_EQ(glfwInit(), GLFW_TRUE);
    // With its host gone, the spectrum surface cannot be created, and start-up says so in a box.
    DestroyWindow(spectrumHost);
    std::atomic<bool> boxShown{false};
    const DWORD uiThread = GetCurrentThreadId();
    std::thread user([&] {
        HWND box = waitForThreadDialog(uiThread, 20000, L"Error");
        if (!box) return;
        boxShown = messageBoxText(box) == L"Failed to create Spectrum GL window";
        // The user closes the main window while the box is still up.
        PostMessageW(window, WM_CLOSE, 0, 0);
    });
    embedSurfacesAndStartRendering();
    user.join();
    EXPECT_TRUE(boxShown.load());
    EXPECT_FALSE(IsWindow(window)) << "the close was not handled while the box was up";
    EXPECT_FALSE(renderThread.joinable()) << "a render thread was started after the shutdown";
    MSG msg;
    EXPECT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the program would not end";
    renderRunning.store(true);
}

TEST_F(MainWindowTest, StartUpEmbedsBothSurfacesAndTheCloseJoinsTheRenderThread) {
    ASSERT_EQ(glfwInit(), GLFW_TRUE);
    embedSurfacesAndStartRendering();
    EXPECT_NE(waveformSurface, nullptr);
    EXPECT_NE(spectrumSurface, nullptr);
    EXPECT_TRUE(renderThread.joinable());
    EXPECT_EQ(SendMessageW(window, WM_CLOSE, 0, 0), 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(renderThread.joinable()) << "the destroy did not join the render thread";
    renderRunning.store(true);
}

namespace {

// Refuses, as Windows does across DPI awarenesses, to re-parent a window into the waveform host.
HWND WINAPI refuseTheWaveformHost(HWND child, HWND newParent) {
    return newParent == waveformHost ? nullptr : SetParent(child, newParent);
}

}  // namespace

TEST_F(MainWindowTest, AWaveformSurfaceThatCannotBeEmbeddedIsGoneAndToldOnce) {
    ASSERT_EQ(glfwInit(), GLFW_TRUE);
    // Every error box the UI thread shows, each read and dismissed once.
    std::vector<std::wstring> boxes;
    std::atomic<bool> startUpDone{false};
    const DWORD uiThread = GetCurrentThreadId();
    std::thread user([&] {
        std::vector<HWND> seen;
        while (!startUpDone.load()) {
            HWND box = waitForThreadDialog(uiThread, 50, L"Error");
            if (!box || std::find(seen.begin(), seen.end(), box) != seen.end()) continue;
            seen.push_back(box);
            boxes.push_back(messageBoxText(box));
            dismissMessageBox(box);
        }
    });
    reparentSurface = refuseTheWaveformHost;
    embedSurfacesAndStartRendering();
    reparentSurface = SetParent;
    startUpDone = true;
    user.join();

    EXPECT_EQ(boxes, (std::vector<std::wstring>{
                         L"The live waveform cannot be shown in the window. Recording and export still work."}));
    EXPECT_EQ(waveformSurface, nullptr) << "a surface outside its host is treated as missing";
    EXPECT_EQ(GetWindow(waveformHost, GW_CHILD), nullptr);
    ASSERT_NE(spectrumSurface, nullptr);
    EXPECT_NE(GetWindow(spectrumHost, GW_CHILD), nullptr);
    EXPECT_TRUE(renderThread.joinable()) << "the program goes on without the waveform";
    EXPECT_EQ(SendMessageW(window, WM_CLOSE, 0, 0), 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(renderThread.joinable());
    renderRunning.store(true);
    waveformSurface = nullptr;
    spectrumSurface = nullptr;
}

TEST_F(MainWindowTest, EnterWithNoButtonFocusedPressesNothing) {
    // The dialog manager would otherwise send IDOK, the id of Start Recording.
    SetFocus(window);
    const LRESULT none = SendMessageW(window, DM_GETDEFID, 0, 0);
    EXPECT_EQ(HIWORD(none), DC_HASDEFID);
    EXPECT_EQ(GetDlgItem(window, LOWORD(none)), nullptr) << "Enter would press control " << LOWORD(none);
    SetFocus(stopButton);
    EXPECT_EQ(SendMessageW(window, DM_GETDEFID, 0, 0), MAKELRESULT(ID_STOP, DC_HASDEFID));
}
