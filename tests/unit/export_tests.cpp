// The MP3 export: header checks and block splitting as numbers, and the job itself on real
// files under Wine, with its message boxes found, read and dismissed as a user would.
#include <gtest/gtest.h>

#include <windows.h>

#include <lame/lame.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <numeric>
#include <set>
#include <thread>

#include "export/mp3_encoder.h"
#include "export/mp3_export.h"
#include "export/wav_input.h"
#include "export_test_helpers.h"
#include "recording/wav_header.h"
#include "temp_dir.h"

namespace {

// ---------------------------------------------------------------------------------------------
// Pure parts

struct HeaderCase {
    const char* name;
    size_t bytesRead;
    void (*change)(WavHeader&);
    bool encodable;
};

TEST(ExportWavCheck, AcceptsOnlyWhatTheEncoderCanTake) {
    const HeaderCase cases[] = {
        {"stereo 48000", 44, [](WavHeader&) {}, true},
        {"mono 44100", 44, [](WavHeader& h) { h.numChannels = 1; h.sampleRate = 44100; }, true},
        {"1 Hz: the encoder decides", 44, [](WavHeader& h) { h.sampleRate = 1; }, true},
        {"4000 Hz", 44, [](WavHeader& h) { h.sampleRate = 4000; }, true},
        {"384000 Hz", 44, [](WavHeader& h) { h.sampleRate = 384000; }, true},
        {"the highest rate the encoder's interface carries", 44, [](WavHeader& h) { h.sampleRate = 0x7FFFFFFF; }, true},
        {"wrong data size is not examined", 44, [](WavHeader& h) { h.dataSize = 7; h.riffSize = 0; }, true},
        {"32-bit float", 44, [](WavHeader& h) { h.audioFormat = 3; h.bitsPerSample = 32; }, false},
        {"float code with 16 bits", 44, [](WavHeader& h) { h.audioFormat = 3; }, false},
        {"extensible format code", 44, [](WavHeader& h) { h.audioFormat = 0xFFFE; }, false},
        {"24-bit PCM", 44, [](WavHeader& h) { h.bitsPerSample = 24; }, false},
        {"8-bit PCM", 44, [](WavHeader& h) { h.bitsPerSample = 8; }, false},
        {"short read", 43, [](WavHeader&) {}, false},
        {"empty file keeps the preset identifiers", 0, [](WavHeader&) {}, false},
        {"RIFX", 44, [](WavHeader& h) { h.riffId[3] = 'X'; }, false},
        {"not WAVE", 44, [](WavHeader& h) { std::memcpy(h.waveId, "AVI ", 4); }, false},
        {"lower-case riff", 44, [](WavHeader& h) { std::memcpy(h.riffId, "riff", 4); }, false},
        {"no channels", 44, [](WavHeader& h) { h.numChannels = 0; }, false},
        {"three channels", 44, [](WavHeader& h) { h.numChannels = 3; }, true},
        {"eight channels", 44, [](WavHeader& h) { h.numChannels = 8; }, true},
        {"8192 channels: one frame fills a block", 44, [](WavHeader& h) { h.numChannels = 8192; }, true},
        {"8193 channels: a frame larger than a block", 44, [](WavHeader& h) { h.numChannels = 8193; }, false},
        {"65535 channels", 44, [](WavHeader& h) { h.numChannels = 65535; }, false},
        {"rate 0", 44, [](WavHeader& h) { h.sampleRate = 0; }, false},
        {"rate negative as int", 44, [](WavHeader& h) { h.sampleRate = 0x80000000u; }, false},
        {"rate 4294967295", 44, [](WavHeader& h) { h.sampleRate = 0xFFFFFFFFu; }, false},
    };
    for (const HeaderCase& c : cases) {
        WavHeader header = makeWavHeader(48000, 16, 2, 1000, false);
        c.change(header);
        EXPECT_EQ(isEncodableWavHeader(header, c.bytesRead), c.encodable) << c.name;
    }
}

TEST(ExportBlocks, BlocksHoldWholeFramesAndCountThem) {
    const struct {
        int32_t channels;
        size_t blockBytes;
        int32_t blockFrames;
        int32_t mp3Channels;
    } layouts[] = {
        {1, 16384, 8192, 1}, {2, 16384, 4096, 2}, {3, 16380, 2730, 2}, {4, 16384, 2048, 2},
        {6, 16380, 1365, 2}, {8, 16384, 1024, 2}, {8192, 16384, 1, 2},
    };
    for (const auto& l : layouts) {
        EXPECT_EQ(exportBlockBytes(l.channels), l.blockBytes) << l.channels;
        EXPECT_EQ(framesInBlock(l.blockBytes, l.channels), l.blockFrames) << l.channels;
        EXPECT_EQ(mp3Channels(l.channels), l.mp3Channels) << l.channels;
    }
    const struct {
        size_t bytes;
        int32_t stereoFrames;
        int32_t monoSamples;
        int32_t fourChannelFrames;
    } cases[] = {
        {0, 0, 0, 0},          {1, 0, 0, 0},          {2, 0, 1, 0},          {3, 0, 1, 0},
        {4, 1, 2, 0},          {8, 2, 4, 1},          {10000, 2500, 5000, 1250}, {16384, 4096, 8192, 2048},
        {16385, 4096, 8192, 2048}, {16387, 4096, 8193, 2048},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(framesInBlock(c.bytes, 2), c.stereoFrames) << c.bytes;
        EXPECT_EQ(framesInBlock(c.bytes, 1), c.monoSamples) << c.bytes;
        EXPECT_EQ(framesInBlock(c.bytes, 4), c.fourChannelFrames) << c.bytes;
    }
}

TEST(ExportBlocks, EncoderCallsAreShortenedOnlyWhenTheEncoderResamplesUp) {
    const struct {
        int32_t blockFrames;
        uint32_t inputRate, outputRate;
        int32_t expected;
    } cases[] = {
        {4096, 48000, 48000, 4096}, {8192, 96000, 48000, 8192}, {4096, 44100, 44100, 4096},
        {8192, 4000, 8000, 4096},   {4096, 1000, 8000, 512},    {4096, 7999, 8000, 4095},
        {4096, 1, 8000, 1},         {1000, 4000, 8000, 500},    {0, 1, 8000, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(framesPerEncoderCall(c.blockFrames, c.inputRate, c.outputRate), c.expected)
            << c.blockFrames << " frames at " << c.inputRate << " Hz to " << c.outputRate << " Hz";
    }
}

TEST(ExportBlocks, SplitsTheFirstTwoChannelsInPlace) {
    for (int32_t channels : {2, 3, 8}) {
        const int32_t fullBlock = framesInBlock(exportBlockBytes(channels), channels);
        for (int32_t frames : {0, 1, 1000, fullBlock}) {
            SCOPED_TRACE(std::to_string(channels) + " channels, " + std::to_string(frames) + " frames");
            // Channel c of frame f holds f * 10 + c, so every value tells where it came from.
            std::vector<int16_t> buffer(EXPORT_SAMPLE_VALUES, -7);
            for (int32_t f = 0; f < frames; ++f)
                for (int32_t c = 0; c < channels; ++c) buffer[f * channels + c] = static_cast<int16_t>((f * 10 + c) % 32000);
            splitFirstTwoChannels(buffer.data(), frames, channels);
            for (int32_t i = 0; i < frames; ++i) {
                ASSERT_EQ(buffer[i], (i * 10) % 32000) << "left " << i;
                ASSERT_EQ(buffer[EXPORT_RIGHT_CHANNEL_OFFSET + i], (i * 10 + 1) % 32000) << "right " << i;
            }
            if (frames == 0) EXPECT_EQ(buffer[0], -7);
            if (EXPORT_RIGHT_CHANNEL_OFFSET + frames < EXPORT_SAMPLE_VALUES) {
                EXPECT_EQ(buffer[EXPORT_RIGHT_CHANNEL_OFFSET + frames], -7) << "beyond the block";
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// The job on real files

// Returns a sine of the given number of data bytes (whole samples) for the channel count.
std::vector<int16_t> sineOfBytes(size_t bytes, int32_t channels, int32_t rate) {
    return sineSamples(static_cast<uint32_t>(bytes / 2 / channels), channels, rate, 440.0, 1000.0);
}

// Expects a silent export that left exactly the WAV and the MP3 in the folder.
void expectCleanSuccess(const ExportOutcome& outcome, const TempDir& dir) {
    EXPECT_TRUE(outcome.finished);
    EXPECT_TRUE(outcome.boxes.empty()) << (outcome.boxes.empty() ? std::string() : std::string("box shown"));
    EXPECT_EQ(folderEntries(dir.path()), (std::vector<std::wstring>{L"in.wav", L"out.mp3"}));
}

// Expects exactly one box with the text, caption "Error", the error icon and no owner.
void expectSingleError(const ExportOutcome& outcome, const wchar_t* text) {
    ASSERT_TRUE(outcome.finished);
    ASSERT_EQ(outcome.boxes.size(), 1u);
    EXPECT_EQ(outcome.boxes[0].text, text);
    EXPECT_EQ(outcome.boxes[0].caption, L"Error");
    EXPECT_FALSE(outcome.boxes[0].hasOwner);
    EXPECT_TRUE(outcome.boxes[0].hasErrorIcon);
}

struct EncodeCase {
    const char* name;
    int32_t channels;
    int32_t rate;
    size_t dataBytes;
    size_t strayBytes;
};

TEST(ExportJob, EncodesLikeTheLibraryFedInOneCall) {
    const EncodeCase cases[] = {
        {"stereo 10000 bytes: one block of 2500 frames", 2, 48000, 10000, 0},
        {"stereo exactly one block", 2, 48000, 16384, 0},
        {"mono exactly one block", 1, 48000, 16384, 0},
        {"stereo block ending in 3 stray bytes", 2, 48000, 10000, 3},
        {"stereo block ending in 1 stray byte", 2, 44100, 16384, 1},
        {"mono odd trailing byte", 1, 44100, 20000, 1},
        {"stereo one second, many blocks", 2, 48000, 192000, 0},
        {"mono 22050 with a short last block", 1, 22050, 100002, 0},
        {"stereo 8000", 2, 8000, 32000, 0},
        {"mono 96000, resampled by the encoder", 1, 96000, 96000, 0},
        {"stereo 384000, as a capture device may record, resampled down", 2, 384000, 768000, 0},
        {"mono 4000, resampled up into more samples than a block", 1, 4000, 40000, 0},
        {"stereo 1000, resampled up eightfold", 2, 1000, 16000, 0},
        {"no data at all", 2, 48000, 0, 0},
    };
    for (const EncodeCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::vector<int16_t> samples = sineOfBytes(c.dataBytes, c.channels, c.rate);
        writeWavFile(dir.path() / "in.wav", c.rate, c.channels, samples,
                     std::vector<unsigned char>(c.strayBytes, 0x5A));
        const ExportOutcome outcome = runWatchedExport(dir.wideFile(L"out.mp3"), dir.wideFile(L"in.wav"));
        expectCleanSuccess(outcome, dir);
        const std::vector<unsigned char> mp3 = readFileBytes(dir.path() / "out.mp3");
        EXPECT_EQ(mp3, referenceMp3(samples, c.channels, c.rate));
        const Mp3Frames frames = walkMp3Frames(mp3);
        EXPECT_TRUE(frames.wellFormed);
        // The tag frame, the encoder delay and the padding add less than 3 x 1152 samples.
        const double framesOfAudio = static_cast<double>(samples.size() / c.channels) * frames.sampleRate / c.rate;
        EXPECT_GE(frames.frames * frames.samplesPerFrame, framesOfAudio);
        EXPECT_LE(frames.frames * frames.samplesPerFrame, framesOfAudio + 3.0 * 1152);
    }
}

TEST(ExportJob, MoreThanTwoChannelsBecomeStereoOfTheFirstTwo) {
    const struct {
        int32_t channels;
        int32_t rate;
        uint32_t frames;
        size_t strayBytes;
    } cases[] = {
        {3, 48000, 20000, 0},  // frames of 6 bytes: no block ends on the buffer's 16384 bytes
        {4, 48000, 48000, 0},
        {8, 96000, 24000, 5},  // a partial frame at the end is dropped
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.channels) + " channels");
        TempDir dir;
        // Each channel its own pitch, so a wrong pick of channels shows in the bytes.
        std::vector<int16_t> samples(static_cast<size_t>(c.frames) * c.channels);
        std::vector<int16_t> firstTwo(static_cast<size_t>(c.frames) * 2);
        for (uint32_t f = 0; f < c.frames; ++f) {
            for (int32_t ch = 0; ch < c.channels; ++ch) {
                const double hz = 300.0 * (ch + 1);
                const int16_t v = static_cast<int16_t>(12000.0 * std::sin(2.0 * 3.14159265358979 * hz * f / c.rate));
                samples[static_cast<size_t>(f) * c.channels + ch] = v;
                if (ch < 2) firstTwo[static_cast<size_t>(f) * 2 + ch] = v;
            }
        }
        writeWavFile(dir.path() / "in.wav", c.rate, c.channels, samples, std::vector<unsigned char>(c.strayBytes, 0x5A));
        const std::vector<unsigned char> wavBefore = readFileBytes(dir.path() / "in.wav");
        expectCleanSuccess(runWatchedExport(dir.wideFile(L"out.mp3"), dir.wideFile(L"in.wav")), dir);
        EXPECT_EQ(readFileBytes(dir.path() / "out.mp3"), referenceMp3(firstTwo, 2, c.rate));
        EXPECT_EQ(readFileBytes(dir.path() / "in.wav"), wavBefore) << "the recording is never changed";
    }
}

TEST(ExportJob, ReplacesAnOlderMp3OfTheSameName) {
    TempDir dir;
    const std::vector<int16_t> samples = sineOfBytes(40000, 2, 48000);
    writeWavFile(dir.path() / "in.wav", 48000, 2, samples);
    writeFileBytes(dir.path() / "out.mp3", std::vector<unsigned char>(300000, 0xEE));
    expectCleanSuccess(runWatchedExport(dir.wideFile(L"out.mp3"), dir.wideFile(L"in.wav")), dir);
    EXPECT_EQ(readFileBytes(dir.path() / "out.mp3"), referenceMp3(samples, 2, 48000));
}

struct RefusalCase {
    const char* name;
    std::vector<unsigned char> (*wavBytes)();
    const wchar_t* text;
};

// Returns the bytes of a valid one-block stereo WAV.
std::vector<unsigned char> validWavBytes() {
    const WavHeader header = makeWavHeader(48000, 16, 2, 16384, false);
    const auto headerBytes = wavHeaderBytes(header);
    std::vector<unsigned char> bytes(headerBytes.begin(), headerBytes.end());
    bytes.resize(44 + 16384, 0x11);
    return bytes;
}

TEST(ExportJob, RefusesBadInputWithItsMessageAndLeavesNoMp3) {
    const RefusalCase cases[] = {
        {"not RIFF", [] { auto b = validWavBytes(); std::memcpy(b.data(), "RIFX", 4); return b; },
         EXPORT_INVALID_WAV_TEXT},
        {"not WAVE", [] { auto b = validWavBytes(); std::memcpy(b.data() + 8, "WAVX", 4); return b; },
         EXPORT_INVALID_WAV_TEXT},
        {"a text file", [] { const char t[] = "hello, this is not a recording at all, just text.";
                             return std::vector<unsigned char>(t, t + sizeof t - 1); },
         EXPORT_INVALID_WAV_TEXT},
        {"empty file", [] { return std::vector<unsigned char>(); }, EXPORT_INVALID_WAV_TEXT},
        {"12 bytes of a real header", [] { auto b = validWavBytes(); b.resize(12); return b; },
         EXPORT_INVALID_WAV_TEXT},
        {"43 bytes of a real header", [] { auto b = validWavBytes(); b.resize(43); return b; },
         EXPORT_INVALID_WAV_TEXT},
        {"8193 channels", [] { auto b = validWavBytes(); b[22] = 0x01; b[23] = 0x20; return b; }, EXPORT_INVALID_WAV_TEXT},
        {"zero channels", [] { auto b = validWavBytes(); b[22] = 0; return b; }, EXPORT_INVALID_WAV_TEXT},
        {"32-bit float samples", [] { auto b = validWavBytes(); b[20] = 3; b[34] = 32; return b; },
         EXPORT_INVALID_WAV_TEXT},
        {"24-bit samples", [] { auto b = validWavBytes(); b[34] = 24; return b; }, EXPORT_INVALID_WAV_TEXT},
        {"8-bit samples", [] { auto b = validWavBytes(); b[34] = 8; return b; }, EXPORT_INVALID_WAV_TEXT},
        {"rate 0", [] { auto b = validWavBytes(); std::memset(b.data() + 24, 0, 4); return b; },
         EXPORT_INVALID_WAV_TEXT},
        {"rate 4294967295", [] { auto b = validWavBytes(); std::memset(b.data() + 24, 0xFF, 4); return b; },
         EXPORT_INVALID_WAV_TEXT},
    };
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        writeFileBytes(dir.path() / "in.wav", c.wavBytes());
        const ExportOutcome outcome = runWatchedExport(dir.wideFile(L"out.mp3"), dir.wideFile(L"in.wav"));
        expectSingleError(outcome, c.text);
        EXPECT_EQ(folderEntries(dir.path()), std::vector<std::wstring>{L"in.wav"});
    }
}

TEST(ExportJob, MissingWavShowsTheOpenMessageAndLeavesAnOlderMp3Alone) {
    TempDir dir;
    const std::vector<unsigned char> older(5000, 0x42);
    writeFileBytes(dir.path() / "out.mp3", older);
    const ExportOutcome outcome = runWatchedExport(dir.wideFile(L"out.mp3"), dir.wideFile(L"missing.wav"));
    expectSingleError(outcome, EXPORT_OPEN_FAILED_TEXT);
    EXPECT_EQ(folderEntries(dir.path()), std::vector<std::wstring>{L"out.mp3"});
    EXPECT_EQ(readFileBytes(dir.path() / "out.mp3"), older);
}

TEST(ExportJob, RefusedWavLeavesAnOlderMp3Alone) {
    TempDir dir;
    const std::vector<unsigned char> older(5000, 0x42);
    writeFileBytes(dir.path() / "out.mp3", older);
    writeFileBytes(dir.path() / "in.wav", std::vector<unsigned char>(100, 0));
    expectSingleError(runWatchedExport(dir.wideFile(L"out.mp3"), dir.wideFile(L"in.wav")), EXPORT_INVALID_WAV_TEXT);
    EXPECT_EQ(readFileBytes(dir.path() / "out.mp3"), older);
}

TEST(ExportJob, Mp3InAMissingFolderShowsTheCreateMessage) {
    TempDir dir;
    writeFileBytes(dir.path() / "in.wav", validWavBytes());
    const ExportOutcome outcome =
        runWatchedExport(dir.wideFile(L"no such folder\\out.mp3"), dir.wideFile(L"in.wav"));
    expectSingleError(outcome, EXPORT_CREATE_FAILED_TEXT);
    EXPECT_EQ(folderEntries(dir.path()), std::vector<std::wstring>{L"in.wav"});
}

TEST(ExportJob, Mp3NameTakenByAFolderShowsTheCreateMessageAndLeavesNoPartialFile) {
    TempDir dir;
    writeFileBytes(dir.path() / "in.wav", validWavBytes());
    std::filesystem::create_directory(dir.path() / "out.mp3");
    writeFileBytes(dir.path() / "out.mp3" / "keep.txt", {1, 2, 3});
    const ExportOutcome outcome = runWatchedExport(dir.wideFile(L"out.mp3"), dir.wideFile(L"in.wav"));
    expectSingleError(outcome, EXPORT_CREATE_FAILED_TEXT);
    EXPECT_EQ(folderEntries(dir.path()), (std::vector<std::wstring>{L"in.wav", L"out.mp3"}));
    EXPECT_EQ(readFileBytes(dir.path() / "out.mp3" / "keep.txt"), (std::vector<unsigned char>{1, 2, 3}));
}

// Returns no encoder, as a library out of memory would.
lame_t failingEncoderCreation() { return nullptr; }

// Returns an encoder that has already been configured, so it refuses to be configured again.
lame_t encoderRefusingConfiguration() {
    lame_t lame = lame_init();
    lame_init_params(lame);
    return lame;
}

std::atomic<int> encodersCreated{0};

// Returns lame_init's encoder for the first two calls (the check of the encoder's rate and the
// first segment), none for the third (the second segment of a parallel export).
lame_t encoderFailingForTheSecondSegment() { return ++encodersCreated <= 2 ? lame_init() : nullptr; }

// Returns a WAV of 12 s of stereo at 48000 Hz: long enough to be encoded in segments.
std::vector<unsigned char> longWavBytes() {
    TempDir scratch;
    writeWavFile(scratch.path() / "long.wav", 48000, 2, sineSamples(48000 * 12, 2, 48000, 440.0, 1000.0));
    return readFileBytes(scratch.path() / "long.wav");
}

TEST(ExportJob, EncoderThatCannotBeCreatedOrConfiguredEndsTheJobWithAMessage) {
    const struct {
        Mp3EncoderFactory factory;
        std::vector<unsigned char> (*wav)();
    } cases[] = {
        {failingEncoderCreation, validWavBytes},
        {encoderRefusingConfiguration, validWavBytes},
        {failingEncoderCreation, longWavBytes},
        // One segment fails while others have run or still run: no file, no segment left.
        {encoderFailingForTheSecondSegment, longWavBytes},
    };
    for (const auto& c : cases) {
        TempDir dir;
        writeFileBytes(dir.path() / "in.wav", c.wav());
        const Mp3EncoderFactory factory = c.factory;
        encodersCreated = 0;
        createMp3Encoder = factory;
        const ExportOutcome outcome = runWatchedExport(dir.wideFile(L"out.mp3"), dir.wideFile(L"in.wav"));
        createMp3Encoder = lame_init;
        expectSingleError(outcome, EXPORT_ENCODER_FAILED_TEXT);
        EXPECT_EQ(folderEntries(dir.path()), std::vector<std::wstring>{L"in.wav"});
    }
}

// ---------------------------------------------------------------------------------------------
// What a job tells its window

TEST(ExportProgressFigures, ThousandthsPostingsAndLengths) {
    const struct { uint64_t done, total; int permille; } fractions[] = {
        {0, 100, 0}, {1, 1000, 1}, {999, 1000, 999}, {50, 100, 500}, {100, 100, 1000},
        {150, 100, 1000},  // a file that grew while it was read
        {0, 0, 1000},      // no data: done as soon as it starts
        {uint64_t{1} << 62, uint64_t{1} << 63, 500},  // no overflow on huge files
    };
    for (const auto& c : fractions) EXPECT_EQ(exportPermille(c.done, c.total), c.permille) << c.done << "/" << c.total;

    const struct { int permille, posted; uint64_t now, postedAt; bool due; } postings[] = {
        {0, -1, 5, 0, true},         // the first figure always goes out
        {10, 0, 1000, 900, false},   // too soon after the last
        {10, 0, 1150, 900, true},    // a quarter of a second later
        {10, 10, 5000, 0, false},    // nothing moved
        {1000, 990, 1100, 1000, false},
    };
    for (const auto& c : postings) {
        EXPECT_EQ(exportProgressDue(c.permille, c.posted, c.now, c.postedAt), c.due) << c.permille << " at " << c.now;
    }

    const struct { uint64_t bytes; int32_t channels; uint32_t rate; int64_t ms; } lengths[] = {
        {192000, 2, 48000, 1000}, {88200, 1, 44100, 1000}, {191999, 2, 48000, 999},
        {8ull * 96000 * 2 * 3600, 8, 96000, 3600000}, {100, 0, 48000, 0}, {100, 2, 0, 0},
    };
    for (const auto& c : lengths) EXPECT_EQ(exportAudioMs(c.bytes, c.channels, c.rate), c.ms) << c.bytes;
}

// Returns the export messages waiting for window, in the order they were posted.
std::vector<MSG> takeExportMessages(HWND window) {
    std::vector<MSG> messages;
    MSG message;
    while (PeekMessageW(&message, window, WM_EXPORT_PROGRESS, WM_EXPORT_FINISHED, PM_REMOVE)) messages.push_back(message);
    return messages;
}

TEST(ExportJob, TellsItsWindowHowFarItIsAndHowItEnded) {
    HWND window = CreateWindowExW(0, L"STATIC", nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    TempDir dir;
    writeWavFile(dir.path() / "in.wav", 48000, 2, sineSamples(48000 * 20, 2, 48000, 440.0, 1000.0));
    expectCleanSuccess(runWatchedExport(dir.wideFile(L"out.mp3"), dir.wideFile(L"in.wav"), 30000, window, 7), dir);
    std::vector<MSG> messages = takeExportMessages(window);
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages.front().message, static_cast<UINT>(WM_EXPORT_PROGRESS));
    EXPECT_EQ(messages.front().lParam, 0);
    int last = 0;
    for (size_t i = 0; i + 1 < messages.size(); ++i) {
        EXPECT_EQ(messages[i].message, static_cast<UINT>(WM_EXPORT_PROGRESS));
        EXPECT_EQ(messages[i].wParam, 7u);
        EXPECT_GE(messages[i].lParam, last) << "progress went back";
        EXPECT_LE(messages[i].lParam, EXPORT_PERMILLE_DONE);
        last = static_cast<int>(messages[i].lParam);
    }
    EXPECT_EQ(messages.back().message, static_cast<UINT>(WM_EXPORT_FINISHED));
    EXPECT_EQ(messages.back().wParam, 7u);
    EXPECT_EQ(messages.back().lParam, 20000) << "the MP3's length in milliseconds";

    // A failed job ends with EXPORT_FAILED, and its box is shown as before.
    const ExportOutcome failed = runWatchedExport(dir.wideFile(L"x.mp3"), dir.wideFile(L"missing.wav"), 30000, window, 8);
    expectSingleError(failed, EXPORT_OPEN_FAILED_TEXT);
    messages = takeExportMessages(window);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].message, static_cast<UINT>(WM_EXPORT_FINISHED));
    EXPECT_EQ(messages[0].wParam, 8u);
    EXPECT_EQ(messages[0].lParam, EXPORT_FAILED);
    DestroyWindow(window);
}

// ---------------------------------------------------------------------------------------------
// Several jobs, a growing file, shutdown

// Returns the job a partial file belongs to: "~voxtrel-PID-TID", from the job's partial file
// "~voxtrel-PID-TID.part" or its segment files "~voxtrel-PID-TID-K.part".
std::wstring partialFileJob(const std::wstring& name) {
    const std::wstring stem = name.substr(0, name.size() - 5);
    const size_t process = stem.find(L'-'), thread = stem.find(L'-', process + 1), segment = stem.find(L'-', thread + 1);
    return stem.substr(0, segment);
}

TEST(ExportJob, TwoExportsStartedOneAfterTheOtherRunSideBySide) {
    TempDir dir;
    const std::vector<int16_t> stereo = sineSamples(48000 * 20, 2, 48000, 440.0, 1000.0);
    const std::vector<int16_t> mono = sineSamples(44100 * 20, 1, 44100, 660.0, 0.0);
    writeWavFile(dir.path() / "a.wav", 48000, 2, stereo);
    writeWavFile(dir.path() / "b.wav", 44100, 1, mono);
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(startExport(dir.wideFile(L"a.mp3"), dir.wideFile(L"a.wav")));
    ASSERT_TRUE(startExport(dir.wideFile(L"b.mp3"), dir.wideFile(L"b.wav")));
    // Both jobs' partial files exist at once while neither job has finished: the jobs overlap.
    // A job's segments have files of their own, named after its partial file.
    bool sawBothRunning = false;
    while (!sawBothRunning && std::chrono::steady_clock::now() - started < std::chrono::seconds(30)) {
        std::set<std::wstring> jobs;
        int finished = 0;
        for (const std::wstring& name : folderEntries(dir.path())) {
            if (name.size() > 5 && name.compare(name.size() - 5, 5, L".part") == 0) jobs.insert(partialFileJob(name));
            if (name == L"a.mp3" || name == L"b.mp3") ++finished;
        }
        if (finished > 0) break;
        sawBothRunning = jobs.size() == 2;
        Sleep(1);
    }
    waitForRunningExports();
    EXPECT_TRUE(sawBothRunning);
    // Long enough to be encoded in segments: the frames decode like one encoder's.
    expectDecodesAlike(readFileBytes(dir.path() / "a.mp3"), referenceMp3(stereo, 2, 48000));
    expectDecodesAlike(readFileBytes(dir.path() / "b.mp3"), referenceMp3(mono, 1, 44100));
    EXPECT_EQ(folderEntries(dir.path()), (std::vector<std::wstring>{L"a.mp3", L"a.wav", L"b.mp3", L"b.wav"}));
}

TEST(ExportJob, ExportsToOneNameFinishingTogetherLeaveOneWholeMp3AndNoMessage) {
    // Short inputs finish within moments of each other, so their renames over the one name
    // collide; each round must still end silently with one whole MP3.
    TempDir dir;
    const std::vector<int16_t> samples = sineSamples(48000 / 2, 2, 48000, 440.0, 1000.0);
    writeWavFile(dir.path() / "in.wav", 48000, 2, samples);
    const std::vector<unsigned char> expected = referenceMp3(samples, 2, 48000);
    constexpr int ROUNDS = 8;
    constexpr int JOBS = 4;
    for (int round = 0; round < ROUNDS; ++round) {
        std::vector<std::future<ExportOutcome>> jobs;
        for (int j = 0; j < JOBS; ++j) {
            jobs.push_back(std::async(std::launch::async, [&] {
                return runWatchedExport(dir.wideFile(L"out.mp3"), dir.wideFile(L"in.wav"));
            }));
        }
        for (std::future<ExportOutcome>& job : jobs) {
            const ExportOutcome outcome = job.get();
            EXPECT_TRUE(outcome.finished) << "round " << round;
            EXPECT_TRUE(outcome.boxes.empty()) << "round " << round << ": a job showed a message";
        }
        ASSERT_EQ(readFileBytes(dir.path() / "out.mp3"), expected) << "round " << round;
        ASSERT_EQ(folderEntries(dir.path()), (std::vector<std::wstring>{L"in.wav", L"out.mp3"})) << "round " << round;
    }
}

TEST(ExportJob, WaitingForRunningExportsReturnsOnlyWhenTheMp3IsComplete) {
    TempDir dir;
    const std::vector<int16_t> samples = sineSamples(48000 * 30, 2, 48000, 440.0, 1000.0);
    writeWavFile(dir.path() / "in.wav", 48000, 2, samples);
    waitForRunningExports();  // nothing running: returns at once
    ASSERT_TRUE(startExport(dir.wideFile(L"out.mp3"), dir.wideFile(L"in.wav")));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "out.mp3")) << "a 30 s export cannot be done already";
    waitForRunningExports();
    expectDecodesAlike(readFileBytes(dir.path() / "out.mp3"), referenceMp3(samples, 2, 48000));
}

