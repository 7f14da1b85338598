// Spectrum analyser: window table, FFT, peak and normalisation, and the published spectrum
// with its debugger lines read from the real debug-output channel.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <limits>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "analysis/spectrum.h"
#include "debug_monitor.h"
#include "recording/live_state.h"

namespace {

constexpr double PI = 3.14159265358979323846;

std::vector<float> sine(float frequency, float amplitude, int rate, size_t count) {
    std::vector<float> samples(count);
    for (size_t i = 0; i < count; ++i)
        samples[i] = amplitude * static_cast<float>(std::sin(2.0 * PI * frequency * static_cast<double>(i) / rate));
    return samples;
}

std::vector<float> publishedSpectrum() {
    std::lock_guard<std::mutex> guard(spectrumMutex);
    return spectrumData;
}

struct Analysis {
    std::vector<float> spectrum;
    std::vector<std::string> lines;
};

Analysis analyse(const std::vector<float>& block, size_t count, int32_t rate) {
    DebugMonitor monitor;
    EXPECT_TRUE(monitor.ready());
    processFFT(block.data(), count, rate);
    return {publishedSpectrum(), monitor.linesStartingWith("[FFT]")};
}

// Returns the magnitude printed after "Mag: " in a result line.
double printedMagnitude(const std::string& line) {
    const size_t at = line.find("Mag: ");
    return at == std::string::npos ? -1.0 : std::stod(line.substr(at + 5));
}

}  // namespace

TEST(WindowTable, HoldsTheTellingValues) {
    windowTable.clear();
    initWindowTable();
    ASSERT_EQ(windowTable.size(), 8192u);
    EXPECT_NEAR(windowTable[0], -1.39e-17, 0.01e-17);
    EXPECT_NE(windowTable[0], 0.0f);
    EXPECT_EQ(windowTable[0], windowTable[8191]);
    EXPECT_NEAR(windowTable[1], 5.36e-8, 0.01e-8);
    EXPECT_NEAR(windowTable[511], 0.014573, 1e-6);
    EXPECT_NEAR(windowTable[1023], 0.066317, 1e-6);
    EXPECT_NEAR(windowTable[2047], 0.339712, 1e-6);
    EXPECT_LT(windowTable[4095], 1.0f);
    EXPECT_LT(windowTable[4096], 1.0f);
    EXPECT_GT(windowTable[4095], 0.9999999f);
    EXPECT_GT(windowTable[4096], 0.9999999f);
    for (size_t i = 0; i < 8192; ++i) ASSERT_NEAR(windowTable[i], windowTable[8191 - i], 5e-7) << i;
}

TEST(WindowTable, IsComputedOnceAndNeverRecomputedOrEnlarged) {
    windowTable.clear();
    const std::vector<float> block(1024, 0.5f);
    processFFT(block.data(), block.size(), 44100);
    ASSERT_EQ(windowTable.size(), 8192u);
    const float* storage = windowTable.data();
    windowTable[3000] = 42.0f;  // a value the formula never yields
    processFFT(block.data(), block.size(), 44100);
    initWindowTable();
    EXPECT_EQ(windowTable.size(), 8192u);
    EXPECT_EQ(windowTable.data(), storage);
    EXPECT_EQ(windowTable[3000], 42.0f);
    windowTable.clear();
}

TEST(ComputeFFT, MatchesTheForwardDftDefinition) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    for (size_t n : {1u, 2u, 5u, 16u, 100u}) {
        SCOPED_TRACE(n);
        std::vector<std::complex<float>> input(n);
        for (auto& x : input) x = {value(random), value(random)};
        const std::vector<std::complex<float>> output = computeFFT(input);
        ASSERT_EQ(output.size(), n);
        for (size_t k = 0; k < n; ++k) {
            std::complex<double> expected = 0.0;
            for (size_t j = 0; j < n; ++j)
                expected += std::complex<double>(input[j]) * std::polar(1.0, -2.0 * PI * double(j * k) / double(n));
            EXPECT_NEAR(output[k].real(), expected.real(), 1e-4) << k;
            EXPECT_NEAR(output[k].imag(), expected.imag(), 1e-4) << k;
        }
    }
}

