// Pure sample-format arithmetic of the capture worker: which encoding an endpoint's mix format
// carries, turning its samples into the floats the packet pipeline expects, and whether a packet
// still fits in a WAV file. No platform calls beyond the format record itself.
#pragma once

#include <windows.h>
#include <mmreg.h>

#include <cstdint>
#include <vector>

// The sample encodings the capture worker can record from.
enum class SampleEncoding { Float32, Int16, Int24, Int32, Unsupported };

// Returns the encoding of a mix format (plain WAVEFORMATEX or WAVE_FORMAT_EXTENSIBLE); anything
// the worker cannot read exactly, or a format whose sizes disagree, is Unsupported.
SampleEncoding sampleEncodingOf(const WAVEFORMATEX& format);

// Returns the bytes one sample of the encoding occupies (0 for Unsupported).
uint32_t bytesPerSample(SampleEncoding encoding);

// Converts interleaved integer or float samples to floats in [-1, 1), scaled by 2^(bits - 1).
std::vector<float> samplesToFloats(const BYTE* data, size_t sampleCount, SampleEncoding encoding);

// Returns true while a packet of frames x channels samples still fits behind bytesWritten without
// passing what the header's 32-bit size fields can describe.
bool packetFitsInWav(uint64_t bytesWritten, uint32_t frames, int32_t channels);

// Returns how many milliseconds of audio pcmBytes of 16-bit samples hold at the rate and channel
// count, rounded down; 0 when either is not positive.
uint64_t audioMilliseconds(uint64_t pcmBytes, int32_t sampleRate, int32_t channels);
