// Capture worker against the private PulseAudio server that scripts/test starts, through Wine's
// real Core Audio: its default source is a 440 Hz sine of amplitude 0.5, mono, at 48000 Hz.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "capture_run.h"
#include "export_test_helpers.h"
#include "temp_dir.h"

namespace {

constexpr uint32_t SINE_RATE = 48000;
constexpr double SINE_FREQUENCY = 440.0;
constexpr double SINE_RMS = 0.5 / std::sqrt(2.0);

// Returns the RMS of 16-bit samples on a [-1, 1] scale.
double rmsOf(const std::vector<int16_t>& samples) {
    double sum = 0;
    for (int16_t s : samples) sum += (s / 32767.0) * (s / 32767.0);
    return std::sqrt(sum / samples.size());
}

// Returns the frequency of a mono tone from its rising zero crossings.
double frequencyOf(const std::vector<int16_t>& samples, uint32_t rate) {
    size_t first = 0, last = 0, crossings = 0;
    for (size_t i = 1; i < samples.size(); ++i) {
        if (samples[i - 1] < 0 && samples[i] >= 0) {
            if (crossings++ == 0) first = i;
            last = i;
        }
    }
    return crossings < 2 ? 0.0 : (crossings - 1) * static_cast<double>(rate) / (last - first);
}

// Returns the size of a file, 0 when it does not exist.
uint64_t fileSize(const std::wstring& path) {
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(path, error);
    return error ? 0 : size;
}

// Returns the data size the header of a WAV file declares, 0 when it has no whole header.
uint32_t declaredDataSize(const std::wstring& path) {
    const std::vector<unsigned char> file = readFileBytes(path);
    return file.size() >= 44 ? readLe32(file, 40) : 0;
}

// Returns the path of the recording host beside this test program.
std::wstring hostPath() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return (std::filesystem::path(self).parent_path() / L"capture_host.exe").wstring();
}

}  // namespace

TEST(CaptureSineSource, RecordsTheSourcesFormatLevelAndPitch) {
    TempDir dir;
    const std::wstring path = dir.wideFile(L"sine.wav");
    CaptureRun run(path);
    ASSERT_TRUE(run.waitUntilRecording(10000)) << "the recording never started";
    // NOTE: Wine's PulseAudio driver hands captured audio over late and in bursts of up to a
    // second, the later the busier the machine, so wait for two seconds of audio in the file
    // (it is written unbuffered) rather than for a time.
    const uint64_t twoSeconds = 44 + 2 * SINE_RATE * 2;
    for (ULONGLONG end = GetTickCount64() + 30000; fileSize(path) < twoSeconds && GetTickCount64() < end;)
        run.pumpFor(50);
    ASSERT_GE(fileSize(path), twoSeconds) << "two seconds of audio did not arrive within 30 s";
    run.stop();
    ASSERT_TRUE(run.waitUntilSaved(10000));
    EXPECT_EQ(run.savedMessages(), 1);
    EXPECT_FALSE(run.captureActiveWhenSaved()) << "WM_RECORDING_SAVED came before captureActive went down";
    EXPECT_GT(run.levelUpdates(), 100u) << "one WM_LEVEL_UPDATE per packet";

    const std::vector<unsigned char> file = readFileBytes(path);
    ASSERT_GT(file.size(), 44u);
    EXPECT_EQ(readLe16(file, 20), 1);
    EXPECT_EQ(readLe16(file, 22), 1);
    EXPECT_EQ(readLe32(file, 24), SINE_RATE);
    EXPECT_EQ(readLe32(file, 28), SINE_RATE * 2);
    EXPECT_EQ(readLe16(file, 34), 16);
    EXPECT_EQ(readLe32(file, 40), file.size() - 44);
    EXPECT_EQ(readLe32(file, 4), file.size() - 8);
    EXPECT_EQ(captureSampleRate, static_cast<int32_t>(SINE_RATE));

    const std::vector<int16_t> samples = wavSamples(file);
    EXPECT_GE(samples.size(), SINE_RATE * 2) << "what was in the file before the stop is missing";
    EXPECT_NEAR(rmsOf(samples), SINE_RMS, 0.01);
    EXPECT_NEAR(frequencyOf(samples, SINE_RATE), SINE_FREQUENCY, 2.0);
}

