#include "recording/pcm.h"

#include <cmath>

int16_t floatToPcm16(float sample) {
    float clamped = sample;
    if (1.0f < clamped) {
        clamped = 1.0f;
    } else if (clamped < -1.0f) {
        clamped = -1.0f;
    }
    const float product = clamped * 32767.0f;
    // A NaN passes both bounds; converting it to an integer is undefined in C++, so map it to 0.
    if (std::isnan(product)) return 0;
    return static_cast<int16_t>(static_cast<int32_t>(product));
}

std::vector<int16_t> floatsToPcm16(const float* samples, size_t count) {
    std::vector<int16_t> pcm(count);
    for (size_t i = 0; i < count; ++i) pcm[i] = floatToPcm16(samples[i]);
    return pcm;
}

std::vector<float> leftChannel(const float* samples, size_t sampleCount, int32_t channels) {
    if (channels <= 1) return std::vector<float>(samples, samples + sampleCount);
    const size_t stride = static_cast<size_t>(channels);
    std::vector<float> left;
    left.reserve(sampleCount / stride);
    // Whole frames only: a stray partial frame at the end has no first channel of its own.
    for (size_t i = 0; i + stride <= sampleCount; i += stride) left.push_back(samples[i]);
    return left;
}

float packetLevel(const std::vector<float>& left) {
    float sumOfSquares = 0.0f;
    for (float s : left) sumOfSquares += s * s;
    const float level = std::sqrt(sumOfSquares / static_cast<float>(left.size()));
    return level > 1.0f ? 1.0f : level;
}

float packetPeak(const std::vector<float>& samples) {
    float peak = 0.0f;
    // Written as "greater than" so a NaN never becomes the peak.
    for (float s : samples) {
        const float magnitude = std::fabs(s);
        if (magnitude > peak) peak = magnitude;
    }
    return peak;
}

uint64_t countClipped(const float* samples, size_t count) {
    uint64_t clipped = 0;
    for (size_t i = 0; i < count; ++i) clipped += std::fabs(samples[i]) >= 1.0f;
    return clipped;
}

void appendTrimmed(std::vector<int16_t>& history, const std::vector<int16_t>& newest, size_t limit) {
    history.insert(history.end(), newest.begin(), newest.end());
    if (history.size() > limit) {
        history.erase(history.begin(), history.end() - static_cast<std::ptrdiff_t>(limit));
    }
}
