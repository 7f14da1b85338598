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
    if (header.numChannels != 1 && header.numChannels != 2) return false;
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

int32_t stereoFramesInBlock(size_t bytesRead) {
    return static_cast<int32_t>((bytesRead / 2) / 2);
}

int32_t monoSamplesInBlock(size_t bytesRead) {
    return static_cast<int32_t>(bytesRead / 2);
}

void splitStereoBlock(int16_t* samples, int32_t frames) {
    // Ascending order keeps the in-place compaction safe: value i is overwritten only after
    // values 2i and 2i + 1 have been read.
    for (int32_t i = 0; i < frames; ++i) {
        samples[EXPORT_RIGHT_CHANNEL_OFFSET + i] = samples[2 * i + 1];
        samples[i] = samples[2 * i];
    }
}
