#include "analysis/spectrum.h"

#include <windows.h>

#include <fftw3.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "recording/live_state.h"

float blackmanCoefficient(size_t i) {
    const float index = static_cast<float>(i);
    const float a1 = (6.2831855f * index) / 8191.0f;
    const float c1 = std::cos(a1);
    const float a2 = (12.566371f * index) / 8191.0f;
    const float c2 = std::cos(a2);
    const double w = (0.42 - 0.5 * static_cast<double>(c1)) + 0.08 * static_cast<double>(c2);
    return static_cast<float>(w);
}

void initWindowTable() {
    if (!windowTable.empty()) return;
    windowTable.resize(FFT_SIZE);
    for (size_t i = 0; i < FFT_SIZE; ++i) windowTable[i] = blackmanCoefficient(i);
}

std::vector<std::complex<float>> computeFFT(const std::vector<std::complex<float>>& input) {
    const size_t n = input.size();
    fftwf_complex* in = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * n));
    fftwf_complex* out = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * n));
    for (size_t i = 0; i < n; ++i) {
        in[i][0] = input[i].real();
        in[i][1] = input[i].imag();
    }
    fftwf_plan plan = fftwf_plan_dft_1d(static_cast<int>(n), in, out, FFTW_FORWARD, FFTW_ESTIMATE);
    fftwf_execute(plan);
    fftwf_destroy_plan(plan);

    std::vector<std::complex<float>> result(n);
    for (size_t i = 0; i < n; ++i) result[i] = std::complex<float>(out[i][0], out[i][1]);
    fftwf_free(out);
    fftwf_free(in);
    return result;
}

float complexMagnitude(float re, float im) {
    // The square of every finite float fits a double with room to spare, so summing the squares
    // in double neither overflows nor underflows; this is several times quicker than the C
    // library's hypotf, which dominated the cost of an analysis.
    if (std::isinf(re) || std::isinf(im)) return INFINITY;  // as hypot: infinite even beside a NaN
    const double r = re;
    const double i = im;
    return static_cast<float>(std::sqrt(r * r + i * i));
}

std::vector<float> binMagnitudes(const std::vector<std::complex<float>>& spectrum) {
    std::vector<float> magnitudes(SPECTRUM_BINS);
    for (size_t k = 0; k < SPECTRUM_BINS && k < spectrum.size(); ++k) {
        magnitudes[k] = complexMagnitude(spectrum[k].real(), spectrum[k].imag());
    }
    return magnitudes;
}

SpectrumPeak findPeak(const std::vector<float>& magnitudes) {
    SpectrumPeak peak{0, PEAK_FLOOR};
    for (size_t k = 0; k < magnitudes.size(); ++k) {
        if (magnitudes[k] > peak.magnitude) peak = {k, magnitudes[k]};
    }
    return peak;
}

void normaliseMagnitudes(std::vector<float>& magnitudes, float peakMagnitude) {
    if (peakMagnitude > NORMALISE_THRESHOLD) {
        for (float& m : magnitudes) m = m / peakMagnitude;
    } else {
        for (float& m : magnitudes) m = 0.0f;
    }
}

float binFrequency(size_t bin, int32_t sampleRate) {
    const float product = static_cast<float>(bin) * static_cast<float>(sampleRate);
    return product / 8192.0f;
}

float levelWindowCoefficient(size_t i) {
    const double x = 2.0 * 3.141592653589793 * static_cast<double>(i) / static_cast<double>(LEVEL_BLOCK - 1);
    return static_cast<float>(0.42 - 0.5 * std::cos(x) + 0.08 * std::cos(2.0 * x));
}

std::vector<float> magnitudesToDbfs(const std::vector<float>& magnitudes, float windowSum) {
    std::vector<float> levels(magnitudes.size());
    for (size_t k = 0; k < magnitudes.size(); ++k) {
        const double ratio = 2.0 * static_cast<double>(magnitudes[k]) / static_cast<double>(windowSum);
        // "Not above the floor" also catches a ratio of 0 (minus infinity) and a NaN.
        const double level = 20.0 * std::log10(ratio);
        levels[k] = level > LEVEL_FLOOR_DB ? static_cast<float>(level) : LEVEL_FLOOR_DB;
    }
    return levels;
}