struct SineCase {
    const char* name;
    float frequency, amplitude;
    size_t peakBin;
    const char* frequencyText;
    double magnitude;
};

TEST(ProcessFFT, FindsThePeakOfASine) {
    const SineCase cases[] = {
        {"1000 Hz at 0.5", 1000.0f, 0.5f, 186, "1001.29", 5.281},
        {"440 Hz at 1.0", 440.0f, 1.0f, 82, "441.43", 10.51},
    };
    for (const SineCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Analysis a = analyse(sine(c.frequency, c.amplitude, 44100, 1024), 1024, 44100);
        ASSERT_EQ(a.spectrum.size(), 4096u);
        EXPECT_EQ(a.spectrum[c.peakBin], 1.0f);
        for (size_t k = 0; k < 4096; ++k) ASSERT_LE(a.spectrum[k], 1.0f);
        ASSERT_EQ(a.lines.size(), 2u);
        EXPECT_EQ(a.lines[0], "[FFT] processFFT called\n");
        const std::string prefix = "[FFT] MaxBin: " + std::to_string(c.peakBin) + ", Freq: " + c.frequencyText + " Hz, Mag: ";
        EXPECT_EQ(a.lines[1].substr(0, prefix.size()), prefix) << a.lines[1];
        EXPECT_NEAR(printedMagnitude(a.lines[1]), c.magnitude, 0.006);
        EXPECT_EQ(a.lines[1].back(), '\n');
    }
    const Analysis wide = analyse(sine(1000.0f, 0.5f, 44100, 1024), 1024, 44100);
    EXPECT_NEAR(wide.spectrum[185], 0.99, 0.01);
    EXPECT_NEAR(wide.spectrum[187], 0.99, 0.01);
}

TEST(ProcessFFT, PutsAConstantBlockAtBinZero) {
    const Analysis a = analyse(std::vector<float>(1024, 1.0f), 1024, 44100);
    ASSERT_EQ(a.spectrum.size(), 4096u);
    EXPECT_EQ(a.spectrum[0], 1.0f);
    ASSERT_EQ(a.lines.size(), 2u);
    EXPECT_EQ(a.lines[1].substr(0, 34), "[FFT] MaxBin: 0, Freq: 0.00 Hz, Ma");
    double windowSum = 0.0;
    for (size_t i = 0; i < 1024; ++i) windowSum += windowTable[i];
    EXPECT_NEAR(windowSum, 21.24, 0.005);
    EXPECT_NEAR(printedMagnitude(a.lines[1]), windowSum, 1e-3);
}

