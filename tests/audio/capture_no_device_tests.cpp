// Capture worker with no audio server reachable (PULSE_SERVER points nowhere for this program),
// so Wine's Core Audio has no capture endpoint.
#include <gtest/gtest.h>

#include <filesystem>

#include "capture_run.h"
#include "temp_dir.h"

TEST(CaptureNoDevice, NoFileIsCreatedAndTheEndIsStillPosted) {
    TempDir dir;
    const std::wstring path = dir.wideFile(L"nothing.wav");
    CaptureRun run(path);
    ASSERT_TRUE(run.waitUntilSaved(20000)) << "WM_RECORDING_SAVED never arrived";
    EXPECT_EQ(run.savedMessages(), 1);
    EXPECT_EQ(run.outcome(), RECORDING_NO_DEVICE) << "the end did not say that there is no device";
    EXPECT_FALSE(run.captureActiveWhenSaved());
    EXPECT_FALSE(isRecording.load());
    EXPECT_FALSE(std::filesystem::exists(path));
}
