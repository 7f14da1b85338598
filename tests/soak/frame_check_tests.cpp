// The soak's content check must see every kind of damage a capture can do, or a clean soak
// proves nothing: recordings made from the feed and then cut, repeated or overwritten.
#include <gtest/gtest.h>

#include <vector>

#include "frame_check.h"

namespace {

// Returns the PCM form of fed frames [first, first + count).
std::vector<int16_t> fedRun(uint64_t first, uint64_t count) {
    std::vector<int16_t> samples;
    for (uint64_t n = first; n < first + count; ++n) {
        samples.push_back(floatToPcm16(pipeChannel0(n)));
        samples.push_back(floatToPcm16(pipeChannel1(n)));
    }
    return samples;
}

// Appends one run to another.
std::vector<int16_t> operator+(std::vector<int16_t> a, const std::vector<int16_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

constexpr uint64_t FED = 200000;
constexpr uint64_t WINDOW = 2 * PIPE_RATE;

struct Case {
    const char* name;
    std::vector<int16_t> samples;
    uint64_t firstFed, lost, doubled, unmatched, jumps;
};

}  // namespace

TEST(FrameCheck, TellsLostDoubledAndForeignFramesApart) {
    std::vector<int16_t> corrupted = fedRun(500, 3000);
    corrupted[2 * 1000] ^= 0x0100;  // one sample of frame 1000 damaged
    std::vector<int16_t> silenced = fedRun(0, 2000) + std::vector<int16_t>(2 * 480, 0) + fedRun(2480, 1000);
    const std::vector<Case> cases = {
        {"intact from the feed's start", fedRun(0, 5000), 0, 0, 0, 0, 0},
        {"intact from the middle of the feed", fedRun(123457, 44100), 123457, 0, 0, 0, 0},
        {"one packet lost", fedRun(1000, 4800) + fedRun(6280, 4800), 1000, 480, 0, 0, 1},
        {"one packet doubled", fedRun(1000, 4800) + fedRun(5320, 480) + fedRun(5800, 1000), 1000, 0, 480, 0, 1},
        {"a single frame lost", fedRun(10, 100) + fedRun(111, 100), 10, 1, 0, 0, 1},
        {"one damaged frame", corrupted, 500, 0, 0, 1, 0},
        {"a packet of silence in place of the feed", silenced, 0, 0, 0, 480, 0},
        {"two packets swapped", fedRun(0, 960) + fedRun(1440, 480) + fedRun(960, 480) + fedRun(1920, 480), 0, 960,
         960, 0, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const FrameCheck check = checkFedFrames(c.samples, FED, WINDOW);
        ASSERT_TRUE(check.started);
        EXPECT_EQ(check.recorded, c.samples.size() / 2);
        EXPECT_EQ(check.firstFed, c.firstFed);
        EXPECT_EQ(check.lost, c.lost);
        EXPECT_EQ(check.doubled, c.doubled);
        EXPECT_EQ(check.unmatched, c.unmatched);
        EXPECT_EQ(check.jumps, c.jumps);
    }
}

TEST(FrameCheck, FindsNoStartInSilenceOrBeyondTheFeed) {
    EXPECT_FALSE(checkFedFrames(std::vector<int16_t>(2 * 1000, 0), FED, WINDOW).started);
    EXPECT_FALSE(checkFedFrames(fedRun(FED + 10, 1000), FED, WINDOW).started);
    const FrameCheck empty = checkFedFrames({}, FED, WINDOW);
    EXPECT_FALSE(empty.started);
    EXPECT_EQ(empty.recorded, 0u);
}
