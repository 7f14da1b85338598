// Measures the capture pipeline's cost: processPacket (with the analyses it triggers) fed
// synthetic 10 ms packets into a running WAV writer, for a stereo device at 48000 Hz and an
// 8-channel one at 96000 Hz, and processFFT as it is built (fresh buffers and plan per call)
// against one execution of a reused FFTW plan on the same block.
#include <windows.h>

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "analysis/spectrum.h"
#include "recording/live_state.h"
#include "recording/packet.h"
#include "recording/wav_writer.h"

namespace {

// The shape of the packets a device delivers: its rate, its channels and 10 ms of frames.
struct DeviceLayout {
    int rate;
    int channels;
    uint32_t frames;
};

constexpr DeviceLayout STEREO_48K = {48000, 2, 480};
constexpr DeviceLayout EIGHT_CHANNELS_96K = {96000, 8, 960};
// The rate the analysis and debug-line figures are given for.
constexpr int RATE = 48000;
constexpr int PIPELINE_RUNS = 5;

// Returns a span of 100-nanosecond units in seconds.
double fileTimeSeconds(FILETIME t) {
    ULARGE_INTEGER v;
    v.LowPart = t.dwLowDateTime;
    v.HighPart = t.dwHighDateTime;
    return static_cast<double>(v.QuadPart) * 1e-7;
}

// Returns the calling thread's user plus kernel CPU time in seconds.
double threadCpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    return fileTimeSeconds(kernel) + fileTimeSeconds(user);
}

// Returns the whole process's user plus kernel CPU time in seconds.
double processCpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    return fileTimeSeconds(kernel) + fileTimeSeconds(user);
}

// Returns a monotonic wall-clock time in seconds.
double wallSeconds() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Returns one second of tone, interleaved: 440 Hz on the first channel, 660 Hz on the second and
// 220 Hz more on each further one. Whole-hertz tones repeat every second, so cycling through it
// feeds a seamless signal without computing sines inside the measured loop.
std::vector<float> oneSecondOfTone(const DeviceLayout& layout) {
    const size_t channels = static_cast<size_t>(layout.channels);
    std::vector<float> tone(static_cast<size_t>(layout.rate) * channels);
    for (int f = 0; f < layout.rate; ++f) {
        const double t = static_cast<double>(f) / layout.rate;
        for (size_t c = 0; c < channels; ++c) {
            const double amplitude = c == 0 ? 0.5 : 0.3;
            tone[static_cast<size_t>(f) * channels + c] =
                static_cast<float>(amplitude * std::sin(2.0 * 3.141592653589793 * (440.0 + 220.0 * c) * t));
        }
    }
    return tone;
}

// The window that receives the level updates, owned by a thread of its own that pumps its
// queue the way the program's UI thread does, so that retrieving the messages is not counted
// in the pipeline's CPU time.
struct LevelWindow {
    HWND window = nullptr;
    DWORD threadId = 0;
    std::thread pump;
};

