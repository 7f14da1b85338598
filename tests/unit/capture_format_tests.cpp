// Capture worker, pure part: which mix formats can be read, their samples as floats, and the
// decision that ends a recording before the WAV size fields would overflow.
#include <gtest/gtest.h>

#include <windows.h>
#include <mmreg.h>

#include <cstring>
#include <limits>
#include <vector>

#include "recording/sample_format.h"
#include "recording/wav_header.h"

namespace {

// The sub-formats as the platform documents them (the import libraries do not define them).
constexpr GUID SUBTYPE_PCM = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
constexpr GUID SUBTYPE_IEEE_FLOAT = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

// A sub-format the worker does not read (A-law), spelled out so no header is needed for it.
constexpr GUID OTHER_SUBTYPE = {0x00000006, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

WAVEFORMATEX plainFormat(WORD tag, WORD channels, WORD bits, WORD blockAlign = 0) {
    WAVEFORMATEX format{};
    format.wFormatTag = tag;
    format.nChannels = channels;
    format.nSamplesPerSec = 48000;
    format.wBitsPerSample = bits;
    format.nBlockAlign = blockAlign ? blockAlign : static_cast<WORD>(channels * bits / 8);
    format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
    return format;
}

WAVEFORMATEXTENSIBLE extensibleFormat(const GUID& subFormat, WORD channels, WORD bits, WORD validBits) {
    WAVEFORMATEXTENSIBLE format{};
    format.Format = plainFormat(WAVE_FORMAT_EXTENSIBLE, channels, bits);
    format.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    format.Samples.wValidBitsPerSample = validBits;
    format.SubFormat = subFormat;
    return format;
}

}  // namespace

TEST(CaptureSampleFormat, PlainFormatsMapToTheirEncoding) {
    struct Case {
        WAVEFORMATEX format;
        SampleEncoding expected;
    } cases[] = {
        {plainFormat(WAVE_FORMAT_IEEE_FLOAT, 2, 32), SampleEncoding::Float32},
        {plainFormat(WAVE_FORMAT_PCM, 1, 16), SampleEncoding::Int16},
        {plainFormat(WAVE_FORMAT_PCM, 2, 24), SampleEncoding::Int24},
        {plainFormat(WAVE_FORMAT_PCM, 6, 32), SampleEncoding::Int32},
        {plainFormat(WAVE_FORMAT_PCM, 1, 8), SampleEncoding::Unsupported},
        {plainFormat(WAVE_FORMAT_IEEE_FLOAT, 2, 64), SampleEncoding::Unsupported},
        {plainFormat(WAVE_FORMAT_ADPCM, 1, 4), SampleEncoding::Unsupported},
        {plainFormat(WAVE_FORMAT_PCM, 0, 16), SampleEncoding::Unsupported},
        // A block that does not hold exactly one sample per channel cannot be walked safely.
        {plainFormat(WAVE_FORMAT_PCM, 2, 16, 6), SampleEncoding::Unsupported},
        {plainFormat(WAVE_FORMAT_IEEE_FLOAT, 2, 32, 4), SampleEncoding::Unsupported},
    };
    for (const Case& c : cases)
        EXPECT_EQ(sampleEncodingOf(c.format), c.expected)
            << "tag " << c.format.wFormatTag << ", " << c.format.wBitsPerSample << " bits";
}

TEST(CaptureSampleFormat, ExtensibleFormatsMapToTheirSubFormat) {
    struct Case {
        WAVEFORMATEXTENSIBLE format;
        SampleEncoding expected;
    } cases[] = {
        {extensibleFormat(SUBTYPE_IEEE_FLOAT, 1, 32, 32), SampleEncoding::Float32},
        {extensibleFormat(SUBTYPE_PCM, 2, 16, 16), SampleEncoding::Int16},
        {extensibleFormat(SUBTYPE_PCM, 2, 24, 24), SampleEncoding::Int24},
        {extensibleFormat(SUBTYPE_PCM, 2, 32, 24), SampleEncoding::Int32},
        {extensibleFormat(SUBTYPE_PCM, 8, 32, 32), SampleEncoding::Int32},
        {extensibleFormat(OTHER_SUBTYPE, 1, 16, 16), SampleEncoding::Unsupported},
        {extensibleFormat(SUBTYPE_IEEE_FLOAT, 1, 64, 64), SampleEncoding::Unsupported},
    };
    for (const Case& c : cases)
        EXPECT_EQ(sampleEncodingOf(c.format.Format), c.expected) << c.format.Format.wBitsPerSample << " bits";

    // An extensible tag without room for its extension is not trusted.
    WAVEFORMATEXTENSIBLE truncated = extensibleFormat(SUBTYPE_PCM, 2, 16, 16);
    truncated.Format.cbSize = 0;
    EXPECT_EQ(sampleEncodingOf(truncated.Format), SampleEncoding::Unsupported);
}

TEST(CaptureSampleFormat, IntegerSamplesScaleByTheirFullRange) {
    struct Case {
        SampleEncoding encoding;
        std::vector<unsigned char> bytes;  // little-endian samples
        std::vector<float> expected;
    } cases[] = {
        {SampleEncoding::Int16, {0x00, 0x00, 0x00, 0x40, 0x00, 0x80, 0x00, 0xC0, 0xFF, 0x7F, 0x01, 0x00},
         {0.0f, 0.5f, -1.0f, -0.5f, 32767.0f / 32768.0f, 1.0f / 32768.0f}},
        {SampleEncoding::Int24, {0x00, 0x00, 0x40, 0x00, 0x00, 0x80, 0x00, 0x00, 0xC0, 0x01, 0x00, 0x00},
         {0.5f, -1.0f, -0.5f, 1.0f / 8388608.0f}},
        {SampleEncoding::Int32, {0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0xE0},
         {0.5f, -1.0f, -0.25f}},
    };
    for (const Case& c : cases) {
        const std::vector<float> floats = samplesToFloats(c.bytes.data(), c.expected.size(), c.encoding);
        ASSERT_EQ(floats.size(), c.expected.size());
        for (size_t i = 0; i < floats.size(); ++i)
            EXPECT_FLOAT_EQ(floats[i], c.expected[i]) << "encoding " << static_cast<int>(c.encoding) << " sample " << i;
    }
}

TEST(CaptureSampleFormat, FloatSamplesPassThroughUnchanged) {
    const std::vector<float> samples = {0.25f, -1.5f, std::numeric_limits<float>::quiet_NaN(), 1e-7f};
    std::vector<unsigned char> bytes(samples.size() * sizeof(float));
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    const std::vector<float> floats = samplesToFloats(bytes.data(), samples.size(), SampleEncoding::Float32);
    ASSERT_EQ(floats.size(), samples.size());
    EXPECT_EQ(std::memcmp(floats.data(), samples.data(), bytes.size()), 0);
}

TEST(CaptureWavLimit, PacketEndsTheRecordingBeforeTheSizeFieldsOverflow) {
    struct Case {
        uint64_t bytesWritten;
        uint32_t frames;
        int32_t channels;
        bool fits;
    } cases[] = {
        {0, 480, 2, true},
        {0, 0, 2, true},
        {WAV_MAX_DATA_BYTES - 1920, 480, 2, true},   // lands exactly on the limit
        {WAV_MAX_DATA_BYTES - 1918, 480, 2, false},  // two bytes past it
        {WAV_MAX_DATA_BYTES, 0, 1, true},
        {WAV_MAX_DATA_BYTES, 1, 1, false},
        {WAV_MAX_DATA_BYTES + 10, 0, 1, false},      // already past: never write more
        {0, 0x7FFFFFFF, 1, false},                   // one huge packet alone passes the limit
        {0, 0x7FFFFFED, 1, true},                    // 4294967258 bytes: the largest that fits
    };
    for (const Case& c : cases)
        EXPECT_EQ(packetFitsInWav(c.bytesWritten, c.frames, c.channels), c.fits)
            << c.bytesWritten << " + " << c.frames << " x " << c.channels;
}
