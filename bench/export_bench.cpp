// A console host for the MP3 export, used by the export benchmark and by the checks that decode
// its output with Linux tools:
//   export_bench tone WAV SECONDS RATE CHANNELS LEFT_HZ RIGHT_HZ   writes a sine WAV
//   export_bench export WAV MP3 [THREADS]                           exports it, as the program does
//                                                                   (on THREADS threads; 1: one pass)
// Message boxes the export shows are dismissed and their texts printed; the exit status is 1
// when one appeared.
#include <windows.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "export/mp3_export.h"
#include "export/parallel_export.h"
#include "recording/wav_header.h"

namespace {

std::atomic<int> dismissedBoxes{0};

// Dismisses one dialog of this process and prints its text; keeps enumerating.
BOOL CALLBACK dismissOwnDialog(HWND window, LPARAM) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    if (processId != GetCurrentProcessId() || std::wstring(className) != L"#32770") return TRUE;
    wchar_t text[512] = {};
    if (GetDlgItemTextW(window, 0xFFFF, text, 512) == 0) return TRUE;  // not built yet
    std::printf("message: %ls\n", text);
    std::fflush(stdout);
    PostMessageW(window, WM_COMMAND, IDOK, 0);
    ++dismissedBoxes;
    return TRUE;
}

// Watches for message boxes until stop is raised.
void watchMessageBoxes(const std::atomic<bool>& stop) {
    while (!stop) {
        EnumWindows(dismissOwnDialog, 0);
        Sleep(5);
    }
}

// Writes a 16-bit sine WAV with the program's own header: left and right at their own pitch.
int writeToneWav(const std::wstring& path, double seconds, int32_t rate, int32_t channels, double leftHz,
                 double rightHz) {
    const uint64_t frames = static_cast<uint64_t>(seconds * rate);
    std::vector<int16_t> samples(frames * static_cast<uint64_t>(channels));
    for (uint64_t frame = 0; frame < frames; ++frame) {
        for (int32_t channel = 0; channel < channels; ++channel) {
            const double hz = channel == 0 ? leftHz : rightHz;
            const double value = 0.5 * std::sin(2.0 * 3.14159265358979323846 * hz * frame / rate);
            samples[frame * channels + channel] = static_cast<int16_t>(value * 32767.0);
        }
    }
    std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
    const uint32_t dataBytes = static_cast<uint32_t>(samples.size() * 2);
    writeWavHeader(out, rate, 16, channels, dataBytes, false);
    out.write(reinterpret_cast<const char*>(samples.data()), dataBytes);
    out.close();
    return out.fail() ? 2 : 0;
}

// Runs one export the way the program does (a tracked export thread, waited for before exit).
int runExport(const std::wstring& wavPath, const std::wstring& mp3Path) {
    std::atomic<bool> stop{false};
    std::thread watcher(watchMessageBoxes, std::cref(stop));
    const bool started = startExport(mp3Path, wavPath);
    waitForRunningExports();
    stop = true;
    watcher.join();
    if (!started) {
        std::printf("error: the export thread could not be started\n");
        return 2;
    }
    return dismissedBoxes > 0 ? 1 : 0;
}

}  // namespace

// Parses the command line and runs one command.
int wmain(int argc, wchar_t** argv) {
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"tone" && argc == 8) {
        return writeToneWav(argv[2], std::wcstod(argv[3], nullptr), std::wcstol(argv[4], nullptr, 10),
                            std::wcstol(argv[5], nullptr, 10), std::wcstod(argv[6], nullptr),
                            std::wcstod(argv[7], nullptr));
    }
    if (command == L"export" && (argc == 4 || argc == 5)) {
        if (argc == 5) exportThreads = static_cast<uint32_t>(std::wcstoul(argv[4], nullptr, 10));
        return runExport(argv[2], argv[3]);
    }
    std::fprintf(stderr,
                 "usage: export_bench tone WAV SECONDS RATE CHANNELS LEFT_HZ RIGHT_HZ\n"
                 "       export_bench export WAV MP3 [THREADS]\n");
    return 64;
}
