#include "recording/pcm_queue.h"

#include "recording/pcm.h"

size_t pcmQueueSamplesFor(uint32_t seconds, int32_t sampleRate, int32_t channels) {
    if (sampleRate <= 0 || channels <= 0) return 0;
    return static_cast<size_t>(seconds) * static_cast<size_t>(sampleRate) * static_cast<size_t>(channels);
}

void resetPcmQueue(PcmQueue& queue, size_t capacity) {
    queue.ring.assign(capacity, 0);
    queue.pushed.store(0);
    queue.taken.store(0);
}

bool pushPcm(PcmQueue& queue, const float* samples, size_t count) {
    if (count == 0) return true;
    const size_t capacity = queue.ring.size();
    const uint64_t pushed = queue.pushed.load(std::memory_order_relaxed);
    // Acquire: the consumer is done with the room it handed back before it is overwritten.
    const uint64_t taken = queue.taken.load(std::memory_order_acquire);
    if (count > capacity - static_cast<size_t>(pushed - taken)) return false;
    size_t at = static_cast<size_t>(pushed % capacity);
    for (size_t i = 0; i < count; ++i) {
        queue.ring[at] = floatToPcm16(samples[i]);
        if (++at == capacity) at = 0;
    }
    // Release: the samples are in the ring before the consumer can see them counted.
    queue.pushed.store(pushed + count, std::memory_order_release);
    return true;
}

size_t queuedPcm(const PcmQueue& queue) {
    return static_cast<size_t>(queue.pushed.load(std::memory_order_acquire) -
                               queue.taken.load(std::memory_order_acquire));
}

PcmSpan peekPcm(const PcmQueue& queue, size_t most) {
    const size_t capacity = queue.ring.size();
    const uint64_t taken = queue.taken.load(std::memory_order_relaxed);
    const size_t waiting = static_cast<size_t>(queue.pushed.load(std::memory_order_acquire) - taken);
    if (waiting == 0 || capacity == 0) return {nullptr, 0};
    const size_t at = static_cast<size_t>(taken % capacity);
    size_t count = waiting < capacity - at ? waiting : capacity - at;
    if (count > most) count = most;
    return {queue.ring.data() + at, count};
}

void takePcm(PcmQueue& queue, size_t count) {
    queue.taken.store(queue.taken.load(std::memory_order_relaxed) + count, std::memory_order_release);
}
