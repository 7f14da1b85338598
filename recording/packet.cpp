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
    displayPosition += left.size();
    // Every sample, none dropped: the spectrogram's window spans several analysis blocks.
    levelInput.insert(levelInput.end(), left.begin(), left.end());
    if (levelInput.size() > LEVEL_BLOCK) levelInput.erase(levelInput.begin(), levelInput.end() - LEVEL_BLOCK);

    char line[128];
    std::snprintf(line, sizeof line, "[DEBUG] fftInputBuffer size = %zu\n", fftInputBuffer.size());
    OutputDebugStringA(line);

    if (fftInputBuffer.size() >= ANALYSIS_BLOCK) {
        const std::vector<float> block(fftInputBuffer.end() - ANALYSIS_BLOCK, fftInputBuffer.end());
        processFFT(block.data(), ANALYSIS_BLOCK, captureSampleRate);
        queueLevels(levelInput.data(), levelInput.size(), captureSampleRate, displayPosition);
        fftInputBuffer.clear();
    }
}

// Raises the published peak to this packet's, unless the meter has not yet taken a higher one.
void publishPeak(float peak) {
    float published = inputPeak.load();
    while (peak > published && !inputPeak.compare_exchange_weak(published, peak)) {
    }
}

// Adds the packet's full-scale samples to the recording's count, and says so on the debug channel.
void countClipping(const float* samples, size_t sampleCount) {
    const uint64_t clipped = countClipped(samples, sampleCount);
    if (clipped == 0) return;
    // The capture worker is the only writer while it runs, so a load and a store suffice.
    const uint64_t total = clippedSamples.load() + clipped;
    clippedSamples.store(total);
    char line[128];
    std::snprintf(line, sizeof line, "[CLIP] %llu samples at full scale in this packet, %llu in the recording\n",
                  static_cast<unsigned long long>(clipped), static_cast<unsigned long long>(total));
    OutputDebugStringA(line);
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
    countClipping(samples, sampleCount);

    // An empty packet has no level: publishing 0/0 would put a NaN on the meter.
    if (left.empty()) return queued;
    inputLevel.store(packetLevel(left));
    publishPeak(packetPeak(left));
    PostMessageW(window, WM_LEVEL_UPDATE, 0, 0);
    // The capture worker is the only writer, so a load and a store suffice.
    packetsProcessed.store(packetsProcessed.load() + 1);
    return queued;
}
