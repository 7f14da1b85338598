// The 44-byte RIFF/WAVE header written by the recording engine and read back by the export.
#pragma once

#include <array>
#include <cstdint>
#include <ostream>

#pragma pack(push, 1)
struct WavHeader {
    char riffId[4] = {'R', 'I', 'F', 'F'};
    uint32_t riffSize;
    char waveId[4] = {'W', 'A', 'V', 'E'};
    char fmtId[4] = {'f', 'm', 't', ' '};
    uint32_t fmtSize = 16;
    uint16_t audioFormat;
    uint16_t numChannels;
    uint32_t sampleRate;
    uint32_t byteRate;
    uint16_t blockAlign;
    uint16_t bitsPerSample;
    char dataId[4] = {'d', 'a', 't', 'a'};
    uint32_t dataSize;
};
#pragma pack(pop)

static_assert(sizeof(WavHeader) == 44, "WavHeader must be exactly 44 packed bytes");

constexpr uint32_t WAV_HEADER_BYTES = sizeof(WavHeader);
// The largest data length whose riffSize (dataSize + 36) still fits in 32 bits.
constexpr uint64_t WAV_MAX_DATA_BYTES = 0xFFFFFFFFull - 36;

// Fills a header for the given format and data length (the field arithmetic of writeWavHeader).
WavHeader makeWavHeader(int32_t sampleRate, int32_t bitsPerSample, int32_t channels,
                        uint32_t dataLength, bool isFloat);

// Returns the header's 44 bytes in file order (little-endian on every supported target).
std::array<unsigned char, 44> wavHeaderBytes(const WavHeader& header);

// Writes one header at the stream's put position in a single write; the stream is not checked.
void writeWavHeader(std::ostream& out, int32_t sampleRate, int32_t bitsPerSample, int32_t channels,
                    uint32_t dataLength, bool isFloat);
