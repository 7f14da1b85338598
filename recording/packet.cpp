#include "recording/packet.h"

#include <cstdio>
#include <vector>

#include "analysis/spectrum.h"
#include "recording/live_state.h"
#include "recording/pcm.h"

namespace {

// Feeds the analyser input and runs one analysis on the newest block once enough has gathered.
void feedAnalyser(const std::vector<float>& left) {
    std::lock_guard<std::mutex> guard(fftInputMutex);
    fftInputBuffer.insert(fftInputBuffer.end(), left.begin(), left.end());

    char line[128];
    std::snprintf(line, sizeof line, "[DEBUG] fftInputBuffer size = %zu\n", fftInputBuffer.size());
    OutputDebugStringA(line);

    if (fftInputBuffer.size() >= ANALYSIS_BLOCK) {
        const std::vector<float> block(fftInputBuffer.end() - ANALYSIS_BLOCK, fftInputBuffer.end());
        processFFT(block.data(), ANALYSIS_BLOCK, captureSampleRate);
        fftInputBuffer.clear();
    }
}

}  // namespace

bool processPacket(const float* samples, uint32_t frames, int32_t channels, PcmQueue& queue, HWND window) {
    const uint32_t sampleCount32 = frames * static_cast<uint32_t>(channels);
    const size_t sampleCount = sampleCount32;

    const bool queued = pushPcm(queue, samples, sampleCount);

    const std::vector<float> left = leftChannel(samples, sampleCount, channels);
    const std::vector<int16_t> leftPcm = floatsToPcm16(left.data(), left.size());
    {
        std::lock_guard<std::mutex> guard(waveformMutex);
        appendTrimmed(waveformLeft, leftPcm, WAVEFORM_HISTORY_LIMIT);
    }

    feedAnalyser(left);

    // An empty packet has no level: publishing 0/0 would put a NaN on the meter.
    if (left.empty()) return queued;
    inputLevel.store(packetLevel(left));
    PostMessageW(window, WM_LEVEL_UPDATE, 0, 0);
    return queued;
}
