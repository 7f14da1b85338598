// Pure sample arithmetic of the packet pipeline: PCM conversion, the left-channel split and
// the packet level. No platform calls, so tests reach it without a device.
#pragma once

#include <cstdint>
#include <vector>

// Converts one float sample to 16-bit PCM: clamp to [-1, 1], scale by 32767, truncate toward zero.
int16_t floatToPcm16(float sample);

// Converts interleaved float samples to interleaved 16-bit PCM, sample by sample.
std::vector<int16_t> floatsToPcm16(const float* samples, size_t count);

// Returns the samples that feed the live display: the first channel of each whole frame, or every
// sample for a single channel.
std::vector<float> leftChannel(const float* samples, size_t sampleCount, int32_t channels);

// Returns the RMS of the samples in single precision, limited to 1.0; the samples must not be empty.
float packetLevel(const std::vector<float>& left);

// Returns the highest magnitude among the samples (0 for none); a NaN sample is passed over.
float packetPeak(const std::vector<float>& samples);

// Returns how many samples reach full scale: a magnitude of 1 or more, which floatToPcm16 clamps.
uint64_t countClipped(const float* samples, size_t count);

// Appends newest to history and keeps only its last `limit` samples.
void appendTrimmed(std::vector<int16_t>& history, const std::vector<int16_t>& newest, size_t limit);
