// Capture worker against a PulseAudio pipe source fed a known stereo signal at 44100 Hz (see
// run_pipe_capture.sh): the WAV must hold one contiguous run of the fed frames, none lost,
// doubled or reordered.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture_run.h"
#include "pipe_signal.h"
#include "recording/pcm.h"
#include "temp_dir.h"

namespace {

// The feeder runs 20 s; no recorded frame can come from later than that.
constexpr uint64_t FED_FRAMES = 20ull * PIPE_RATE;

// Returns true when the recorded frames from `at` on match the fed frames from `fed` on.
bool framesMatch(const std::vector<int16_t>& samples, size_t at, uint64_t fed, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (samples[2 * (at + i)] != floatToPcm16(pipeChannel0(fed + i))) return false;
        if (samples[2 * (at + i) + 1] != floatToPcm16(pipeChannel1(fed + i))) return false;
    }
    return true;
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

    const std::vector<unsigned char> file = readFileBytes(path);
    ASSERT_GT(file.size(), 44u);
    EXPECT_EQ(readLe16(file, 22), PIPE_CHANNELS);
    EXPECT_EQ(readLe32(file, 24), PIPE_RATE);
    EXPECT_EQ(readLe32(file, 40), file.size() - 44);
    const std::vector<int16_t> samples = wavSamples(file);
    const size_t frames = samples.size() / PIPE_CHANNELS;
    ASSERT_GE(frames, 10 * PIPE_RATE) << "at least ten seconds were recorded";

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