TEST(ProcessFFT, PublishesZerosForSilenceAndForAnEmptyBlock) {
    struct Case {
        const char* name;
        size_t count;
    } cases[] = {{"1024 zeros", 1024}, {"count 0", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        {
            std::lock_guard<std::mutex> guard(spectrumMutex);
            spectrumData.assign(10, 0.5f);
        }
        const Analysis a = analyse(std::vector<float>(1024, 0.0f), c.count, 48000);
        EXPECT_EQ(a.spectrum, std::vector<float>(4096, 0.0f));
        ASSERT_EQ(a.lines.size(), 2u);
        EXPECT_EQ(a.lines[1], "[FFT] MaxBin: 0, Freq: 0.00 Hz, Mag: 0.00000\n");
    }
}

TEST(ProcessFFT, IgnoresSamplesBeyondTheTransformLength) {
    std::vector<float> block = sine(3000.0f, 0.25f, 48000, 8192);
    const Analysis exact = analyse(block, 8192, 48000);
    block.resize(9000, 1000.0f);  // a loud tail that would dominate if it were used
    const Analysis longer = analyse(block, 9000, 48000);
    EXPECT_EQ(longer.spectrum, exact.spectrum);
    EXPECT_EQ(longer.lines, exact.lines);
}

TEST(Magnitude, IsTheHypotenuseWithoutOverflowOrUnderflow) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float maxFloat = std::numeric_limits<float>::max();
    const float tiniest = std::numeric_limits<float>::denorm_min();
    struct Case {
        const char* name;
        float re, im;
        float expected;
    } cases[] = {
        {"zero", 0.0f, 0.0f, 0.0f},
        {"3-4-5", 3.0f, -4.0f, 5.0f},
        {"imaginary only", 0.0f, -2.5f, 2.5f},
        {"squares beyond float range", maxFloat, maxFloat, inf},  // the true value exceeds max
        {"huge beside small", maxFloat, 1.0f, maxFloat},
        {"one half of max each", maxFloat / 2, maxFloat / 2, maxFloat / 2 * 1.41421356f},
        {"squares below float range", tiniest, 0.0f, tiniest},
        {"tiny pair", 3e-39f, 4e-39f, 5e-39f},
        {"infinity", inf, 1.0f, inf},
        {"infinity beside NaN", nan, -inf, inf},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FLOAT_EQ(complexMagnitude(c.re, c.im), c.expected);
        EXPECT_FLOAT_EQ(complexMagnitude(c.re, c.im), std::hypot(c.re, c.im));
    }
    EXPECT_TRUE(std::isnan(complexMagnitude(nan, 1.0f)));
}

