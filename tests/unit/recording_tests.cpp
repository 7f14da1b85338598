// Recording engine: PCM conversion, the WAV header bytes and the packet pipeline, against real
// files, a real window's message queue and the real debugger output channel.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/spectrum.h"
#include "debug_monitor.h"
#include "recording/live_state.h"
#include "recording/gaps.h"
#include "recording/packet.h"
#include "recording/pcm_queue.h"
#include "recording/pcm.h"
#include "recording/sample_format.h"
#include "recording/wav_header.h"
#include "recording/wav_writer.h"
#include "recording/wide_path.h"
#include "test_window.h"
#include "temp_dir.h"

namespace {

uint32_t le32(const std::vector<unsigned char>& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
uint16_t le16(const std::vector<unsigned char>& b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }

std::vector<unsigned char> readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void resetLiveState() {
    { std::lock_guard<std::mutex> g(waveformMutex); waveformLeft.clear(); }
    { std::lock_guard<std::mutex> g(fftInputMutex); fftInputBuffer.clear(); }
    { std::lock_guard<std::mutex> g(spectrumMutex); spectrumData.clear(); }
    inputLevel.store(0.0f);
    inputPeak.store(0.0f);
    clippedSamples.store(0);
    { std::lock_guard<std::mutex> g(levelColumnsMutex); levelColumns.clear(); }
    captureSampleRate = 48000;
}

// A distinct value for every sample index, so misplaced or reordered samples show.
float sampleAt(size_t index) { return std::sin(0.001f * static_cast<float>(index * index % 100003)) * 0.9f; }

std::vector<float> interleavedPacket(uint32_t frames, int channels, size_t firstFrame = 0) {
    std::vector<float> packet(static_cast<size_t>(frames) * channels);
    for (size_t f = 0; f < frames; ++f)
        for (int c = 0; c < channels; ++c) packet[f * channels + c] = sampleAt((firstFrame + f) * 7 + c);
    return packet;
}

}  // namespace

// ---- floatToPcm16 -------------------------------------------------------------------------------

struct PcmCase {
    float input;
    int16_t expected;
};

TEST(FloatToPcm16, ConvertsTheTableOfValues) {
    const float inf = std::numeric_limits<float>::infinity();
    const PcmCase cases[] = {
        {1.5f, 32767},   {1.0f, 32767},    {0.99999f, 32766}, {0.5f, 16383},
        {-0.5f, -16383}, {-1.0f, -32767},  {-1.5f, -32767},   {0.00001f, 0},
        {-0.00001f, 0},  {1.0f / 32767.0f, 1}, {std::nanf(""), 0}, {inf, 32767},
        {-inf, -32767},  {0.0f, 0},        {-0.0f, 0},        {2.0f, 32767},
    };
    for (const PcmCase& c : cases) {
        EXPECT_EQ(floatToPcm16(c.input), c.expected) << "input " << c.input;
    }
}

// ---- WAV header ---------------------------------------------------------------------------------

TEST(WavHeader, IsExactlyFortyFourPackedBytes) {
    EXPECT_EQ(sizeof(WavHeader), 44u);
    const WavHeader fresh{};
    const auto bytes = wavHeaderBytes(fresh);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");
    EXPECT_EQ(std::string(bytes.begin() + 8, bytes.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(std::string(bytes.begin() + 36, bytes.begin() + 40), "data");
    EXPECT_EQ(fresh.fmtSize, 16u);
}

struct HeaderCase {
    const char* name;
    int32_t rate, bits, channels;
    uint32_t dataLength;
    bool isFloat;
    uint32_t riffSize;
    uint16_t audioFormat;
    uint32_t byteRate;
    uint16_t blockAlign;
};

TEST(WavHeader, WritesTheFieldsOfEachFormatToARealFile) {
    const HeaderCase cases[] = {
        {"mono 48000 with 96000 bytes", 48000, 16, 1, 96000, false, 96036, 1, 96000, 2},
        {"stereo 44100", 44100, 16, 2, 0, false, 36, 1, 176400, 4},
        {"placeholder stereo 48000", 48000, 16, 2, 0, false, 36, 1, 192000, 4},
        {"float 32-bit stereo 48000", 48000, 32, 2, 1000, true, 1036, 3, 384000, 8},
        {"largest data size wraps riffSize", 8000, 16, 1, 0xFFFFFFFFu, false, 35, 1, 16000, 2},
    };
    TempDir dir;
    for (const HeaderCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("header.wav");
        {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            writeWavHeader(out, c.rate, c.bits, c.channels, c.dataLength, c.isFloat);
        }
        const std::vector<unsigned char> b = readAll(path);
        ASSERT_EQ(b.size(), 44u);
        EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "RIFF");
        EXPECT_EQ(le32(b, 4), c.riffSize);
        EXPECT_EQ(std::string(b.begin() + 8, b.begin() + 16), "WAVEfmt ");
        EXPECT_EQ(le32(b, 16), 16u);
        EXPECT_EQ(le16(b, 20), c.audioFormat);
        EXPECT_EQ(le16(b, 22), c.channels);
        EXPECT_EQ(le32(b, 24), static_cast<uint32_t>(c.rate));
        EXPECT_EQ(le32(b, 28), c.byteRate);
        EXPECT_EQ(le16(b, 32), c.blockAlign);
        EXPECT_EQ(le16(b, 34), c.bits);
        EXPECT_EQ(std::string(b.begin() + 36, b.begin() + 40), "data");
        EXPECT_EQ(le32(b, 40), c.dataLength);
    }
}

TEST(WavHeader, RewritingAtOffsetZeroLeavesTheDataBehindIt) {
    TempDir dir;
    const std::string path = dir.file("rewrite.wav");
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        writeWavHeader(out, 44100, 16, 2, 0, false);
        const char data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        out.write(data, sizeof data);
        out.seekp(0, std::ios::beg);
        writeWavHeader(out, 44100, 16, 2, 8, false);
    }
    const std::vector<unsigned char> b = readAll(path);
    ASSERT_EQ(b.size(), 52u);
    EXPECT_EQ(le32(b, 4), 44u);
    EXPECT_EQ(le32(b, 40), 8u);
    EXPECT_EQ(b[44], 1);
    EXPECT_EQ(b[51], 8);
}

// ---- packet processing --------------------------------------------------------------------------

class PacketTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetLiveState();
        window = createTestWindow();
        ASSERT_NE(window, nullptr);
        resetPcmQueue(queue, 48000);
    }
    void TearDown() override { DestroyWindow(window); }

    // Takes everything queued for the file, as the writer would.
    std::vector<int16_t> takeQueued() {
        std::vector<int16_t> taken;
        for (PcmSpan span = peekPcm(queue, SIZE_MAX); span.count > 0; span = peekPcm(queue, SIZE_MAX)) {
            taken.insert(taken.end(), span.samples, span.samples + span.count);
            takePcm(queue, span.count);
        }
        return taken;
    }

    PcmQueue queue;
    HWND window = nullptr;
};

