// Malformed and truncated WAV files by the thousand: every export ends in time with either a
// silent, well-formed MP3 or "Invalid WAV file format." and nothing left behind.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <random>
#include <string>

#include "export/mp3_export.h"
#include "export/wav_input.h"
#include "export_test_helpers.h"
#include "recording/wav_header.h"
#include "temp_dir.h"

namespace {

// Returns one random WAV-like file: a real header with random fields, random damage and a random cut.
std::vector<unsigned char> randomWavFile(std::mt19937& random) {
    static const uint32_t rates[] = {0, 1, 4000, 7999, 8000, 11025, 22050, 44100, 48000, 96000,
                                     192000, 192001, 0x7FFFFFFF, 0xFFFFFFFF};
    std::uniform_int_distribution<int> percent(0, 99);
    const int32_t channels = percent(random) < 80 ? 1 + percent(random) % 2 : percent(random) % 7;
    const uint32_t rate = percent(random) < 15 ? static_cast<uint32_t>(random()) : rates[random() % 14];
    const uint32_t dataSize = percent(random) < 50 ? static_cast<uint32_t>(random()) : 0;
    const auto header = wavHeaderBytes(makeWavHeader(static_cast<int32_t>(rate), 16, channels, dataSize, false));
    std::vector<unsigned char> bytes(header.begin(), header.end());

    // Data: mostly short, some across a block boundary; noise, so the encoder works hard. The
    // encoder resamples a rate below 8000 Hz up (1 Hz: 8000 output samples for each one read),
    // so such files hold at most about ten seconds of audio, to keep the run short.
    size_t dataBytes = percent(random) < 85 ? random() % 4000 : 16000 + random() % 20000;
    if (rate != 0 && rate < 8000 && dataBytes > static_cast<size_t>(rate) * 20) dataBytes = rate * 20;
    for (size_t i = 0; i < dataBytes; ++i) bytes.push_back(static_cast<unsigned char>(random()));

    const int damage = percent(random);
    if (damage < 30) {  // flip a few header bytes
        for (int i = 1 + random() % 4; i > 0; --i) bytes[random() % 44] = static_cast<unsigned char>(random());
    } else if (damage < 40) {  // a foreign identifier
        std::memcpy(bytes.data() + (random() % 2 ? 0 : 8), "JUNK", 4);
    }
    if (percent(random) < 25) bytes.resize(random() % (bytes.size() + 1));  // cut anywhere, also in the header
    return bytes;
}

// Returns true when the file should be encoded: a whole header the encoder can take.
bool expectEncodable(const std::vector<unsigned char>& bytes) {
    if (bytes.size() < 44) return false;
    WavHeader header;
    std::memcpy(&header, bytes.data(), 44);
    return isEncodableWavHeader(header, 44);
}

TEST(ExportFuzz, ThousandMalformedFilesEndInADefinedOutcome) {
    std::mt19937 random(20240607);
    TempDir dir;
    int encoded = 0, refused = 0;
    for (int i = 0; i < 1000; ++i) {
        const std::vector<unsigned char> wav = randomWavFile(random);
        WavHeader header{};
        std::memcpy(&header, wav.data(), wav.size() < 44 ? wav.size() : 44);
        SCOPED_TRACE("file " + std::to_string(i) + " of " + std::to_string(wav.size()) + " bytes, " +
                     std::to_string(header.numChannels) + " channels at " + std::to_string(header.sampleRate) + " Hz");
        writeFileBytes(dir.path() / "in.wav", wav);
        const ExportOutcome outcome = runWatchedExport(dir.wideFile(L"out.mp3"), dir.wideFile(L"in.wav"), 20000);
        ASSERT_TRUE(outcome.finished) << "the export hung";
        if (expectEncodable(wav)) {
            ASSERT_TRUE(outcome.boxes.empty()) << std::string(outcome.boxes[0].text.begin(), outcome.boxes[0].text.end());
            ASSERT_TRUE(walkMp3Frames(readFileBytes(dir.path() / "out.mp3")).wellFormed);
            std::filesystem::remove(dir.path() / "out.mp3");
            ++encoded;
        } else {
            ASSERT_EQ(outcome.boxes.size(), 1u);
            ASSERT_EQ(outcome.boxes[0].text, EXPORT_INVALID_WAV_TEXT);
            ++refused;
        }
        ASSERT_EQ(folderEntries(dir.path()), std::vector<std::wstring>{L"in.wav"}) << "something left behind";
    }
    // The generator reaches both outcomes often.
    EXPECT_GT(encoded, 200);
    EXPECT_GT(refused, 200);
}

}  // namespace
