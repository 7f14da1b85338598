#include "export/segment_plan.h"

#include <algorithm>

#include "export/vbr_tag.h"

uint64_t singlePassFrames(uint64_t inputSamples, uint32_t samplesPerFrame) {
    // The encoder pads the end to whole frames, and by at least a granule (576 samples).
    const uint64_t encoded = MP3_ENCODER_DELAY + inputSamples;
    uint64_t padding = samplesPerFrame - encoded % samplesPerFrame;
    if (padding < 576) padding += samplesPerFrame;
    return (encoded + padding) / samplesPerFrame;
}

std::vector<ExportSegment> planExportSegments(uint64_t inputSamples, uint32_t samplesPerFrame, uint32_t sampleRate,
                                              uint32_t threads) {
    std::vector<ExportSegment> segments;
    if (threads < 2 || samplesPerFrame == 0 || sampleRate == 0) return segments;
    const uint64_t byLength = inputSamples / (uint64_t{SEGMENT_MIN_SECONDS} * sampleRate);
    const uint64_t count = std::min<uint64_t>(byLength, uint64_t{threads} * SEGMENTS_PER_THREAD);
    if (count < 2) return segments;
    const uint64_t totalFrames = singlePassFrames(inputSamples, samplesPerFrame);
    const uint64_t delay = MP3_ENCODER_DELAY;
    for (uint64_t k = 0; k < count; ++k) {
        ExportSegment s;
        s.firstFrame = totalFrames * k / count;
        const uint64_t endFrame = totalFrames * (k + 1) / count;
        s.keptFrames = endFrame - s.firstFrame;
        s.leadInFrames = static_cast<uint32_t>(std::min<uint64_t>(SEGMENT_LEAD_IN_FRAMES, s.firstFrame));
        // An encoder fed from a frame boundary puts its frames on the single pass's grid: its
        // frame j holds the samples the single pass's frame (start frame + j) holds.
        s.inputStart = (s.firstFrame - s.leadInFrames) * samplesPerFrame;
        s.inputEnd = k + 1 == count ? inputSamples
                                    : std::min(inputSamples, (endFrame + SEGMENT_TAIL_FRAMES) * samplesPerFrame);
        // Frame f stands for the input from f frames less the delay on.
        s.ownStart = std::min(inputSamples, std::max(s.firstFrame * samplesPerFrame, delay) - delay);
        if (k == 0) s.ownStart = 0;
        s.ownEnd = k + 1 == count ? inputSamples : std::min(inputSamples, endFrame * samplesPerFrame - delay);
        segments.push_back(s);
    }
    return segments;
}