// Creates the level window on its own thread and waits until it exists.
void startLevelWindow(LevelWindow& level) {
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    level.pump = std::thread([&level, ready] {
        level.threadId = GetCurrentThreadId();
        level.window = CreateWindowExW(0, L"STATIC", L"bench", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        SetEvent(ready);
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {}
        DestroyWindow(level.window);
    });
    WaitForSingleObject(ready, INFINITE);
    CloseHandle(ready);
}

// Ends the level window's thread.
void stopLevelWindow(LevelWindow& level) {
    PostThreadMessageW(level.threadId, WM_QUIT, 0, 0);
    level.pump.join();
}

// Runs the packet pipeline over `seconds` of audio into a WAV writer, as the capture worker does,
// prints its CPU cost and returns the capture thread's CPU milliseconds per second of audio.
double benchPipeline(const DeviceLayout& layout, int seconds, HWND window) {
    wchar_t tempFolder[MAX_PATH];
    GetTempPathW(MAX_PATH, tempFolder);
    const std::wstring path = std::wstring(tempFolder) + L"voxtrel-pipeline-bench.wav";
    captureSampleRate = layout.rate;
    WavWriter writer;
    if (!startWavWriter(writer, path, layout.rate, layout.channels)) {
        std::printf("pipeline: the WAV writer could not be started\n");
        return 0.0;
    }

    const std::vector<float> tone = oneSecondOfTone(layout);
    const uint64_t packetsPerSecond = layout.rate / layout.frames;
    const uint64_t packets = static_cast<uint64_t>(seconds) * layout.rate / layout.frames;
    uint64_t dropped = 0;
    const double processStart = processCpuSeconds();
    const double cpuStart = threadCpuSeconds();
    const double wallStart = wallSeconds();
    for (uint64_t p = 0; p < packets; ++p) {
        const float* packet = tone.data() + (p % packetsPerSecond) * layout.frames * layout.channels;
        if (!processPacket(packet, layout.frames, layout.channels, writer.queue, window)) ++dropped;
    }
    const double cpu = threadCpuSeconds() - cpuStart;
    const double wall = wallSeconds() - wallStart;
    const bool complete = finishWavWriter(writer);
    // The writer's share (and the level window's pump) comes on top of the capture thread's.
    const double processCpu = processCpuSeconds() - processStart;
    DeleteFileW(path.c_str());

    const double audioSeconds = static_cast<double>(packets) * layout.frames / layout.rate;
    const double msPerAudioSecond = 1000.0 * cpu / audioSeconds;
    std::printf("pipeline: %.0f s of audio in %llu packets: capture thread CPU %.3f s (wall %.3f s) = %.3f ms per "
                "audio second; whole process %.3f ms per audio second; %llu packets dropped, file %s\n",
                audioSeconds, static_cast<unsigned long long>(packets), cpu, wall, msPerAudioSecond,
                1000.0 * processCpu / audioSeconds, static_cast<unsigned long long>(dropped),
                complete ? "complete" : "INCOMPLETE");
    return msPerAudioSecond;
}

// Runs the pipeline benchmark `runs` times for a layout, prints the median share of one core and
// returns it in milliseconds per audio second.
double benchPipelineMedian(const DeviceLayout& layout, int runs, int seconds, HWND window) {
    std::printf("pipeline: %d channels at %d Hz, %u-frame packets\n", layout.channels, layout.rate, layout.frames);
    std::vector<double> costs;
    for (int run = 0; run < runs; ++run) costs.push_back(benchPipeline(layout, seconds, window));
    std::sort(costs.begin(), costs.end());
    const double median = costs[costs.size() / 2];
    std::printf("pipeline: %d channels at %d Hz: median of %d runs %.3f ms per audio second = %.3f %% of one core\n",
                layout.channels, layout.rate, runs, median, median / 10.0);
    return median;
}

// Times processFFT against a reused FFTW_MEASURE plan on the same windowed block.
void benchAnalysis(int iterations) {
    std::vector<float> block(ANALYSIS_BLOCK);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<float>(0.5 * std::sin(0.1 * static_cast<double>(i)));

    processFFT(block.data(), block.size(), RATE);  // fills the window table once
    const double freshStart = wallSeconds();
    for (int i = 0; i < iterations; ++i) processFFT(block.data(), block.size(), RATE);
    const double fresh = (wallSeconds() - freshStart) / iterations;

    fftwf_complex* in = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * FFT_SIZE));
    fftwf_complex* out = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * FFT_SIZE));
    fftwf_plan plan = fftwf_plan_dft_1d(static_cast<int>(FFT_SIZE), in, out, FFTW_FORWARD, FFTW_MEASURE);
    for (size_t i = 0; i < FFT_SIZE; ++i) {
        in[i][0] = i < block.size() ? block[i] * windowTable[i] : 0.0f;
        in[i][1] = 0.0f;
    }
    const double reusedStart = wallSeconds();
    for (int i = 0; i < iterations; ++i) fftwf_execute(plan);
    const double reused = (wallSeconds() - reusedStart) / iterations;
    fftwf_destroy_plan(plan);
    fftwf_free(out);
    fftwf_free(in);

    std::printf("analysis: processFFT (fresh buffers and ESTIMATE plan, debug lines) %.1f us per block\n", fresh * 1e6);
    std::printf("analysis: one fftwf_execute with a reused MEASURE plan %.1f us per block\n", reused * 1e6);
    std::printf("analysis: ratio %.1f\n", fresh / reused);
}

// Times one write of a debugger line of the packet pipeline's length: under Wine each write
// raises an exception that the system hands to any debugger, so it is a large part of the cost.
void benchDebugLine(int iterations) {
    const double start = threadCpuSeconds();
    for (int i = 0; i < iterations; ++i) OutputDebugStringA("[DEBUG] fftInputBuffer size = 960\n");
    const double perLine = (threadCpuSeconds() - start) / iterations;
    // Per second of 48000 Hz audio: one line per 480-frame packet, two per analysis.
    const double linesPerAudioSecond = 100.0 + 2.0 * RATE / ANALYSIS_BLOCK;
    std::printf("debug line: OutputDebugStringA %.1f us CPU per line; %.0f lines per audio second = %.3f ms\n",
                perLine * 1e6, linesPerAudioSecond, perLine * linesPerAudioSecond * 1e3);
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    const int iterations = argc > 2 ? std::max(1, std::atoi(argv[2])) : 2000;
    LevelWindow level;
    startLevelWindow(level);
    const double stereo = benchPipelineMedian(STEREO_48K, PIPELINE_RUNS, seconds, level.window);
    const double eight = benchPipelineMedian(EIGHT_CHANNELS_96K, PIPELINE_RUNS, seconds, level.window);
    std::printf("pipeline: 8 channels at 96000 Hz cost %.2f times stereo at 48000 Hz per audio second\n",
                eight / stereo);
    benchAnalysis(iterations);
    benchDebugLine(iterations * 10);
    stopLevelWindow(level);
    return 0;
}
