// The parallel export: its pure parts (segment plan, frame reader, join, VBR header) as tables,
// and the real job on long recordings against one encoder run over the whole recording.
#include <gtest/gtest.h>

#include <windows.h>

#include <lame/lame.h>

#include <cmath>
#include <cstring>
#include <random>

#include "export/mp3_frames.h"
#include "export/mp3_join.h"
#include "export/parallel_export.h"
#include "export/segment_plan.h"
#include "export/vbr_tag.h"
#include "export_test_helpers.h"
#include "temp_dir.h"

namespace {

// ---------------------------------------------------------------------------------------------
// Segment plan

TEST(ExportSegmentPlan, SegmentsTileTheSinglePassFramesOnItsGrid) {
    EXPECT_EQ(singlePassFrames(240000, 1152), 210u);  // 5 s at 48000 Hz, as the encoder's own file has
    EXPECT_EQ(singlePassFrames(0, 1152), 1u);
    EXPECT_EQ(singlePassFrames(576, 1152), 2u);  // padding is never below a granule
    EXPECT_EQ(singlePassFrames(1152, 1152), 2u);
    EXPECT_EQ(singlePassFrames(1153, 1152), 3u);
    EXPECT_EQ(singlePassFrames(8000 * 12, 576), 169u);

    const struct {
        uint64_t samples;
        uint32_t samplesPerFrame, rate, threads;
        size_t segments;
    } cases[] = {
        {48000 * 600, 1152, 48000, 2, 8},  // ten minutes: four segments per thread
        {48000 * 600, 1152, 48000, 8, 32},
        {48000 * 12, 1152, 48000, 2, 2},   // twelve seconds: two of at least five
        {48000 * 10 - 1, 1152, 48000, 2, 0},  // just under two segments' worth: one pass
        {48000 * 600, 1152, 48000, 1, 0},  // one core: one pass
        {44100 * 21, 1152, 44100, 3, 4},
        {8000 * 60, 576, 8000, 2, 8},
        {22050 * 30, 576, 22050, 4, 6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.samples) + " samples, " + std::to_string(c.threads) + " threads");
        const std::vector<ExportSegment> plan = planExportSegments(c.samples, c.samplesPerFrame, c.rate, c.threads);
        ASSERT_EQ(plan.size(), c.segments);
        if (plan.empty()) continue;
        uint64_t nextFrame = 0, nextOwn = 0;
        for (size_t k = 0; k < plan.size(); ++k) {
            const ExportSegment& s = plan[k];
            EXPECT_EQ(s.firstFrame, nextFrame);
            EXPECT_EQ(s.ownStart, nextOwn);
            EXPECT_EQ(s.leadInFrames, k == 0 ? 0u : SEGMENT_LEAD_IN_FRAMES);
            EXPECT_EQ(s.inputStart, (s.firstFrame - s.leadInFrames) * c.samplesPerFrame);
            EXPECT_GE(s.keptFrames * c.samplesPerFrame, uint64_t{SEGMENT_MIN_SECONDS} * c.rate - 2 * c.samplesPerFrame);
            // The encoder reads past its last kept frame, or to the end of the recording.
            const uint64_t lastKeptEnd = (s.firstFrame + s.keptFrames) * c.samplesPerFrame;
            EXPECT_EQ(s.inputEnd, k + 1 == plan.size() ? c.samples
                                                       : std::min(c.samples, lastKeptEnd + SEGMENT_TAIL_FRAMES * c.samplesPerFrame));
            nextFrame = s.firstFrame + s.keptFrames;
            nextOwn = s.ownEnd;
        }
        EXPECT_EQ(nextFrame, singlePassFrames(c.samples, c.samplesPerFrame));
        EXPECT_EQ(nextOwn, c.samples) << "progress counts every sample once";
    }
}

// ---------------------------------------------------------------------------------------------
// Frame headers and side information

