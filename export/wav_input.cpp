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
    if (header.numChannels != 1 && header.numChannels != 2) return false;
    return header.sampleRate >= EXPORT_MIN_SAMPLE_RATE && header.sampleRate <= EXPORT_MAX_SAMPLE_RATE;
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
