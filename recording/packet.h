// The per-packet pipeline of the capture worker: PCM to the writer's queue, the left channel to
// the waveform history and the analyser input, the level to the meter.
#pragma once

#include <windows.h>

#include <cstdint>

#include "recording/pcm_queue.h"

constexpr size_t WAVEFORM_HISTORY_LIMIT = 65536;
constexpr size_t ANALYSIS_BLOCK = 1024;

// Processes one captured packet of interleaved float samples. Returns true when its PCM was
// queued for the file; false when the queue had no room for all of it, and then none of it is
// queued (the live display is fed either way). Never waits on the disk.
bool processPacket(const float* samples, uint32_t frames, int32_t channels, PcmQueue& queue, HWND window);