TEST(CaptureSineSource, StopDuringSetUpLeavesAnEmptyFinishedFile) {
    TempDir dir;
    const std::wstring path = dir.wideFile(L"stopped.wav");
    {
        CaptureRun run(path, true);  // "Stop" pressed before the worker raised isRecording
        ASSERT_TRUE(run.waitUntilSaved(10000));
        EXPECT_EQ(run.savedMessages(), 1);
        EXPECT_EQ(run.outcome(), RECORDING_NO_AUDIO);
    }
    EXPECT_FALSE(isRecording.load());
    const std::vector<unsigned char> file = readFileBytes(path);
    ASSERT_EQ(file.size(), 44u);
    EXPECT_EQ(readLe32(file, 4), 36u);
    EXPECT_EQ(readLe32(file, 40), 0u);
}

TEST(CaptureSineSource, KilledRecordingLeavesAHeaderThatKeepsUpWithItsData) {
    TempDir dir;
    const std::wstring path = dir.wideFile(L"killed.wav");
    std::wstring commandLine = L"\"" + hostPath() + L"\" \"" + path + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &process))
        << "cannot start " << std::filesystem::path(hostPath()).string();
    // Killed once the header has caught up with a second of audio (Wine's capture starts late
    // and in bursts, so this is a wait for the data, not for a time).
    for (ULONGLONG end = GetTickCount64() + 30000; declaredDataSize(path) < SINE_RATE * 2 && GetTickCount64() < end;)
        Sleep(50);
    TerminateProcess(process.hProcess, 9);
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    const std::vector<unsigned char> file = readFileBytes(path);
    ASSERT_GT(file.size(), 44u) << "the host recorded nothing";
    const uint64_t onDisk = file.size() - 44;
    const uint32_t declared = readLe32(file, 40);
    const uint32_t oneSecond = readLe32(file, 28);
    EXPECT_EQ(oneSecond, SINE_RATE * 2);
    EXPECT_EQ(readLe32(file, 4), declared + 36);
    EXPECT_GE(declared, oneSecond) << "the header never caught up with a second of audio";
    EXPECT_LE(declared, onDisk);
    // The header is brought up to date twice a second; what reached the file since may include a
    // whole burst of Wine's capture (up to its one-second buffer).
    EXPECT_LE(onDisk - declared, 2 * oneSecond) << "the header lags the data by more than a refresh and a burst";
}

// This program has no application manifest, so its code page is the ANSI one (1252 under Wine),
// as it is for Voxtrel on Windows 10 before version 1903, which ignores the manifest's UTF-8.
TEST(NamesOutsideTheCodePage, RecordAndExportUnderExactlyTheChosenNames) {
    ASSERT_NE(GetACP(), static_cast<UINT>(CP_UTF8)) << "this test needs a program without the UTF-8 code page";
    TempDir dir;
    const std::wstring wavName = L"\u9332\u97f3 \u30c6\u30b9\u30c8 \U0001F399.wav";  // CJK letters and a microphone
    const std::wstring mp3Name = L"\u66f8\u304d\u51fa\u3057 \U0001F3A7.mp3";
    const std::wstring wavPath = dir.wideFile(wavName);
    const std::wstring mp3Path = dir.wideFile(mp3Name);
    {
        CaptureRun run(wavPath);
        ASSERT_TRUE(run.waitUntilRecording(10000)) << "the recording never started: the file could not be opened";
        const uint64_t halfSecond = 44 + SINE_RATE;
        for (ULONGLONG end = GetTickCount64() + 30000; fileSize(wavPath) < halfSecond && GetTickCount64() < end;)
            run.pumpFor(50);
        ASSERT_GE(fileSize(wavPath), halfSecond) << "half a second of audio did not arrive within 30 s";
        run.stop();
        ASSERT_TRUE(run.waitUntilSaved(10000));
        EXPECT_EQ(run.outcome(), RECORDING_SAVED);
    }
    const ExportOutcome exported = runWatchedExport(mp3Path, wavPath);
    ASSERT_TRUE(exported.finished);
    for (const ShownBox& box : exported.boxes) ADD_FAILURE() << "the export said: " << std::filesystem::path(box.text).string();

    std::vector<std::wstring> expected{wavName, mp3Name};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(folderEntries(dir.path()), expected) << "a name was changed on its way to the disk";
    const std::vector<unsigned char> wav = readFileBytes(wavPath);
    ASSERT_GT(wav.size(), 44u);
    EXPECT_EQ(readLe32(wav, 40), wav.size() - 44) << "the recording was not finished under its name";
    EXPECT_NEAR(frequencyOf(wavSamples(wav), SINE_RATE), SINE_FREQUENCY, 2.0);
    EXPECT_GT(walkMp3Frames(readFileBytes(std::filesystem::path(mp3Path))).frames, 0u) << "the MP3 holds no frames";
}