namespace {

// Returns the level window's coefficients and their sum, computed once.
const std::vector<float>& levelWindow(float* sum) {
    static float windowSum = 0.0f;
    static const std::vector<float> window = [] {
        std::vector<float> w(LEVEL_BLOCK);
        double total = 0.0;
        for (size_t i = 0; i < LEVEL_BLOCK; ++i) {
            w[i] = levelWindowCoefficient(i);
            total += w[i];
        }
        windowSum = static_cast<float>(total);
        return w;
    }();
    *sum = windowSum;
    return window;
}

// Returns the one real-to-complex plan of the level transform, made on first use.
// NOTE: FFTW's planner must not run on two threads at once, but executing one plan on new arrays
// (fftwf_execute_dft_r2c) may; only the capture worker analyses, so the plan is made there.
fftwf_plan levelPlan() {
    static const fftwf_plan plan = [] {
        float* in = static_cast<float*>(fftwf_malloc(sizeof(float) * LEVEL_TRANSFORM));
        fftwf_complex* out = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * LEVEL_BINS));
        fftwf_plan made = fftwf_plan_dft_r2c_1d(static_cast<int>(LEVEL_TRANSFORM), in, out, FFTW_ESTIMATE);
        fftwf_free(out);
        fftwf_free(in);
        return made;
    }();
    return plan;
}

}  // namespace

std::vector<float> blockLevelsDbfs(const float* values, size_t count) {
    float windowSum = 0.0f;
    const std::vector<float>& window = levelWindow(&windowSum);
    const fftwf_plan plan = levelPlan();
    std::vector<float> magnitudes(LEVEL_BINS, 0.0f);
    float* in = static_cast<float*>(fftwf_malloc(sizeof(float) * LEVEL_TRANSFORM));
    fftwf_complex* out = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * LEVEL_BINS));
    if (plan && in && out) {
        // The newest samples end the window; a shorter history starts later, after silence.
        const size_t used = count < LEVEL_BLOCK ? count : LEVEL_BLOCK;
        const size_t start = LEVEL_BLOCK - used;
        const float* newest = values + (count - used);
        for (size_t i = 0; i < LEVEL_TRANSFORM; ++i)
            in[i] = i >= start && i < LEVEL_BLOCK ? newest[i - start] * window[i] : 0.0f;
        fftwf_execute_dft_r2c(plan, in, out);
        for (size_t k = 0; k < LEVEL_BINS; ++k) magnitudes[k] = complexMagnitude(out[k][0], out[k][1]);
    }
    fftwf_free(out);
    fftwf_free(in);
    return magnitudesToDbfs(magnitudes, windowSum);
}

void queueLevels(const float* recent, size_t count, int32_t sampleRate, uint64_t endSample) {
    std::vector<float> levels = blockLevelsDbfs(recent, count);
    std::lock_guard<std::mutex> guard(levelColumnsMutex);
    if (levelColumns.size() >= LEVEL_COLUMNS_WAITING) levelColumns.pop_front();
    levelColumns.push_back({endSample, sampleRate, std::move(levels)});
}

void processFFT(const float* values, size_t count, int32_t sampleRate) {
    OutputDebugStringA("[FFT] processFFT called\n");
    initWindowTable();

    std::vector<std::complex<float>> input(FFT_SIZE);
    for (size_t i = 0; i < FFT_SIZE && i < count; ++i) {
        input[i] = std::complex<float>(values[i] * windowTable[i], 0.0f);
    }
    const std::vector<std::complex<float>> spectrum = computeFFT(input);

    std::vector<float> magnitudes = binMagnitudes(spectrum);
    const SpectrumPeak peak = findPeak(magnitudes);
    normaliseMagnitudes(magnitudes, peak.magnitude);
    const float frequency = binFrequency(peak.bin, sampleRate);

    {
        std::lock_guard<std::mutex> guard(spectrumMutex);
        spectrumData = magnitudes;
    }

    char line[128];
    std::snprintf(line, sizeof line, "[FFT] MaxBin: %zu, Freq: %.2f Hz, Mag: %.5f\n", peak.bin,
                  static_cast<double>(frequency), static_cast<double>(peak.magnitude));
    OutputDebugStringA(line);
}
