#include "recording/sample_format.h"

#include <cstring>

#include "recording/wav_header.h"

namespace {

// NOTE: mingw-w64 declares the KSDATAFORMAT_SUBTYPE_* GUIDs but no import library defines them,
// so the two this worker reads are spelled out (WAVE_FORMAT_PCM and WAVE_FORMAT_IEEE_FLOAT
// placed in the common base GUID 0000xxxx-0000-0010-8000-00aa00389b71).
constexpr GUID PCM_SUBFORMAT = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
constexpr GUID FLOAT_SUBFORMAT = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

// Maps a container size and the integer/float kind to an encoding.
SampleEncoding encodingFor(bool isFloat, WORD containerBits) {
    if (isFloat) return containerBits == 32 ? SampleEncoding::Float32 : SampleEncoding::Unsupported;
    switch (containerBits) {
        case 16: return SampleEncoding::Int16;
        case 24: return SampleEncoding::Int24;
        case 32: return SampleEncoding::Int32;
        default: return SampleEncoding::Unsupported;
    }
}

// Returns the kind-and-size encoding of the format before its sizes are cross-checked.
SampleEncoding declaredEncoding(const WAVEFORMATEX& format) {
    switch (format.wFormatTag) {
        case WAVE_FORMAT_IEEE_FLOAT: return encodingFor(true, format.wBitsPerSample);
        case WAVE_FORMAT_PCM: return encodingFor(false, format.wBitsPerSample);
        case WAVE_FORMAT_EXTENSIBLE: {
            if (format.cbSize < sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX))
                return SampleEncoding::Unsupported;
            const auto& extensible = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(format);
            // NOTE: integer samples narrower than their container (24 valid bits in 32) are
            // left-justified, so reading the whole container scales them correctly.
            if (IsEqualGUID(extensible.SubFormat, FLOAT_SUBFORMAT))
                return encodingFor(true, format.wBitsPerSample);
            if (IsEqualGUID(extensible.SubFormat, PCM_SUBFORMAT))
                return encodingFor(false, format.wBitsPerSample);
            return SampleEncoding::Unsupported;
        }
        default: return SampleEncoding::Unsupported;
    }
}

// Reads one little-endian signed integer of `bytes` bytes, placed in the top of an int32.
int32_t readLeftJustified(const BYTE* at, uint32_t bytes) {
    uint32_t value = 0;
    for (uint32_t i = 0; i < bytes; ++i) value |= static_cast<uint32_t>(at[i]) << (8 * (4 - bytes + i));
    return static_cast<int32_t>(value);
}

}  // namespace

SampleEncoding sampleEncodingOf(const WAVEFORMATEX& format) {
    const SampleEncoding encoding = declaredEncoding(format);
    if (encoding == SampleEncoding::Unsupported || format.nChannels == 0) return SampleEncoding::Unsupported;
    // A block that is not exactly one sample per channel would be read misaligned.
    if (format.nBlockAlign != format.nChannels * bytesPerSample(encoding)) return SampleEncoding::Unsupported;
    return encoding;
}

uint32_t bytesPerSample(SampleEncoding encoding) {
    switch (encoding) {
        case SampleEncoding::Float32: return 4;
        case SampleEncoding::Int16: return 2;
        case SampleEncoding::Int24: return 3;
        case SampleEncoding::Int32: return 4;
        default: return 0;
    }
}

std::vector<float> samplesToFloats(const BYTE* data, size_t sampleCount, SampleEncoding encoding) {
    std::vector<float> floats(sampleCount);
    const uint32_t width = bytesPerSample(encoding);
    if (encoding == SampleEncoding::Float32) {
        if (sampleCount != 0) std::memcpy(floats.data(), data, sampleCount * sizeof(float));
        return floats;
    }
    if (width == 0) return std::vector<float>(sampleCount, 0.0f);
    // Every integer width is placed in the top of 32 bits, so one scale of 2^-31 fits them all.
    constexpr double scale = 1.0 / 2147483648.0;
    for (size_t i = 0; i < sampleCount; ++i)
        floats[i] = static_cast<float>(readLeftJustified(data + i * width, width) * scale);
    return floats;
}

bool packetFitsInWav(uint64_t bytesWritten, uint32_t frames, int32_t channels) {
    // The same unsigned 32-bit sample count that the packet pipeline writes.
    const uint32_t sampleCount = frames * static_cast<uint32_t>(channels);
    const uint64_t packetBytes = static_cast<uint64_t>(sampleCount) * sizeof(int16_t);
    return bytesWritten <= WAV_MAX_DATA_BYTES && packetBytes <= WAV_MAX_DATA_BYTES - bytesWritten;
}

uint64_t audioMilliseconds(uint64_t pcmBytes, int32_t sampleRate, int32_t channels) {
    if (sampleRate <= 0 || channels <= 0) return 0;
    const uint64_t bytesPerSecond = static_cast<uint64_t>(sampleRate) * static_cast<uint64_t>(channels) * 2;
    // Split so that the product cannot overflow for any byte count a WAV file can hold.
    return pcmBytes / bytesPerSecond * 1000 + pcmBytes % bytesPerSecond * 1000 / bytesPerSecond;
}
