// Capture worker against a PulseAudio pipe source fed a known stereo signal at 44100 Hz (see
// run_pipe_capture.sh): the WAV must hold one contiguous run of the fed frames, none lost,
// doubled or reordered.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "capture_run.h"
#include "held_write.h"
#include "pipe_signal.h"
#include "recording/pcm.h"
#include "temp_dir.h"

namespace {

// How long run_pipe_capture.sh feeds the source; no recorded frame can come from later than that.
uint64_t fedFrames() {
    const char* seconds = std::getenv("VOXTREL_PIPE_SECONDS");
    return (seconds ? std::strtoull(seconds, nullptr, 10) : 20ull) * PIPE_RATE;
}

// Returns true when the recorded frames from `at` on match the fed frames from `fed` on.
bool framesMatch(const std::vector<int16_t>& samples, size_t at, uint64_t fed, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (samples[2 * (at + i)] != floatToPcm16(pipeChannel0(fed + i))) return false;
        if (samples[2 * (at + i) + 1] != floatToPcm16(pipeChannel1(fed + i))) return false;
    }
    return true;
}

// Checks that the file holds one contiguous run of the fed frames, at least minSeconds of them.
void expectOneRunOfTheFeed(const std::wstring& path, uint32_t minSeconds) {
    const uint64_t FED_FRAMES = fedFrames();
    const std::vector<unsigned char> file = readFileBytes(path);
    ASSERT_GT(file.size(), 44u);
    EXPECT_EQ(readLe16(file, 22), PIPE_CHANNELS);
    EXPECT_EQ(readLe32(file, 24), PIPE_RATE);
    EXPECT_EQ(readLe32(file, 40), file.size() - 44);
    const std::vector<int16_t> samples = wavSamples(file);
    const size_t frames = samples.size() / PIPE_CHANNELS;
    ASSERT_GE(frames, minSeconds * PIPE_RATE) << "too little was recorded";

    // Find where in the feed the recording began, then demand every later frame in order.
    constexpr size_t PROBE = 64;
    uint64_t start = FED_FRAMES;
    for (uint64_t fed = 0; fed < FED_FRAMES && start == FED_FRAMES; ++fed)
        if (framesMatch(samples, 0, fed, PROBE)) start = fed;
    ASSERT_LT(start, FED_FRAMES) << "the first recorded frames are not fed frames: " << samples[0] << ", "
                                 << samples[1];
    ASSERT_LE(start + frames, FED_FRAMES);
    size_t mismatches = 0, firstMismatch = frames;
    for (size_t i = 0; i < frames; ++i) {
        if (!framesMatch(samples, i, start + i, 1)) {
            if (mismatches++ == 0) firstMismatch = i;
        }
    }
    EXPECT_EQ(mismatches, 0u) << "first at recorded frame " << firstMismatch << " of " << frames;
}

}  // namespace

TEST(CapturePipeSource, RecordsOneContiguousRunOfTheFedFrames) {
    TempDir dir;
    const std::wstring path = dir.wideFile(L"pipe.wav");
    {
        CaptureRun run(path);
        ASSERT_TRUE(run.waitUntilRecording(10000)) << "the recording never started";
        run.pumpFor(11000);
        run.stop();
        ASSERT_TRUE(run.waitUntilSaved(10000));
        EXPECT_EQ(run.savedMessages(), 1);
    }
    expectOneRunOfTheFeed(path, 10);
}

TEST(CapturePipeSource, AWriterHeldForTenSecondsLosesNoFrame) {
    TempDir dir;
    const std::wstring path = dir.wideFile(L"held.wav");
    HeldWrite held;
    {
        CaptureRun run(path);
        ASSERT_TRUE(run.waitUntilRecording(10000)) << "the recording never started";
        run.pumpFor(2000);
        held.holdNext();
        for (int i = 0; i < 500 && !held.waitUntilHeld(0); ++i) run.pumpFor(20);
        const bool wasHeld = held.waitUntilHeld(0);
        if (wasHeld) run.pumpFor(10000);
        held.release();
        ASSERT_TRUE(wasHeld) << "the writer never wrote";
        run.pumpFor(3000);
        run.stop();
        ASSERT_TRUE(run.waitUntilSaved(30000));
        EXPECT_EQ(run.outcome(), RECORDING_SAVED);
    }
    EXPECT_EQ(lastRecordingGaps.load(), 0u);
    // 2 + 10 + 3 s, less what Wine's late start and its bursts may cut off at either end.
    expectOneRunOfTheFeed(path, 11);
}
