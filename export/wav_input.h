// The pure part of the MP3 export: which WAV headers are encoded, and how a block of interleaved
// 16-bit samples becomes the per-channel arrays the encoder takes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "recording/wav_header.h"

// Bytes of WAV data read per block, at most; a block always holds whole frames (exportBlockBytes).
constexpr size_t EXPORT_BLOCK_BYTES = 16384;
// The most channels a file may have: one frame must fit in a block.
constexpr uint32_t EXPORT_MAX_CHANNELS = EXPORT_BLOCK_BYTES / 2;
// 16-bit values in the job's sample buffer: one block in the first half, the right channel
// of a block of two or more channels compacted into the second half.
constexpr size_t EXPORT_SAMPLE_VALUES = 16384;
constexpr size_t EXPORT_RIGHT_CHANNEL_OFFSET = 8192;
// The samples per channel the encoder's flush may encode beside what a call left it: up to five
// bunches of at most 1152 input samples each, each resampled (see mp3BufferBytes).
constexpr uint32_t EXPORT_FLUSH_BUNCHES = 5;
constexpr uint32_t EXPORT_FLUSH_BUNCH_SAMPLES = 1152;
// The highest rate the encoder's interface can carry (it takes an int); the encoder decides
// which of the rates from 1 Hz up to this it accepts.
constexpr uint32_t EXPORT_MAX_SAMPLE_RATE = 0x7FFFFFFF;

// Returns true when the header carries the "RIFF" and "WAVE" identifiers.
bool hasWavIdentifiers(const WavHeader& header);

// Returns true when a header of which bytesRead bytes arrived describes data the job can read:
// all 44 bytes, both identifiers, 16-bit integer PCM (format code 1), 1 to EXPORT_MAX_CHANNELS
// channels and a rate above 0 that the encoder's interface can carry.
bool isEncodableWavHeader(const WavHeader& header, size_t bytesRead);

// Returns the channels of the MP3 made of a file with the given channels: the encoder takes one
// or two, so a file of more becomes stereo from its first two channels.
int32_t mp3Channels(int32_t fileChannels);

// Returns the bytes of one block for a file of the given channels: as many whole frames as fit in
// EXPORT_BLOCK_BYTES, so no frame is ever split between two reads.
size_t exportBlockBytes(int32_t fileChannels);

// Returns the number of whole frames of the given channels in a block of bytesRead bytes (stray
// bytes dropped).
int32_t framesInBlock(size_t bytesRead, int32_t fileChannels);

// Returns the size of the MP3 buffer of one job: the encoder's documented worst case (1.25 bytes
// per sample encoded, plus 7200) for the most samples one call or the flush can hand it. A call
// is kept to about a block's samples after resampling (framesPerEncoderCall); the flush feeds
// the encoder padding in bunches of at least one input sample, which an encoder resampling a
// very low rate up to 8000 Hz turns into thousands (measured: 24738 bytes at 1 Hz).
size_t mp3BufferBytes(uint32_t inputRate, uint32_t outputRate);

// Returns how many frames of a block may go to the encoder in one call so that what it makes of
// them fits the MP3 buffer: all of them, unless the encoder resamples up to a higher output rate,
// which multiplies the samples it encodes. Never less than 1 for a non-empty block.
int32_t framesPerEncoderCall(int32_t blockFrames, uint32_t inputRate, uint32_t outputRate);

// Splits frames interleaved frames of fileChannels (two or more) in place: the first channel
// compacted to the start of samples, the second from value EXPORT_RIGHT_CHANNEL_OFFSET on; every
// further channel is left out. samples holds EXPORT_SAMPLE_VALUES values.
void splitFirstTwoChannels(int16_t* samples, int32_t frames, int32_t fileChannels);