struct ChannelCase {
    int channels;
    size_t fileBytes;
    size_t leftSamples;
};

TEST_F(PacketTest, WritesEveryChannelAndFeedsTheLeftChannelForEachLayout) {
    const ChannelCase cases[] = {{1, 960, 480}, {2, 1920, 480}, {3, 2880, 480}, {4, 3840, 480}, {8, 7680, 480}};
    for (const ChannelCase& c : cases) {
        SCOPED_TRACE(c.channels);
        resetLiveState();
        resetPcmQueue(queue, 48000);
        const std::vector<float> packet = interleavedPacket(480, c.channels);
        DebugMonitor monitor;
        ASSERT_TRUE(monitor.ready());

        EXPECT_TRUE(processPacket(packet.data(), 480, c.channels, queue, window));

        const std::vector<int16_t> queued = takeQueued();
        ASSERT_EQ(queued.size() * 2, c.fileBytes);
        for (size_t i = 0; i < packet.size(); ++i) ASSERT_EQ(queued[i], floatToPcm16(packet[i])) << "sample " << i;

        std::vector<float> expectedLeft;
        // The display follows the first channel of every frame, whatever the channel count.
        for (size_t i = 0; i < packet.size(); i += c.channels) expectedLeft.push_back(packet[i]);
        ASSERT_EQ(expectedLeft.size(), c.leftSamples);
        {
            std::lock_guard<std::mutex> g(waveformMutex);
            ASSERT_EQ(waveformLeft.size(), c.leftSamples);
            for (size_t i = 0; i < c.leftSamples; ++i) ASSERT_EQ(waveformLeft[i], floatToPcm16(expectedLeft[i]));
        }
        const std::vector<std::string> reported = monitor.linesStartingWith("[DEBUG]");
        ASSERT_EQ(reported.size(), 1u);
        EXPECT_EQ(reported[0], "[DEBUG] fftInputBuffer size = " + std::to_string(c.leftSamples) + "\n");
        {
            // A full block is analysed and the input emptied; a smaller one waits for more.
            std::lock_guard<std::mutex> g(fftInputMutex);
            if (c.leftSamples < ANALYSIS_BLOCK) {
                EXPECT_EQ(fftInputBuffer, expectedLeft);
            } else {
                EXPECT_TRUE(fftInputBuffer.empty());
            }
        }
        float sum = 0.0f;
        for (float s : expectedLeft) sum += s * s;
        EXPECT_FLOAT_EQ(inputLevel.load(), std::sqrt(sum / static_cast<float>(expectedLeft.size())));
    }
}

