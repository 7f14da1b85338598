// The spectrum analyser: an 8192-point single-precision FFT of one block of left-channel
// samples, published as a normalised 4096-bin magnitude spectrum in spectrumData.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <vector>

constexpr size_t FFT_SIZE = 8192;
constexpr size_t SPECTRUM_BINS = 4096;
constexpr float PEAK_FLOOR = 1e-8f;
constexpr float NORMALISE_THRESHOLD = 1e-6f;

struct SpectrumPeak {
    size_t bin;
    float magnitude;  // before normalisation, never below PEAK_FLOOR
};

// Returns Blackman coefficient i of the 8192-point window, with the table's exact precisions.
float blackmanCoefficient(size_t i);

// Fills windowTable once; later calls leave it untouched.
void initWindowTable();

// Returns the forward, unnormalised DFT of input, computed by FFTW with a fresh plan.
std::vector<std::complex<float>> computeFFT(const std::vector<std::complex<float>>& input);

// Returns the single-precision absolute value of re + i im, with no intermediate overflow or underflow.
float complexMagnitude(float re, float im);

// Returns the magnitudes of the lower half of a spectrum (bins 0 .. SPECTRUM_BINS - 1).
std::vector<float> binMagnitudes(const std::vector<std::complex<float>>& spectrum);

// Returns the strongest bin: strictly greater than the floor and all lower bins, so ties go low.
SpectrumPeak findPeak(const std::vector<float>& magnitudes);

// Divides every magnitude by the peak, or zeroes them all when the peak is at or below the threshold.
void normaliseMagnitudes(std::vector<float>& magnitudes, float peakMagnitude);

// Returns the frequency of a bin in single precision: bin x rate / FFT_SIZE.
float binFrequency(size_t bin, int32_t sampleRate);

// The levels in dB relative to full scale that the spectrogram shows: a Blackman window over the
// newest 4096 samples of the first channel (85 ms at 48000 Hz: narrow enough in frequency to tell
// a 50 Hz hum from a 100 Hz voice on the log axis; the 1024-sample block alone smears 100 Hz over
// an octave), zero-padded to 8192 points (bins of rate / 8192), the magnitudes corrected for the
// window's coherent gain so that a full-scale sine reads 0 dBFS.
constexpr size_t LEVEL_BLOCK = 4096;
constexpr size_t LEVEL_TRANSFORM = 8192;
constexpr size_t LEVEL_BINS = LEVEL_TRANSFORM / 2 + 1;
// What a bin of no energy at all reads, instead of minus infinity.
constexpr float LEVEL_FLOOR_DB = -200.0f;

// Returns coefficient i of the Blackman window over the LEVEL_BLOCK samples the levels are taken from.
float levelWindowCoefficient(size_t i);

// Returns 20 log10(2 m / windowSum) for each magnitude m, no lower than LEVEL_FLOOR_DB: the level of
// a sine whose windowed transform has that peak, relative to a full-scale one.
std::vector<float> magnitudesToDbfs(const std::vector<float>& magnitudes, float windowSum);

// Returns the LEVEL_BINS levels in dBFS of the newest LEVEL_BLOCK of count samples (fewer are
// preceded by silence).
std::vector<float> blockLevelsDbfs(const float* values, size_t count);

// Analyses count samples: publishes the spectrum and writes the peak to the debugger output.
void processFFT(const float* values, size_t count, int32_t sampleRate);

// Queues the levels in dBFS of the newest samples for the spectrogram, tagged with endSample (the
// display's sample count after the newest of them); the oldest waiting column goes when the queue
// is full.
void queueLevels(const float* recent, size_t count, int32_t sampleRate, uint64_t endSample);