TEST(ExportMp3Frames, HeadersOfTheEncodersFramesAndNothingElse) {
    const struct {
        uint8_t bytes[4];
        bool valid, mpeg1;
        int rate, kbps, channels;
        uint32_t frameBytes, sideInfoBytes;
    } cases[] = {
        {{0xFF, 0xFB, 0x90, 0x64}, true, true, 44100, 128, 2, 417, 32},
        {{0xFF, 0xFB, 0x92, 0x64}, true, true, 44100, 128, 2, 418, 32},  // padded
        {{0xFF, 0xFB, 0xE4, 0xC4}, true, true, 48000, 320, 1, 960, 17},
        {{0xFF, 0xFB, 0x18, 0x00}, true, true, 32000, 32, 2, 144, 32},
        {{0xFF, 0xF3, 0x80, 0x44}, true, false, 22050, 64, 2, 208, 17},
        {{0xFF, 0xE3, 0x88, 0xC4}, true, false, 8000, 64, 1, 576, 9},   // MPEG-2.5
        {{0xFF, 0xFA, 0x90, 0x64}, false, false, 0, 0, 0, 0, 0},  // with a CRC
        {{0xFF, 0xFD, 0x90, 0x64}, false, false, 0, 0, 0, 0, 0},  // Layer II
        {{0xFF, 0xFB, 0x00, 0x64}, false, false, 0, 0, 0, 0, 0},  // free format
        {{0xFF, 0xFB, 0xF0, 0x64}, false, false, 0, 0, 0, 0, 0},  // bitrate index 15
        {{0xFF, 0xFB, 0x9C, 0x64}, false, false, 0, 0, 0, 0, 0},  // rate index 3
        {{0xFF, 0xEB, 0x90, 0x64}, false, false, 0, 0, 0, 0, 0},  // reserved version
        {{0xFE, 0xFB, 0x90, 0x64}, false, false, 0, 0, 0, 0, 0},  // no sync
        {{'I', 'D', '3', 0x04}, false, false, 0, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        Mp3FrameHeader h;
        SCOPED_TRACE(std::to_string(c.bytes[1]) + "/" + std::to_string(c.bytes[2]));
        ASSERT_EQ(parseMp3FrameHeader(c.bytes, h), c.valid);
        if (!c.valid) continue;
        EXPECT_EQ(h.mpeg1, c.mpeg1);
        EXPECT_EQ(h.sampleRate, c.rate);
        EXPECT_EQ(mp3BitrateKbps(h.mpeg1, h.bitrateIndex), c.kbps);
        EXPECT_EQ(h.channels, c.channels);
        EXPECT_EQ(h.frameBytes, c.frameBytes);
        EXPECT_EQ(h.sideInfoBytes, c.sideInfoBytes);
        EXPECT_EQ(h.samplesPerFrame, c.mpeg1 ? 1152u : 576u);
    }
}

// Writes count bits of value at bit offset of a big-endian bit string.
void putBits(uint8_t* bytes, uint32_t offset, int count, uint32_t value) {
    for (int i = count - 1; i >= 0; --i, ++offset) {
        const uint8_t mask = static_cast<uint8_t>(0x80 >> (offset % 8));
        bytes[offset / 8] = static_cast<uint8_t>(((value >> i) & 1) ? bytes[offset / 8] | mask : bytes[offset / 8] & ~mask);
    }
}

// Returns an unpacked frame of the header's kind whose granules use the given bits (one entry
// per granule and channel), its side information's other bits all ones, its main data random.
std::vector<uint8_t> unpackedFrame(const uint8_t header[4], const std::vector<uint32_t>& granuleBits,
                                   std::mt19937& random) {
    Mp3FrameHeader h;
    parseMp3FrameHeader(header, h);
    std::vector<uint8_t> frame(header, header + 4);
    frame.resize(4 + h.sideInfoBytes, 0xFF);
    const uint32_t first = h.mpeg1 ? 9 + (h.channels == 1 ? 5 : 3) + 4 * h.channels : 8 + (h.channels == 1 ? 1 : 2);
    uint32_t bits = 0;
    for (size_t i = 0; i < granuleBits.size(); ++i) {
        putBits(frame.data() + 4, first + static_cast<uint32_t>(i) * (h.mpeg1 ? 59 : 63), 12, granuleBits[i]);
        bits += granuleBits[i];
    }
    setMp3MainDataBegin(h, frame.data() + 4, 0);
    for (uint32_t i = 0; i < (bits + 7) / 8; ++i) frame.push_back(static_cast<uint8_t>(random()));
    return frame;
}

TEST(ExportMp3Frames, SideInformationFieldsReadAndWriteInPlace) {
    std::mt19937 random(7);
    const struct {
        uint8_t header[4];
        std::vector<uint32_t> granuleBits;
        int mainDataBegin;
    } cases[] = {
        {{0xFF, 0xFB, 0x90, 0x64}, {4095, 1, 0, 2000}, 511},
        {{0xFF, 0xFB, 0xE4, 0xC4}, {17, 4095}, 300},
        {{0xFF, 0xF3, 0x80, 0x44}, {9, 4095}, 255},
        {{0xFF, 0xE3, 0x88, 0xC4}, {123}, 1},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> frame = unpackedFrame(c.header, c.granuleBits, random);
        Mp3FrameHeader h;
        ASSERT_TRUE(parseMp3FrameHeader(frame.data(), h));
        uint32_t bits = 0;
        for (uint32_t b : c.granuleBits) bits += b;
        EXPECT_EQ(mp3MainDataBits(h, frame.data() + 4), bits);
        EXPECT_EQ(unpackedFrameBytes(frame.data(), frame.size()), frame.size());
        const std::vector<uint8_t> before = frame;
        setMp3MainDataBegin(h, frame.data() + 4, c.mainDataBegin);
        EXPECT_EQ(mp3MainDataBegin(h, frame.data() + 4), c.mainDataBegin);
        EXPECT_EQ(mp3MainDataBits(h, frame.data() + 4), bits) << "the granules' fields are untouched";
        setMp3MainDataBegin(h, frame.data() + 4, 0);
        EXPECT_EQ(frame, before);
    }
}

// ---------------------------------------------------------------------------------------------
// The join

// Joins the frames and unpacks the result again; the frames come back with the bitrate and
// main_data_begin the join chose, every other bit as it went in.
std::vector<std::vector<uint8_t>> joinAndUnpack(const std::vector<std::vector<uint8_t>>& frames, bool& joined,
                                                std::vector<uint8_t>& stream) {
    Mp3FrameHeader h;
    parseMp3FrameHeader(frames[0].data(), h);
    Mp3Repacker repacker;
    startMp3Repacker(repacker, mp3PackingLimits(h));
    joined = true;
    for (const auto& f : frames) joined = joined && pushMp3Frame(repacker, f);
    joined = joined && finishMp3Repacker(repacker);
    stream = repacker.ready;
    Mp3Unpacker unpacker;
    feedMp3Unpacker(unpacker, stream.data(), stream.size());
    std::vector<std::vector<uint8_t>> out;
    std::vector<uint8_t> frame;
    while (takeUnpackedFrame(unpacker, frame)) out.push_back(frame);
    if (joined) {
        EXPECT_FALSE(unpacker.damaged);
        EXPECT_EQ(unpacker.inputUsed, stream.size()) << "the stream is whole frames";
    }
    return out;
}

TEST(ExportMp3Join, LaysEveryFramesMainDataAnewWithinTheEncodersLimits) {
    const uint8_t mpeg1[4] = {0xFF, 0xFB, 0x90, 0x64};  // 44100 Hz stereo: slots up to 1008 bytes, reservoir 511
    const uint8_t mpeg2[4] = {0xFF, 0xF3, 0x80, 0x44};  // 22050 Hz stereo: slots up to 501 bytes, reservoir 255
    const struct {
        const char* name;
        const uint8_t* header;
        std::vector<int> mainBytes;  // per frame
        bool fits;
    } cases[] = {
        {"small frames", mpeg1, {100, 0, 5, 300, 200, 1, 100}, true},
        {"a transient after quiet frames: the reservoir is filled ahead", mpeg1, {50, 50, 50, 50, 1400, 50}, true},
        {"the largest frame first cannot borrow", mpeg1, {1100}, false},
        {"two frames each needing a full reservoir", mpeg1, {100, 1400, 1400}, false},
        {"a frame needing the whole reservoir", mpeg1, {100, 1519}, true},
        {"a frame needing more than the whole reservoir", mpeg1, {100, 1520}, false},
        {"one full frame after the reservoir filled", mpeg1, {600, 600, 1404, 600, 0}, true},
        {"a run of large frames", mpeg1, std::vector<int>(3000, 1000), true},
        {"MPEG-2", mpeg2, {80, 80, 750, 10, 501, 501, 30, 756}, true},
        {"MPEG-2 beyond its reservoir", mpeg2, {100, 100, 100, 757}, false},
    };
    std::mt19937 random(11);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Mp3FrameHeader h;
        parseMp3FrameHeader(c.header, h);
        const Mp3PackingLimits limits = mp3PackingLimits(h);
        std::vector<std::vector<uint8_t>> frames;
        for (int bytes : c.mainBytes) {
            // Split the bits over the granules and channels; the last byte partly used.
            std::vector<uint32_t> bits(h.mpeg1 ? 4 : 2, 0);
            const uint32_t total = bytes == 0 ? 0 : static_cast<uint32_t>(bytes) * 8 - 3;
            for (size_t i = 0; i < bits.size(); ++i) bits[i] = total / bits.size() + (i == 0 ? total % bits.size() : 0);
            frames.push_back(unpackedFrame(c.header, bits, random));
        }
        bool joined = false;
        std::vector<uint8_t> stream;
        const auto out = joinAndUnpack(frames, joined, stream);
        EXPECT_EQ(joined, c.fits);
        if (!c.fits) continue;
        ASSERT_EQ(out.size(), frames.size());
        uint64_t neededBytes = 0;
        for (size_t i = 0; i < out.size(); ++i) {
            Mp3FrameHeader got;
            ASSERT_TRUE(parseMp3FrameHeader(out[i].data(), got));
            EXPECT_LE(got.bitrateIndex, limits.maxBitrateIndex);
            EXPECT_FALSE(got.padded);
            const int begin = mp3MainDataBegin(got, out[i].data() + 4);
            EXPECT_LE(begin, limits.reservoirLimit) << i;
            if (i == 0) {
                EXPECT_EQ(begin, 0);
            }
            // Same bits but for bitrate and main_data_begin.
            std::vector<uint8_t> a = out[i], b = frames[i];
            a[2] &= 0x0F;
            b[2] &= 0x0F;
            setMp3MainDataBegin(got, a.data() + 4, 0);
            ASSERT_EQ(a, b) << "frame " << i;
            neededBytes += frames[i].size();
        }
        // Nothing wasted beyond what the choice of bitrates forces: under a frame of the
        // smallest bitrate per frame on average.
        EXPECT_LE(stream.size(), neededBytes + out.size() * mp3FrameBytesAt(h.mpeg1, h.sampleRate, 1) + 1500);
    }
}