TEST_F(PacketTest, PostsOneLevelUpdateToTheWindowPerPacketAfterStoringTheLevel) {
    const std::vector<float> packet = interleavedPacket(480, 2);
    processPacket(packet.data(), 480, 2, queue, window);
    processPacket(packet.data(), 480, 2, queue, window);
    const std::vector<MSG> posted = takeMessages(window, WM_LEVEL_UPDATE);
    ASSERT_EQ(posted.size(), 2u);
    for (const MSG& m : posted) {
        EXPECT_EQ(m.message, 0x8001u);
        EXPECT_EQ(m.wParam, 0u);
        EXPECT_EQ(m.lParam, 0);
    }
    EXPECT_GT(inputLevel.load(), 0.0f);
}

TEST_F(PacketTest, LimitsTheLevelToOneAndClampsThePcm) {
    const std::vector<float> packet(480, 2.0f);
    processPacket(packet.data(), 480, 1, queue, window);
    EXPECT_EQ(inputLevel.load(), 1.0f);
    EXPECT_EQ(takeQueued(), std::vector<int16_t>(480, 32767));
    std::lock_guard<std::mutex> g(fftInputMutex);
    EXPECT_EQ(fftInputBuffer.front(), 2.0f);  // the analyser sees the unclamped value
}

TEST(PeakAndClipping, TheHighestMagnitudeAndEverySampleAtFullScale) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        std::vector<float> samples;
        float peak;
        uint64_t clipped;
    } cases[] = {
        {{}, 0.0f, 0},
        {{0.0f, -0.25f, 0.5f}, 0.5f, 0},
        {{0.99999f, -0.99999f}, 0.99999f, 0},          // below full scale: clean
        {{1.0f, -1.0f, 0.5f}, 1.0f, 2},                // full scale in either direction clips
        {{1.5f, -3.0f, 0.0f}, 3.0f, 2},
        {{nan, 0.25f}, 0.25f, 0},                      // a NaN converts to 0: neither peak nor clip
        {{inf, -inf}, inf, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.samples));
        EXPECT_EQ(packetPeak(c.samples), c.peak);
        EXPECT_EQ(countClipped(c.samples.data(), c.samples.size()), c.clipped);
    }
}

