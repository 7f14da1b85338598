// The queue between the capture worker and the WAV writer: a ring of 16-bit samples with one
// producer (the capture worker, which must never wait) and one consumer (the writer thread,
// which may wait on the disk as long as it likes). Neither side takes a lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

struct PcmQueue {
    std::vector<int16_t> ring;
    std::atomic<uint64_t> pushed{0};  // samples ever queued; advanced by the producer only
    std::atomic<uint64_t> taken{0};   // samples ever handed on; advanced by the consumer only
};

// A run of queued samples that lies contiguous in the ring.
struct PcmSpan {
    const int16_t* samples;
    size_t count;
};

// Returns the samples a queue needs to hold `seconds` of audio at the rate and channel count.
size_t pcmQueueSamplesFor(uint32_t seconds, int32_t sampleRate, int32_t channels);

// Empties the queue and gives it room for `capacity` samples; may throw std::bad_alloc.
void resetPcmQueue(PcmQueue& queue, size_t capacity);

// Converts count float samples to 16-bit PCM straight into the queue. Queues all of them or,
// when they do not fit, none (the caller counts that as lost audio); never waits. Producer only.
bool pushPcm(PcmQueue& queue, const float* samples, size_t count);

// Returns the number of samples waiting in the queue.
size_t queuedPcm(const PcmQueue& queue);

// Returns the oldest waiting samples that lie contiguous in the ring, at most `most`. Consumer only.
PcmSpan peekPcm(const PcmQueue& queue, size_t most);

// Hands back the room of the oldest count samples, once they are no longer needed. Consumer only.
void takePcm(PcmQueue& queue, size_t count);