// ---------------------------------------------------------------------------------------------
// The VBR header

TEST(ExportVbrHeader, RebuiltForTheEncodersOwnStreamItIsTheEncodersHeader) {
    const struct {
        int32_t channels, rate;
        uint32_t frames;
    } cases[] = {{2, 48000, 240000}, {1, 44100, 44100 * 3 + 17}, {2, 22050, 22050 * 2}, {2, 32000, 100000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rate);
        const std::vector<unsigned char> mp3 = referenceMp3(sineSamples(c.frames, c.channels, c.rate, 440.0, 1000.0), c.channels, c.rate);
        Mp3FrameHeader h;
        ASSERT_TRUE(parseMp3FrameHeader(mp3.data(), h));
        const std::vector<uint8_t> encoders(mp3.begin(), mp3.begin() + h.frameBytes);
        VbrStreamFacts facts;
        VbrSeekSums sums;
        for (size_t at = h.frameBytes; at < mp3.size();) {
            Mp3FrameHeader f;
            ASSERT_TRUE(parseMp3FrameHeader(mp3.data() + at, f));
            addVbrSeekFrame(sums, mp3BitrateKbps(f.mpeg1, f.bitrateIndex));
            at += f.frameBytes;
        }
        facts.audioFrames = sums.frames;
        facts.streamBytes = mp3.size();
        facts.padding = static_cast<int>(vbrPadding(sums.frames, h.samplesPerFrame, c.frames));
        facts.musicCrc = vbrCrc16(0, mp3.data() + h.frameBytes, mp3.size() - h.frameBytes);
        facts.seekTable = vbrSeekTable(sums);
        // Every field the join fills is cleared first, so each must be rebuilt to match.
        std::vector<uint8_t> rebuilt = encoders;
        const size_t xing = 4 + h.sideInfoBytes;
        std::fill(rebuilt.begin() + xing + 8, rebuilt.begin() + xing + 116, 0);
        std::fill(rebuilt.begin() + xing + 120 + 22, rebuilt.begin() + xing + 120 + 24, 0);
        std::fill(rebuilt.begin() + xing + 120 + 28, rebuilt.begin() + xing + 120 + 36, 0);
        ASSERT_TRUE(completeVbrHeader(rebuilt, facts));
        EXPECT_EQ(rebuilt, encoders);
        EXPECT_EQ(singlePassFrames(c.frames, h.samplesPerFrame), sums.frames);
    }
    // What is not such a header is refused.
    std::vector<uint8_t> notAHeader(192, 0);
    VbrStreamFacts facts;
    facts.seekTable.assign(VBR_SEEK_ENTRIES, 0);
    EXPECT_FALSE(completeVbrHeader(notAHeader, facts));
    EXPECT_EQ(vbrCrc16(0, reinterpret_cast<const uint8_t*>("123456789"), 9), 0xBB3D);  // CRC-16/ARC's check value
}