TEST_F(PacketTest, PublishesThePeakOfTheFirstChannelAndCountsClippingOnEveryChannel) {
    // Stereo: the first channel peaks at 0.5, the second clips twice; then a packet that clips once more.
    const std::vector<float> first = {0.5f, 1.0f, -0.25f, -1.2f, 0.1f, 0.3f};
    DebugMonitor monitor;
    ASSERT_TRUE(monitor.ready());
    processPacket(first.data(), 3, 2, queue, window);
    EXPECT_EQ(inputPeak.load(), 0.5f);
    EXPECT_EQ(clippedSamples.load(), 2u);
    // The peak not yet taken by the meter is kept when a lower one follows.
    const std::vector<float> second = {-1.0f, 0.0f, 0.2f, 0.0f};
    processPacket(second.data(), 2, 2, queue, window);
    EXPECT_EQ(inputPeak.load(), 1.0f);
    EXPECT_EQ(clippedSamples.load(), 3u);
    const std::vector<float> third = {0.1f, 0.0f};
    processPacket(third.data(), 1, 2, queue, window);
    EXPECT_EQ(inputPeak.load(), 1.0f);
    EXPECT_EQ(clippedSamples.load(), 3u);
    const std::vector<std::string> told = monitor.linesStartingWith("[CLIP]");
    ASSERT_EQ(told.size(), 2u);
    EXPECT_EQ(told[1], "[CLIP] 1 samples at full scale in this packet, 3 in the recording\n");
}

TEST_F(PacketTest, AZeroFramePacketPublishesNoLevel) {
    inputLevel.store(0.25f);
    const float none[1] = {0.0f};
    EXPECT_TRUE(processPacket(none, 0, 2, queue, window));
    EXPECT_EQ(inputLevel.load(), 0.25f);
    EXPECT_FALSE(std::isnan(inputLevel.load()));
    EXPECT_TRUE(takeMessages(window, WM_LEVEL_UPDATE).empty());
    EXPECT_EQ(queuedPcm(queue), 0u);
}

TEST_F(PacketTest, TrimsTheHistoryToTheNewest65536Samples) {
    {
        std::lock_guard<std::mutex> g(waveformMutex);
        waveformLeft.resize(65500);
        for (size_t i = 0; i < waveformLeft.size(); ++i) waveformLeft[i] = static_cast<int16_t>(i % 30000);
    }
    const std::vector<float> packet = interleavedPacket(480, 1);
    processPacket(packet.data(), 480, 1, queue, window);
    std::lock_guard<std::mutex> g(waveformMutex);
    ASSERT_EQ(waveformLeft.size(), 65536u);
    EXPECT_EQ(waveformLeft.front(), static_cast<int16_t>(444 % 30000));  // the oldest 444 are gone
    EXPECT_EQ(waveformLeft[65499 - 444], static_cast<int16_t>(65499 % 30000));
    EXPECT_EQ(waveformLeft.back(), floatToPcm16(packet.back()));
}

TEST(AppendTrimmed, LeavesAHistoryOfExactlyTheLimitUntouched) {
    std::vector<int16_t> history(65000, 7);
    appendTrimmed(history, std::vector<int16_t>(536, 9), 65536);
    ASSERT_EQ(history.size(), 65536u);
    EXPECT_EQ(history.front(), 7);
    EXPECT_EQ(history.back(), 9);
}

struct AnalysisCase {
    const char* name;
    std::vector<uint32_t> packets;  // frames per packet, one channel
    std::vector<size_t> reportedSizes;
    size_t blockStart;  // index of the first analysed sample in the fed signal
};

