// Measures the capture pipeline's cost: processPacket (with the analyses it triggers) fed
// synthetic 480-frame stereo packets at 48000 Hz, and processFFT as it is built (fresh buffers
// and plan per call) against one execution of a reused FFTW plan on the same block.
#include <windows.h>

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "analysis/spectrum.h"
#include "recording/live_state.h"
#include "recording/packet.h"
#include "recording/wav_header.h"

namespace {

constexpr int RATE = 48000;
constexpr int CHANNELS = 2;
constexpr uint32_t FRAMES = 480;

// Returns the calling thread's user plus kernel CPU time in seconds.
double threadCpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    auto toSeconds = [](FILETIME t) {
        ULARGE_INTEGER v;
        v.LowPart = t.dwLowDateTime;
        v.HighPart = t.dwHighDateTime;
        return static_cast<double>(v.QuadPart) * 1e-7;
    };
    return toSeconds(kernel) + toSeconds(user);
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

// Fills one packet of a 440 Hz / 660 Hz stereo tone starting at frame `first`.
void fillPacket(std::vector<float>& packet, uint64_t first) {
    for (uint32_t f = 0; f < FRAMES; ++f) {
        const double t = static_cast<double>(first + f) / RATE;
        packet[f * CHANNELS] = static_cast<float>(0.5 * std::sin(2.0 * 3.141592653589793 * 440.0 * t));
        packet[f * CHANNELS + 1] = static_cast<float>(0.3 * std::sin(2.0 * 3.141592653589793 * 660.0 * t));
    }
}

// Removes the level updates posted to window so its queue never fills.
void drainQueue(HWND window) {
    MSG msg;
    while (PeekMessageW(&msg, window, 0, 0, PM_REMOVE)) {}
}

// Runs the packet pipeline over `seconds` of audio and prints its CPU cost.
void benchPipeline(int seconds, HWND window) {
    wchar_t tempFolder[MAX_PATH];
    GetTempPathW(MAX_PATH, tempFolder);
    const std::wstring path = std::wstring(tempFolder) + L"voxtrel-pipeline-bench.wav";
    std::ofstream wav(path.c_str(), std::ios::binary | std::ios::trunc);
    writeWavHeader(wav, RATE, 16, CHANNELS, 0, false);
    captureSampleRate = RATE;

    std::vector<float> packet(FRAMES * CHANNELS);
    const uint64_t packets = static_cast<uint64_t>(seconds) * RATE / FRAMES;
    uint64_t bytesWritten = 0;
    const double cpuStart = threadCpuSeconds();
    const double wallStart = wallSeconds();
    for (uint64_t p = 0; p < packets; ++p) {
        fillPacket(packet, p * FRAMES);
        processPacket(packet.data(), FRAMES, CHANNELS, wav, bytesWritten, window);
        if (p % 64 == 0) drainQueue(window);
    }
    const double cpu = threadCpuSeconds() - cpuStart;
    const double wall = wallSeconds() - wallStart;
    wav.close();
    DeleteFileW(path.c_str());

    const double audioSeconds = static_cast<double>(packets) * FRAMES / RATE;
    std::printf("pipeline: %.0f s of 48000 Hz stereo audio in %llu packets of 480 frames\n", audioSeconds,
                static_cast<unsigned long long>(packets));
    std::printf("pipeline: CPU %.3f s (wall %.3f s): %.3f ms per audio second = %.3f %% of one core\n", cpu, wall,
                1000.0 * cpu / audioSeconds, 100.0 * cpu / audioSeconds);
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

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    const int iterations = argc > 2 ? std::max(1, std::atoi(argv[2])) : 2000;
    HWND window = CreateWindowExW(0, L"STATIC", L"bench", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    benchPipeline(seconds, window);
    benchAnalysis(iterations);
    DestroyWindow(window);
    return 0;
}
