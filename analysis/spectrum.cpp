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