TEST(ExportJob, ExportOfAFileBeingWrittenEncodesWhatItRead) {
    TempDir dir;
    const int32_t rate = 48000;
    const std::vector<int16_t> chunk = sineSamples(4800, 2, rate, 440.0, 1000.0);  // 100 ms
    std::ofstream recording(dir.path() / "in.wav", std::ios::binary | std::ios::trunc);
    writeWavHeader(recording, rate, 16, 2, 0, false);  // the placeholder a running recording has
    for (int i = 0; i < 20; ++i) recording.write(reinterpret_cast<const char*>(chunk.data()), chunk.size() * 2);
    recording.flush();
    const uint64_t sizeAtStart = std::filesystem::file_size(dir.path() / "in.wav");

    std::atomic<bool> stopWriting{false};
    std::thread writer([&] {
        for (int i = 0; i < 400 && !stopWriting; ++i) {
            recording.write(reinterpret_cast<const char*>(chunk.data()), chunk.size() * 2);
            recording.flush();
            Sleep(2);
        }
    });
    const ExportOutcome outcome = runWatchedExport(dir.wideFile(L"out.mp3"), dir.wideFile(L"in.wav"));
    stopWriting = true;
    writer.join();
    recording.close();
    const uint64_t sizeAtEnd = std::filesystem::file_size(dir.path() / "in.wav");

    EXPECT_TRUE(outcome.finished);
    EXPECT_TRUE(outcome.boxes.empty());
    const Mp3Frames frames = walkMp3Frames(readFileBytes(dir.path() / "out.mp3"));
    ASSERT_TRUE(frames.wellFormed);
    const uint64_t encodedFrames = static_cast<uint64_t>(frames.frames) * frames.samplesPerFrame;
    EXPECT_GE(encodedFrames, (sizeAtStart - 44) / 4);
    EXPECT_LE(encodedFrames, (sizeAtEnd - 44) / 4 + 3 * 1152);
}

}  // namespace

