// Checks a recording of the pipe feed by content: finds where in the feed it begins, then walks
// it frame by frame and tells apart frames the capture lost, frames it delivered twice and frames
// that match no fed frame at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pipe_signal.h"
#include "recording/pcm.h"

struct FrameCheck {
    bool started = false;     // the first recorded frames were found in the feed
    uint64_t firstFed = 0;    // feed index of the first recorded frame
    uint64_t lastFed = 0;     // feed index of the last recorded frame that matched
    uint64_t recorded = 0;    // frames in the recording
    uint64_t lost = 0;        // fed frames inside the recorded span that are missing
    uint64_t doubled = 0;     // recorded frames that repeat earlier fed frames
    uint64_t unmatched = 0;   // recorded frames that match no fed frame near their place
    uint64_t jumps = 0;       // places where the recording left the run of fed frames
};

// Returns true when recorded frame `at` holds the PCM form of fed frame `fed`.
inline bool frameIsFed(const std::vector<int16_t>& samples, size_t at, uint64_t fed) {
    return samples[2 * at] == floatToPcm16(pipeChannel0(fed)) && samples[2 * at + 1] == floatToPcm16(pipeChannel1(fed));
}

// Returns true when `count` recorded frames from `at` on are fed frames from `fed` on.
inline bool runIsFed(const std::vector<int16_t>& samples, size_t at, uint64_t fed, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (!frameIsFed(samples, at + i, fed + i)) return false;
    return true;
}

// Returns the fed frame nearest to `expected` (within `window` either side, below `fedFrames`)
// where the recording from `at` continues for a short probe; `fedFrames` when there is none.
inline uint64_t findInFeed(const std::vector<int16_t>& samples, size_t at, uint64_t expected, uint64_t window,
                           uint64_t fedFrames) {
    const size_t frames = samples.size() / PIPE_CHANNELS;
    const size_t probe = frames - at < 64 ? frames - at : 64;
    for (uint64_t distance = 0; distance <= window; ++distance) {
        const uint64_t later = expected + distance;
        if (later + probe <= fedFrames && runIsFed(samples, at, later, probe)) return later;
        if (distance > 0 && distance <= expected && runIsFed(samples, at, expected - distance, probe))
            return expected - distance;
    }
    return fedFrames;
}

// Walks interleaved stereo samples against the first `fedFrames` frames of the feed.
inline FrameCheck checkFedFrames(const std::vector<int16_t>& samples, uint64_t fedFrames, uint64_t window) {
    FrameCheck check;
    const size_t frames = samples.size() / PIPE_CHANNELS;
    check.recorded = frames;
    if (frames == 0) return check;
    const uint64_t start = findInFeed(samples, 0, 0, fedFrames, fedFrames);
    if (start == fedFrames) return check;
    check.started = true;
    check.firstFed = start;
    uint64_t expected = start;
    for (size_t at = 0; at < frames; ++at) {
        if (expected < fedFrames && frameIsFed(samples, at, expected)) {
            check.lastFed = expected++;
            continue;
        }
        const uint64_t found = findInFeed(samples, at, expected, window, fedFrames);
        if (found == fedFrames) {
            ++check.unmatched;
            ++expected;
            continue;
        }
        ++check.jumps;
        if (found > expected) check.lost += found - expected;
        else check.doubled += expected - found;
        check.lastFed = found;
        expected = found + 1;
    }
    return check;
}
