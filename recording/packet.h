// The per-packet pipeline of the capture worker: PCM to the WAV stream, the left channel to
// the waveform history and the analyser input, the level to the meter.
#pragma once

#include <windows.h>

#include <cstdint>
#include <ostream>

constexpr size_t WAVEFORM_HISTORY_LIMIT = 65536;
constexpr size_t ANALYSIS_BLOCK = 1024;

// Processes one captured packet of interleaved float samples. bytesWritten grows only by the
// bytes the stream accepted, so a failed write is never counted as recorded.
void processPacket(const float* samples, uint32_t frames, int32_t channels, std::ostream& wavFile,
                   uint64_t& bytesWritten, HWND window);