TEST(ExportJob, RefusesAnMp3NameThatIsTheRecordingItselfHoweverSpelt) {
    TempDir dir;
    const std::vector<unsigned char> recording = validWavBytes();
    writeFileBytes(dir.path() / "take.wav", recording);
    const std::wstring wav = dir.wideFile(L"take.wav");
    ASSERT_TRUE(CreateHardLinkW(dir.wideFile(L"link.wav").c_str(), wav.c_str(), nullptr));
    wchar_t shortName[MAX_PATH] = {};
    const DWORD shortLength = GetShortPathNameW(wav.c_str(), shortName, MAX_PATH);
    ASSERT_GT(shortLength, 0u);
    ASSERT_LT(shortLength, static_cast<DWORD>(MAX_PATH));
    const struct {
        const char* name;
        std::wstring mp3;
    } cases[] = {
        {"the same name", wav},
        {"another case", dir.wideFile(L"TAKE.WAV")},
        {"the short name", shortName},
        {"a hard link", dir.wideFile(L"link.wav")},
        {"a relative spelling", dir.wideFile(L".\\take.wav")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(isSameFile(c.mp3, wav));
        expectSingleError(runWatchedExport(c.mp3, wav), EXPORT_ONTO_RECORDING_TEXT);
        EXPECT_EQ(readFileBytes(dir.path() / "take.wav"), recording) << "the recording was touched";
    }
    EXPECT_EQ(folderEntries(dir.path()), (std::vector<std::wstring>{L"link.wav", L"take.wav"}));
    // Another file, a name not yet taken, and a missing recording are not the recording.
    writeFileBytes(dir.path() / "other.wav", recording);
    EXPECT_FALSE(isSameFile(dir.wideFile(L"other.wav"), wav));
    EXPECT_FALSE(isSameFile(dir.wideFile(L"new.mp3"), wav));
    EXPECT_FALSE(isSameFile(wav, dir.wideFile(L"missing.wav")));
}
