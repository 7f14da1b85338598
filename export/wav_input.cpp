#include "export/wav_input.h"

#include <cstring>

bool hasWavIdentifiers(const WavHeader& header) {
    return std::memcmp(header.riffId, "RIFF", 4) == 0 && std::memcmp(header.waveId, "WAVE", 4) == 0;
}

bool isEncodableWavHeader(const WavHeader& header, size_t bytesRead) {
    // NOTE: a short read leaves the preset identifiers in the record, so an empty file would
    // pass the identifier test with an undefined format; the byte count rules it out first.
    if (bytesRead < sizeof(WavHeader)) return false;
    if (!hasWavIdentifiers(header)) return false;
    // Anything but 16-bit integer samples (float, 24-bit, 8-bit) would be encoded as noise.
    if (header.audioFormat != 1 || header.bitsPerSample != 16) return false;
    if (header.numChannels == 0 || header.numChannels > EXPORT_MAX_CHANNELS) return false;
    return header.sampleRate != 0 && header.sampleRate <= EXPORT_MAX_SAMPLE_RATE;
}

size_t mp3BufferBytes(uint32_t inputRate, uint32_t outputRate) {
    const uint64_t upsampling = inputRate == 0 || outputRate <= inputRate ? 1 : (outputRate + inputRate - 1) / inputRate;
    const uint64_t bunchSamples = upsampling > EXPORT_FLUSH_BUNCH_SAMPLES ? upsampling : EXPORT_FLUSH_BUNCH_SAMPLES;
    const uint64_t samples = EXPORT_BLOCK_BYTES / 2 + EXPORT_FLUSH_BUNCHES * bunchSamples;
    return static_cast<size_t>(samples * 5 / 4 + 7200);
}

int32_t framesPerEncoderCall(int32_t blockFrames, uint32_t inputRate, uint32_t outputRate) {
    if (blockFrames <= 0 || inputRate == 0 || outputRate <= inputRate) return blockFrames;
    const int64_t frames = static_cast<int64_t>(blockFrames) * inputRate / outputRate;
    return frames < 1 ? 1 : static_cast<int32_t>(frames);
}

int32_t mp3Channels(int32_t fileChannels) { return fileChannels >= 2 ? 2 : 1; }

size_t exportBlockBytes(int32_t fileChannels) {
    const size_t frameBytes = 2 * static_cast<size_t>(fileChannels > 0 ? fileChannels : 1);
    return EXPORT_BLOCK_BYTES - EXPORT_BLOCK_BYTES % frameBytes;
}

int32_t framesInBlock(size_t bytesRead, int32_t fileChannels) {
    return static_cast<int32_t>(bytesRead / 2 / static_cast<size_t>(fileChannels > 0 ? fileChannels : 1));
}

void splitFirstTwoChannels(int16_t* samples, int32_t frames, int32_t fileChannels) {
    // Ascending order keeps the in-place compaction safe: value i is overwritten only after
    // values n*i and n*i + 1 have been read, and the right channel's values from
    // EXPORT_RIGHT_CHANNEL_OFFSET on lie beyond every block.
    const size_t stride = static_cast<size_t>(fileChannels);
    for (int32_t i = 0; i < frames; ++i) {
        const size_t first = stride * static_cast<size_t>(i);
        samples[EXPORT_RIGHT_CHANNEL_OFFSET + i] = samples[first + 1];
        samples[i] = samples[first];
    }
}