TEST(Peak, GoesToTheLowestOfEqualBinsAndNeverToFloorOrNaN) {
    struct Case {
        const char* name;
        std::vector<float> magnitudes;
        size_t bin;
        float magnitude;
    } cases[] = {
        {"tie", {0.0f, 3.0f, 1.0f, 3.0f}, 1, 3.0f},
        {"all at the floor", {1e-8f, 1e-8f}, 0, 1e-8f},
        {"NaN skipped", {0.5f, std::nanf(""), 0.7f}, 2, 0.7f},
        {"below the floor", {1e-9f, 0.0f}, 0, 1e-8f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const SpectrumPeak peak = findPeak(c.magnitudes);
        EXPECT_EQ(peak.bin, c.bin);
        EXPECT_EQ(peak.magnitude, c.magnitude);
    }
}

TEST(Normalise, ScalesAboveTheThresholdAndZeroesAtOrBelowIt) {
    struct Case {
        const char* name;
        float peak;
        std::vector<float> expected;
    } cases[] = {
        {"exactly 1e-6", 1e-6f, {0.0f, 0.0f}},
        {"just above 1e-6", std::nextafter(1e-6f, 1.0f), {std::nextafter(1e-6f, 1.0f) / std::nextafter(1e-6f, 1.0f), 0.5e-6f / std::nextafter(1e-6f, 1.0f)}},
        {"floor", 1e-8f, {0.0f, 0.0f}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<float> magnitudes = {c.peak, 0.5e-6f};
        normaliseMagnitudes(magnitudes, c.peak);
        EXPECT_EQ(magnitudes, c.expected);
    }
}

TEST(ProcessFFT, ReportsAPeakBetweenFloorAndThresholdButPublishesZeros) {
    // A tiny constant: its bin-0 magnitude (about 21.24 x the value) stays under 1e-6.
    const Analysis a = analyse(std::vector<float>(1024, 2e-8f), 1024, 44100);
    EXPECT_EQ(a.spectrum, std::vector<float>(4096, 0.0f));
    ASSERT_EQ(a.lines.size(), 2u);
    EXPECT_EQ(a.lines[1], "[FFT] MaxBin: 0, Freq: 0.00 Hz, Mag: 0.00000\n");
}

TEST(BinFrequency, UsesSinglePrecision) {
    EXPECT_EQ(binFrequency(186, 44100), 1001.2939453125f);
    EXPECT_EQ(binFrequency(0, 48000), 0.0f);
    EXPECT_EQ(binFrequency(4095, 48000), 23994.140625f);
}

TEST(LevelsDbfs, AFullScaleSineReadsZeroAndQuieterOnesTheirLevel) {
    // Blackman over the newest 4096 samples, its coherent gain taken out: a sine's peak bin reads
    // its amplitude in dB relative to full scale, at any frequency and rate the display shows.
    const struct {
        float hz;
        float amplitude;
        int rate;
        float db;
    } cases[] = {
        {1000.0f, 1.0f, 48000, 0.0f},    {1000.0f, 0.1f, 48000, -20.0f}, {100.0f, 0.1f, 48000, -20.0f},
        {10000.0f, 0.1f, 48000, -20.0f}, {440.0f, 0.5f, 44100, -6.02f},  {3000.0f, 0.01f, 8000, -40.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.hz << " Hz x " << c.amplitude << " at " << c.rate);
        const std::vector<float> block = sine(c.hz, c.amplitude, c.rate, 5000);  // the newest 4096 count
        const std::vector<float> levels = blockLevelsDbfs(block.data(), block.size());
        ASSERT_EQ(levels.size(), LEVEL_BINS);
        const size_t peak = static_cast<size_t>(std::max_element(levels.begin(), levels.end()) - levels.begin());
        EXPECT_NEAR(peak * static_cast<double>(c.rate) / LEVEL_TRANSFORM, c.hz, c.rate / double(LEVEL_TRANSFORM));
        EXPECT_NEAR(levels[peak], c.db, 0.2);  // a tone between two bins reads up to 0.12 dB low
        // A decade away the window's leakage is far below the tone.
        const size_t decadeAway = peak * 10 < LEVEL_BINS ? peak * 10 : peak / 10;
        EXPECT_LT(levels[decadeAway], c.db - 60.0f);
    }
    // Silence, and an empty block, read the floor everywhere.
    // 100 Hz told from a 50 Hz hum: between them the level falls more than 10 dB below both.
    std::vector<float> both = sine(100.0f, 0.1f, 48000, 4096);
    const std::vector<float> hum = sine(50.0f, 0.1f, 48000, 4096);
    for (size_t i = 0; i < both.size(); ++i) both[i] += hum[i];
    const std::vector<float> two = blockLevelsDbfs(both.data(), both.size());
    EXPECT_LT(two[static_cast<size_t>(75.0 * 8192 / 48000)], -30.0f);
    const std::vector<float> silence(4096, 0.0f);
    for (float level : blockLevelsDbfs(silence.data(), silence.size())) ASSERT_EQ(level, LEVEL_FLOOR_DB);
    for (float level : blockLevelsDbfs(silence.data(), 0)) ASSERT_EQ(level, LEVEL_FLOOR_DB);
}

TEST(LevelsDbfs, EachColumnIsQueuedAndTheQueueIsBounded) {
    {
        std::lock_guard<std::mutex> guard(levelColumnsMutex);
        levelColumns.clear();
    }
    const std::vector<float> block = sine(1000.0f, 0.1f, 48000, 4096);
    queueLevels(block.data(), block.size(), 48000, 1440);
    {
        std::lock_guard<std::mutex> guard(levelColumnsMutex);
        ASSERT_EQ(levelColumns.size(), 1u);
        EXPECT_EQ(levelColumns.front().endSample, 1440u);
        EXPECT_EQ(levelColumns.front().sampleRate, 48000);
        EXPECT_EQ(levelColumns.front().levelsDb, blockLevelsDbfs(block.data(), block.size()));
    }
    // Nobody takes them: the oldest go, the newest stay.
    for (uint64_t i = 0; i < LEVEL_COLUMNS_WAITING + 5; ++i) queueLevels(block.data(), block.size(), 48000, 2000 + i);
    std::lock_guard<std::mutex> guard(levelColumnsMutex);
    EXPECT_EQ(levelColumns.size(), LEVEL_COLUMNS_WAITING);
    EXPECT_EQ(levelColumns.back().endSample, 2000 + LEVEL_COLUMNS_WAITING + 4);
    levelColumns.clear();
}