// ---------------------------------------------------------------------------------------------
// The job on long recordings

// Returns a test signal: two tones, noise, a click every 0.7 s and silence between quietStart
// and quietEnd, with a full-scale click at clickAt.
std::vector<int16_t> busySignal(uint32_t frames, int32_t channels, int32_t rate, uint64_t quietStart,
                                uint64_t quietEnd, uint64_t clickAt) {
    std::vector<int16_t> samples(static_cast<size_t>(frames) * channels);
    std::mt19937 random(3);
    std::uniform_int_distribution<int> noise(-1500, 1500);
    for (uint32_t f = 0; f < frames; ++f) {
        for (int32_t ch = 0; ch < channels; ++ch) {
            double v = 9000.0 * std::sin(2.0 * 3.14159265358979 * (220.0 + 330.0 * ch) * f / rate) +
                       4000.0 * std::sin(2.0 * 3.14159265358979 * 3100.0 * f / rate) + noise(random);
            if (f % (rate * 7 / 10) < 40) v = 30000.0;
            if (f >= clickAt && f < clickAt + 8) v = ch == 0 ? 32767.0 : -32768.0;
            if (f >= quietStart && f < quietEnd) v = 0.0;
            samples[static_cast<size_t>(f) * channels + ch] = static_cast<int16_t>(v);
        }
    }
    return samples;
}