TEST_F(PacketTest, AnalysesTheNewestBlockOnceEnoughIsBufferedAndEmptiesTheInput) {
    const AnalysisCase cases[] = {
        {"exactly 1024", {512, 512}, {512, 1024}, 0},
        {"1440 from three packets of 480", {480, 480, 480}, {480, 960, 1440}, 416},
    };
    for (const AnalysisCase& c : cases) {
        SCOPED_TRACE(c.name);
        resetLiveState();
        DebugMonitor monitor;
        ASSERT_TRUE(monitor.ready());
        std::vector<float> fed;
        for (uint32_t frames : c.packets) {
            const std::vector<float> packet = interleavedPacket(frames, 1, fed.size());
            fed.insert(fed.end(), packet.begin(), packet.end());
            processPacket(packet.data(), frames, 1, queue, window);
        }
        {
            std::lock_guard<std::mutex> g(fftInputMutex);
            EXPECT_TRUE(fftInputBuffer.empty());
        }
        std::vector<float> published;
        {
            std::lock_guard<std::mutex> g(spectrumMutex);
            published = spectrumData;
        }
        ASSERT_EQ(published.size(), 4096u);

        std::vector<std::string> expectedLines;
        for (size_t size : c.reportedSizes) {
            char line[128];
            std::snprintf(line, sizeof line, "[DEBUG] fftInputBuffer size = %zu\n", size);
            expectedLines.push_back(line);
        }
        EXPECT_EQ(monitor.linesStartingWith("[DEBUG]"), expectedLines);
        EXPECT_EQ(monitor.linesStartingWith("[FFT] processFFT called").size(), 1u);

        // The published spectrum is the analysis of exactly the newest 1024 samples.
        processFFT(fed.data() + c.blockStart, 1024, captureSampleRate);
        {
            std::lock_guard<std::mutex> g(spectrumMutex);
            EXPECT_EQ(spectrumData, published);
        }
        if (c.blockStart > 0) {
            processFFT(fed.data(), 1024, captureSampleRate);
            std::lock_guard<std::mutex> g(spectrumMutex);
            EXPECT_NE(spectrumData, published) << "the oldest samples must not be the ones analysed";
        }
    }
}

TEST_F(PacketTest, APacketTheQueueCannotHoldIsDroppedWholeButStillShown) {
    // Room for two packets of 480 mono samples and a bit: the third does not fit.
    resetPcmQueue(queue, 960 + 100);
    const std::vector<float> first = interleavedPacket(480, 1), second = interleavedPacket(480, 1, 480);
    const std::vector<float> third = interleavedPacket(480, 1, 960);
    EXPECT_TRUE(processPacket(first.data(), 480, 1, queue, window));
    EXPECT_TRUE(processPacket(second.data(), 480, 1, queue, window));
    EXPECT_FALSE(processPacket(third.data(), 480, 1, queue, window));
    EXPECT_EQ(queuedPcm(queue), 960u) << "no part of the dropped packet is queued";
    {
        std::lock_guard<std::mutex> g(waveformMutex);
        ASSERT_EQ(waveformLeft.size(), 1440u);
        EXPECT_EQ(waveformLeft.back(), floatToPcm16(third.back())) << "the display goes on";
    }
    std::vector<int16_t> expected = floatsToPcm16(first.data(), first.size());
    const std::vector<int16_t> more = floatsToPcm16(second.data(), second.size());
    expected.insert(expected.end(), more.begin(), more.end());
    EXPECT_EQ(takeQueued(), expected);
    // Once the writer has taken what waited, there is room again.
    EXPECT_TRUE(processPacket(third.data(), 480, 1, queue, window));
}

TEST(AudioMilliseconds, CountsWhatTheFileHoldsRoundedDown) {
    const struct {
        uint64_t bytes;
        int32_t rate, channels;
        uint64_t expected;
    } cases[] = {
        {96000, 48000, 1, 1000},           {192000, 48000, 2, 1000},  {1919, 48000, 2, 9},
        {1920, 48000, 2, 10},              {0, 44100, 2, 0},          {1000, 0, 2, 0},
        {1000, 48000, 0, 0},               {1000, -1, 2, 0},
        {0xFFFFFFDBull, 8000, 1, 268435453},  // the largest data a header can declare, at 8000 Hz mono
    };
    for (const auto& c : cases) {
        EXPECT_EQ(audioMilliseconds(c.bytes, c.rate, c.channels), c.expected)
            << c.bytes << " bytes at " << c.rate << " Hz, " << c.channels << " channels";
    }
}

