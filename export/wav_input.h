// The pure part of the MP3 export: which WAV headers are encoded, and how a block of interleaved
// 16-bit samples becomes the per-channel arrays the encoder takes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "recording/wav_header.h"

// Bytes of WAV data read per block.
constexpr size_t EXPORT_BLOCK_BYTES = 16384;
// 16-bit values in the job's sample buffer: one block in the first half, the right channel
// of a stereo block compacted into the second half.
constexpr size_t EXPORT_SAMPLE_VALUES = 16384;
constexpr size_t EXPORT_RIGHT_CHANNEL_OFFSET = 8192;
// The encoder's documented worst case for one call (1.25 x samples per channel + 7200 bytes)
// for the largest block, so no block is ever refused for a short output buffer.
constexpr size_t EXPORT_MP3_BUFFER_BYTES = (EXPORT_BLOCK_BYTES / 2) * 5 / 4 + 7200;
// Input rates the encoder takes without upsampling past its output buffer or resampling by
// absurd ratios: the lowest MP3 rate up to the highest rate capture endpoints offer.
constexpr uint32_t EXPORT_MIN_SAMPLE_RATE = 8000;
constexpr uint32_t EXPORT_MAX_SAMPLE_RATE = 192000;

// Returns true when the header carries the "RIFF" and "WAVE" identifiers.
bool hasWavIdentifiers(const WavHeader& header);

// Returns true when a header of which bytesRead bytes arrived can be handed to the encoder:
// all 44 bytes, both identifiers, one or two channels and a rate the encoder takes.
bool isEncodableWavHeader(const WavHeader& header, size_t bytesRead);

// Returns the number of whole stereo frames in a block of bytesRead bytes (stray bytes dropped).
int32_t stereoFramesInBlock(size_t bytesRead);

// Returns the number of whole 16-bit samples in a block of bytesRead bytes.
int32_t monoSamplesInBlock(size_t bytesRead);

// Splits frames interleaved stereo frames in place: left compacted to the start of samples,
// right from value EXPORT_RIGHT_CHANNEL_OFFSET on. samples holds EXPORT_SAMPLE_VALUES values.
void splitStereoBlock(int16_t* samples, int32_t frames);