TEST(ExportParallel, DecodesLikeOnePassAndIsNoBigger) {
    const struct {
        const char* name;
        int32_t channels, rate;
        uint32_t seconds;
        uint32_t threads;
        bool inSegments;
    } cases[] = {
        {"stereo 48000 on three threads", 2, 48000, 20, 3, true},
        {"mono 44100", 1, 44100, 12, 2, true},
        {"four channels become stereo", 4, 32000, 11, 2, true},
        // Below 32 kHz a loud transient can reach the encoder's bitrate cap: one pass.
        {"stereo 22050: one pass", 2, 22050, 12, 2, false},
        {"mono 8000: one pass", 1, 8000, 11, 2, false},
        {"mono 96000, resampled by the encoder: one pass", 1, 96000, 11, 2, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const uint32_t samplesPerFrame = 1152;
        const uint64_t frames = uint64_t{c.seconds} * c.rate;
        const std::vector<ExportSegment> plan = planExportSegments(frames, samplesPerFrame, c.rate, c.threads);
        ASSERT_GE(plan.size(), 2u);
        // Silence exactly from the first join on, and a full-scale click exactly at the last.
        const uint64_t firstJoin = plan[1].firstFrame * samplesPerFrame - MP3_ENCODER_DELAY;
        const uint64_t lastJoin = plan.back().firstFrame * samplesPerFrame - MP3_ENCODER_DELAY;
        const std::vector<int16_t> samples =
            busySignal(static_cast<uint32_t>(frames), c.channels, c.rate, firstJoin, firstJoin + c.rate, lastJoin);
        std::vector<int16_t> firstTwo;
        for (uint64_t f = 0; f < frames; ++f)
            for (int32_t ch = 0; ch < std::min(c.channels, 2); ++ch) firstTwo.push_back(samples[f * c.channels + ch]);
        TempDir dir;
        writeWavFile(dir.path() / "in.wav", c.rate, c.channels, samples);
        exportThreads = c.threads;
        const ExportOutcome outcome = runWatchedExport(dir.wideFile(L"out.mp3"), dir.wideFile(L"in.wav"), 120000);
        exportThreads = 0;
        EXPECT_TRUE(outcome.finished);
        EXPECT_TRUE(outcome.boxes.empty());
        EXPECT_EQ(folderEntries(dir.path()), (std::vector<std::wstring>{L"in.wav", L"out.mp3"})) << "no segment file left";
        const std::vector<unsigned char> joined = readFileBytes(dir.path() / "out.mp3");
        const std::vector<unsigned char> single = referenceMp3(firstTwo, std::min(c.channels, 2), c.rate);
        if (!c.inSegments) {
            EXPECT_EQ(joined, single);
            continue;
        }
        EXPECT_NE(joined, single) << "not one encoder's bytes: the frames were laid anew";
        expectDecodesAlike(joined, single);
        EXPECT_TRUE(walkMp3Frames(joined).wellFormed);
        // The join fills the reservoir only ahead of a frame that needs it, where the encoder
        // keeps it full in case; so the file is at most a little bigger, often smaller.
        const double growth = static_cast<double>(joined.size()) / static_cast<double>(single.size()) - 1.0;
        EXPECT_LT(growth, 0.01) << joined.size() << " bytes against " << single.size();
    }
}

}  // namespace
