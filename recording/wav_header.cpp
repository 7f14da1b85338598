#include "recording/wav_header.h"

#include <cstring>

WavHeader makeWavHeader(int32_t sampleRate, int32_t bitsPerSample, int32_t channels,
                        uint32_t dataLength, bool isFloat) {
    WavHeader header;
    header.audioFormat = isFloat ? 3 : 1;
    header.numChannels = static_cast<uint16_t>(channels);
    header.bitsPerSample = static_cast<uint16_t>(bitsPerSample);
    header.sampleRate = static_cast<uint32_t>(sampleRate);
    // Signed 32-bit arithmetic, as the format has always been computed: rate x channels x bits / 8.
    // The product is formed in 64 bits and narrowed so that no signed overflow is undefined.
    const int32_t product = static_cast<int32_t>(static_cast<int64_t>(sampleRate) * channels * bitsPerSample);
    header.byteRate = static_cast<uint32_t>(product / 8);
    header.blockAlign = static_cast<uint16_t>(static_cast<int32_t>(channels * bitsPerSample) / 8);
    header.dataSize = dataLength;
    header.riffSize = dataLength + 36u;
    return header;
}

std::array<unsigned char, 44> wavHeaderBytes(const WavHeader& header) {
    std::array<unsigned char, 44> bytes{};
    std::memcpy(bytes.data(), &header, sizeof header);
    return bytes;
}

void writeWavHeader(std::ostream& out, int32_t sampleRate, int32_t bitsPerSample, int32_t channels,
                    uint32_t dataLength, bool isFloat) {
    const WavHeader header = makeWavHeader(sampleRate, bitsPerSample, channels, dataLength, isFloat);
    out.write(reinterpret_cast<const char*>(&header), sizeof header);
}