TEST(WidePaths, FolderAndLongFormOfAPath) {
    const struct {
        const wchar_t* path;
        const wchar_t* folder;
        const wchar_t* extended;
    } cases[] = {
        {L"C:\\takes\\one.mp3", L"C:\\takes\\", L"\\\\?\\C:\\takes\\one.mp3"},
        {L"Z:\\tmp\\a b\\Aufnahme f\u00fcr M\u00fcller.wav", L"Z:\\tmp\\a b\\",
         L"\\\\?\\Z:\\tmp\\a b\\Aufnahme f\u00fcr M\u00fcller.wav"},
        {L"\\\\server\\share\\x.mp3", L"\\\\server\\share\\", L"\\\\?\\UNC\\server\\share\\x.mp3"},
        {L"\\\\?\\C:\\already\\long.mp3", L"\\\\?\\C:\\already\\", L"\\\\?\\C:\\already\\long.mp3"},
        {L"\\\\.\\pipe\\name", L"\\\\.\\pipe\\", L"\\\\.\\pipe\\name"},
        {L"C:x.mp3", L"C:", nullptr},  // not a full path: no long form of its own
        {L"plain.mp3", L"", nullptr},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(folderOf(c.path), c.folder);
        if (c.extended) {
            EXPECT_EQ(extendedLengthPath(c.path), c.extended);
        }
    }
    // Made absolute first, with every separator a backslash, as the long form needs.
    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);
    EXPECT_EQ(longPathForm(L"sub/take.wav"), L"\\\\?\\" + std::wstring(current) + L"\\sub\\take.wav");
}

// ---- the writer's queue and the gap count ---------------------------------------------------------

TEST(PcmQueue, KeepsOrderAcrossTheEndOfTheRingAndRefusesWhatDoesNotFitWhole) {
    PcmQueue queue;
    resetPcmQueue(queue, 10);
    const float a[6] = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f};
    ASSERT_TRUE(pushPcm(queue, a, 6));
    EXPECT_FALSE(pushPcm(queue, a, 5)) << "4 free, 5 asked";
    EXPECT_EQ(queuedPcm(queue), 6u);
    PcmSpan span = peekPcm(queue, 4);
    ASSERT_EQ(span.count, 4u);
    EXPECT_EQ(span.samples[3], floatToPcm16(0.4f));
    takePcm(queue, 4);
    // Eight more behind the two still waiting: four to the end of the ring, four from its start.
    const float b[8] = {-0.1f, -0.2f, -0.3f, -0.4f, -0.5f, -0.6f, -0.7f, -0.8f};
    ASSERT_TRUE(pushPcm(queue, b, 8));
    EXPECT_FALSE(pushPcm(queue, b, 1)) << "full";
    std::vector<int16_t> taken;
    for (span = peekPcm(queue, 100); span.count > 0; span = peekPcm(queue, 100)) {
        taken.insert(taken.end(), span.samples, span.samples + span.count);
        takePcm(queue, span.count);
    }
    std::vector<int16_t> expected = {floatToPcm16(0.5f), floatToPcm16(0.6f)};
    for (float f : b) expected.push_back(floatToPcm16(f));
    EXPECT_EQ(taken, expected);
    EXPECT_EQ(queuedPcm(queue), 0u);
    // A queue with no room (a device of no rate) takes nothing, and an empty packet always.
    resetPcmQueue(queue, 0);
    EXPECT_FALSE(pushPcm(queue, a, 1));
    EXPECT_TRUE(pushPcm(queue, a, 0));
}

// A disk that fills up at a fixed size: a write that reaches past it writes only up to it.
constexpr uint64_t FULL_DISK_BYTES = 44 + 70000;

DWORD writeUntilFull(HANDLE file, uint64_t offset, const void* bytes, DWORD count) {
    if (offset >= FULL_DISK_BYTES) return 0;
    const uint64_t room = FULL_DISK_BYTES - offset;
    return writeWavFileBytes(file, offset, bytes, count < room ? count : static_cast<DWORD>(room));
}

