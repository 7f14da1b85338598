// The known stereo signal that pipe_feeder.py writes into the PulseAudio pipe source. Both
// channels are exact binary fractions, so the feeder and the checker agree to the last bit.
#pragma once

#include <cstdint>

constexpr uint32_t PIPE_RATE = 44100;
constexpr int PIPE_CHANNELS = 2;

// Returns channel 0 of frame n: a scrambled sequence that repeats only every 65521 frames.
inline float pipeChannel0(uint64_t n) {
    return static_cast<float>(static_cast<int64_t>(n * 7919 % 65521) - 32760) / 32768.0f;
}
// Returns channel 1 of frame n: a ramp over the full range, repeating every 65536 frames.
inline float pipeChannel1(uint64_t n) { return static_cast<float>(static_cast<int64_t>(n % 65536) - 32768) / 32768.0f; }
