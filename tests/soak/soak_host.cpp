// Records the default capture device (the pipe source of run_soak.sh) for a given time as the
// program does, pumping a real window's queue, and reports the process's working set once a
// minute; then checks the WAV file by content against the known feed. Exit code 0 only when the
// recording is one run of fed frames with none lost, doubled or foreign.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "frame_check.h"
#include "recording/capture.h"
#include "recording/live_state.h"
#include "recording/wav_header.h"

namespace {

size_t levelUpdates = 0;
bool saved = false;

// Returns the working set of this process in KiB, as the system reports it.
unsigned long long workingSetKiB() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))) return 0;
    return counters.WorkingSetSize / 1024;
}

// Takes every waiting message off the window's queue, counting the worker's notifications.
void pump(HWND window) {
    MSG msg;
    while (PeekMessageW(&msg, window, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_LEVEL_UPDATE) ++levelUpdates;
        if (msg.message == WM_RECORDING_SAVED) saved = true;
    }
}

// Pumps the queue until `done` holds or `timeoutMs` passed; returns `done`'s last value.
template <typename Done>
bool pumpUntil(HWND window, DWORD timeoutMs, Done done) {
    for (ULONGLONG end = GetTickCount64() + timeoutMs; GetTickCount64() < end; Sleep(5)) {
        pump(window);
        if (done()) return true;
    }
    pump(window);
    return done();
}

// Reads the 16-bit samples behind the header of a WAV file; empty when it is missing or short.
std::vector<int16_t> readSamples(const std::wstring& path, uint32_t& rate, uint16_t& channels, uint32_t& dataSize) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> samples;
    if (bytes.size() < WAV_HEADER_BYTES) return samples;
    auto le = [&](size_t at, int n) {
        uint32_t v = 0;
        for (int i = n - 1; i >= 0; --i) v = (v << 8) | bytes[at + i];
        return v;
    };
    channels = static_cast<uint16_t>(le(22, 2));
    rate = le(24, 4);
    dataSize = le(40, 4);
    for (size_t at = WAV_HEADER_BYTES; at + 1 < bytes.size(); at += 2)
        samples.push_back(static_cast<int16_t>(bytes[at] | (bytes[at + 1] << 8)));
    return samples;
}

}  // namespace

// Usage: soak_host <wav path> <seconds to record> <seconds fed>.
int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: soak_host <wav path> <seconds to record> <seconds fed>\n");
        return 2;
    }
    const std::wstring path = argv[1];
    const int seconds = _wtoi(argv[2]);
    const uint64_t fedFrames = static_cast<uint64_t>(_wtoi(argv[3])) * PIPE_RATE;
    HWND window = CreateWindowExW(0, L"STATIC", L"soak", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);

    // What the UI thread does when it accepts a start.
    isRecording.store(false);
    stopRequested.store(false);
    captureActive.store(true);
    std::thread worker(recordAudio, path, window);
    if (!pumpUntil(window, 15000, [] { return isRecording.load() || saved; }) || !isRecording.load()) {
        std::printf("soak: the recording never started\n");
        stopRequested.store(true);
        pumpUntil(window, 15000, [] { return saved; });
        worker.join();
        return 1;
    }
    std::printf("soak: working set at start %llu KiB\n", workingSetKiB());
    unsigned long long afterOneMinute = 0, atEnd = 0;
    for (int elapsed = 0; elapsed < seconds;) {
        const int step = seconds - elapsed < 10 ? seconds - elapsed : 10;
        pumpUntil(window, static_cast<DWORD>(step) * 1000, [] { return saved; });
        if (saved) break;
        elapsed += step;
        atEnd = workingSetKiB();
        if (elapsed == 60 || (afterOneMinute == 0 && elapsed > 60)) afterOneMinute = atEnd;
        if (elapsed % 60 == 0 || elapsed == seconds) std::printf("soak: working set at %d s %llu KiB\n", elapsed, atEnd);
        std::fflush(stdout);
    }
    // What "Stop" does.
    stopRequested.store(true);
    isRecording.store(false);
    const bool endedEarly = saved;
    const bool savedInTime = pumpUntil(window, 15000, [] { return saved; });
    worker.join();
    DestroyWindow(window);

    uint32_t rate = 0, dataSize = 0;
    uint16_t channels = 0;
    const std::vector<int16_t> samples = readSamples(path, rate, channels, dataSize);
    const FrameCheck check = checkFedFrames(samples, fedFrames, 2 * PIPE_RATE);
    std::printf("soak: level updates %zu\n", levelUpdates);
    // The feed runs on past both ends of the recording; what counts is the stretch it covered.
    const uint64_t fedDuring = check.started ? check.lastFed - check.firstFed + 1 : 0;
    std::printf("soak: frames fed while recording %llu\n", static_cast<unsigned long long>(fedDuring));
    std::printf("soak: frames in the WAV %llu (%.1f s), fed frames %llu to %llu\n",
                static_cast<unsigned long long>(check.recorded), static_cast<double>(check.recorded) / PIPE_RATE,
                static_cast<unsigned long long>(check.firstFed), static_cast<unsigned long long>(check.lastFed));
    std::printf("soak: frames lost %llu, doubled %llu, foreign %llu, breaks in the run %llu\n",
                static_cast<unsigned long long>(check.lost), static_cast<unsigned long long>(check.doubled),
                static_cast<unsigned long long>(check.unmatched), static_cast<unsigned long long>(check.jumps));
    if (afterOneMinute > 0)
        std::printf("soak: working set after 1 min %llu KiB, at the end %llu KiB, change %+.2f %%\n", afterOneMinute, atEnd,
                    100.0 * (static_cast<double>(atEnd) - static_cast<double>(afterOneMinute)) /
                        static_cast<double>(afterOneMinute));

    bool ok = true;
    auto require = [&](bool condition, const char* what) {
        if (!condition) {
            std::printf("soak: FAILED: %s\n", what);
            ok = false;
        }
    };
    require(!endedEarly, "the worker ended the recording before it was stopped");
    require(savedInTime, "the worker posted no end within 15 s of the stop");
    require(channels == PIPE_CHANNELS && rate == PIPE_RATE, "the WAV is not in the feed's format");
    require(dataSize == samples.size() * 2, "the header's data size is not the data's length");
    require(check.started, "the first recorded frames are not fed frames");
    // The feed runs at real-time pace, so a recording that kept up holds about as many frames as
    // the time it ran; far fewer means the capture fell behind and the source dropped data.
    require(check.recorded + 2 * PIPE_RATE >= static_cast<uint64_t>(seconds) * PIPE_RATE,
            "the recording is more than 2 s shorter than the time it ran");
    require(check.lost == 0 && check.doubled == 0 && check.unmatched == 0, "frames were lost, doubled or foreign");
    std::printf("soak: content %s\n", ok ? "intact" : "DAMAGED");
    return ok ? 0 : 1;
}
