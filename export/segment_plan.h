// The pure plan of a parallel export: which stretch of the recording each segment's encoder
// reads, and which of its frames the joined stream keeps, so that the kept frames are exactly
// the frames one encoder run over the whole recording would make.
#pragma once

#include <cstdint>
#include <vector>

// Frames of audio each segment's encoder runs over before its first kept frame. An encoder
// started at a frame boundary decodes sample for sample like one run over the whole recording
// from at most one and a half frames after its start (the filter bank's overlap and the
// psychoacoustic model's memory): with tones, noise, clicks and silence at the joins, a lead-in
// of 0 or 1 frame decoded differently and 2 alike. Four leave that much again in hand, for a
// few hundredths of a second per segment.
constexpr uint32_t SEGMENT_LEAD_IN_FRAMES = 4;
// Frames past a segment's last kept frame that its encoder still reads, so the zeros its flush
// adds never reach a kept frame: the encoder analyses about 1.7 frames ahead of a frame's start
// (0 frames decoded differently at the joins, 1 alike); three, for margin.
constexpr uint32_t SEGMENT_TAIL_FRAMES = 3;
// The shortest segment, in seconds: shorter ones would spend more on lead-ins than they gain.
constexpr uint32_t SEGMENT_MIN_SECONDS = 5;
// Segments per thread: several, so a thread that a busy machine slows down leaves its share
// of the later segments to the others.
constexpr uint32_t SEGMENTS_PER_THREAD = 4;

// One segment: the input samples (per channel) its encoder reads, and its frames kept.
struct ExportSegment {
    uint64_t firstFrame = 0;   // its first frame in the whole stream
    uint64_t keptFrames = 0;
    uint64_t inputStart = 0;   // a frame boundary: (firstFrame - leadInFrames) frames in
    uint64_t inputEnd = 0;     // exclusive
    uint32_t leadInFrames = 0; // frames the encoder makes before the first kept one
    uint64_t ownStart = 0;     // the input this segment alone stands for, for progress
    uint64_t ownEnd = 0;
};

// Returns the audio frames one encoder makes of inputSamples samples per channel in frames of
// samplesPerFrame: the delay before the audio and at least a granule of padding after it.
uint64_t singlePassFrames(uint64_t inputSamples, uint32_t samplesPerFrame);

// Returns the segments for a recording of inputSamples at sampleRate on `threads` threads, in
// order; empty when one pass is the better plan (one thread, or too short to split).
std::vector<ExportSegment> planExportSegments(uint64_t inputSamples, uint32_t samplesPerFrame,
                                              uint32_t sampleRate, uint32_t threads);