TEST(WavWriter, AFullDiskKeepsWholeFramesOfEveryLayout) {
    for (int32_t channels : {1, 2, 3, 6, 8}) {
        SCOPED_TRACE(std::to_string(channels) + " channels");
        TempDir dir;
        wavFileWrite = writeUntilFull;
        WavWriter writer;
        ASSERT_TRUE(startWavWriter(writer, dir.wideFile(L"full.wav"), 48000, channels));
        // Far more than the disk takes, queued before the writer gets to it: several writes.
        std::vector<float> samples(static_cast<size_t>(channels) * 40000);
        for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<float>(i % 1000) / 1000.0f;
        ASSERT_TRUE(pushPcm(writer.queue, samples.data(), samples.size()));
        EXPECT_FALSE(finishWavWriter(writer)) << "a full disk is not a complete file";
        wavFileWrite = writeWavFileBytes;

        const uint64_t frameBytes = 2 * static_cast<uint64_t>(channels);
        const uint64_t kept = (FULL_DISK_BYTES - 44) / frameBytes * frameBytes;
        EXPECT_EQ(writer.bytesOnDisk, kept) << "a torn frame was kept, or whole ones were lost";
        const std::vector<unsigned char> file = readAll(dir.file("full.wav"));
        ASSERT_EQ(file.size(), 44 + kept);
        EXPECT_EQ(le32(file, 40), kept);
        for (size_t i = 0; i < kept / 2; ++i)
            ASSERT_EQ(static_cast<int16_t>(le16(file, 44 + 2 * i)), floatToPcm16(samples[i])) << "sample " << i;
    }
}

// One packet as the capture worker notes it.
struct NotedPacket {
    bool discontinuity;
    uint64_t position;
    bool queued;
    uint32_t frames = 480;
};

TEST(GapTally, CountsEachHoleOnceAndMeasuresIt) {
    const struct {
        const char* name;
        std::vector<NotedPacket> packets;
        uint64_t gaps, missingFrames;
        bool lengthUnknown;
    } cases[] = {
        {"no hole", {{false, 0, true}, {false, 480, true}}, 0, 0, false},
        {"flag on the first packet after the start", {{true, 0, true}, {false, 480, true}}, 0, 0, false},
        {"the device lost 960 frames", {{false, 0, true}, {true, 1440, true}}, 1, 960, false},
        {"a flag without a usable position", {{false, 480, true}, {true, 0, true}}, 1, 0, true},
        {"two drops in a row are one hole", {{false, 0, true}, {false, 480, false}, {false, 960, false},
                                             {false, 1440, true}}, 1, 960, false},
        {"drops apart are two holes", {{false, 0, false}, {false, 480, true}, {false, 960, false}}, 2, 960, false},
        {"device loss right after a drop is the same hole", {{false, 0, true}, {false, 480, false},
                                                             {true, 1920, true}}, 1, 480 + 960, false},
        {"a dropped packet that follows device loss is the same hole", {{false, 0, true}, {true, 960, false},
                                                                        {false, 1440, true}}, 1, 480 + 480, false},
        {"an empty buffer in between changes nothing", {{false, 480, true}, {false, 0, true, 0},
                                                        {true, 1440, true}}, 1, 480, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        GapTally tally;
        for (const NotedPacket& p : c.packets) notePacket(tally, p.discontinuity, p.position, p.frames, p.queued);
        EXPECT_EQ(tally.gaps, c.gaps);
        EXPECT_EQ(tally.missingFrames, c.missingFrames);
        EXPECT_EQ(tally.lengthUnknown, c.lengthUnknown);
    }
    EXPECT_EQ(framesToMilliseconds(24000, 48000), 500u);
    EXPECT_EQ(framesToMilliseconds(23, 48000), 0u);
    EXPECT_EQ(framesToMilliseconds(24, 48000), 1u);
    EXPECT_EQ(framesToMilliseconds(100, 0), 0u);
}
