// The spectrogram's picture as numbers: frequency rows on a logarithmic axis, levels in dB
// relative to full scale turned into colours, and the picture of the recent columns with its
// gridlines. The render loop draws exactly this picture; the axis labels use the same rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

// The lowest frequency shown, at the bottom edge; the top edge is half the sample rate.
constexpr double SPECTROGRAM_LOW_HZ = 20.0;
// The fixed level scale: this or less is the darkest colour, 0 dBFS the brightest.
constexpr float SPECTROGRAM_FLOOR_DB = -100.0f;
// How much time the picture spans, from now at the right edge back to its left edge.
constexpr double SPECTROGRAM_SECONDS = 10.0;
// The picture's size in pixels: that of its host control.
constexpr int SPECTROGRAM_WIDTH = 1100;
constexpr int SPECTROGRAM_HEIGHT = 200;

struct Rgb8 {
    uint8_t r, g, b;
    bool operator==(const Rgb8& o) const { return r == o.r && g == o.g && b == o.b; }
};

// The dashed gridlines' colour: a neutral grey that the colour map never takes.
constexpr Rgb8 SPECTROGRAM_GRID{128, 128, 128};

// Returns the row (0 = bottom) whose band of the log axis from 20 Hz to rate / 2 holds hz; -1
// below the axis and rows above it.
int frequencyRow(double hz, int32_t sampleRate, int rows);

// Returns the level of each row from a block's levels (bin k of n at k x rate / (2 (n - 1)) Hz):
// the highest level of the bins in the row's band, or where the band holds no bin (low rows,
// narrower than a bin), the level interpolated between the two bins around its middle.
std::vector<float> rowLevels(const std::vector<float>& levelsDb, int32_t sampleRate, int rows);

// Returns the colour of a level: the "inferno" colour map (black, purple, red, orange, pale
// yellow), whose lightness rises all the way, so it also reads in grey; -100 dBFS or less is
// the darkest, 0 dBFS or more the brightest.
Rgb8 levelColour(float levelDb);

// Returns the frequencies that get a gridline and a label: 100 Hz, 1 kHz and 10 kHz, those
// below half the sample rate.
std::vector<double> gridFrequencies(int32_t sampleRate);

// One analysed block as the spectrogram keeps it: its place in the stream, its row levels and
// their colours (worked out once, not in every frame).
struct SpectrogramColumn {
    uint64_t endSample;
    int32_t sampleRate;
    std::vector<float> rows;
    std::vector<Rgb8> colours;
};

// Returns the column of a block's levels (see rowLevels) on an axis of rows rows.
SpectrogramColumn spectrogramColumn(uint64_t endSample, int32_t sampleRate, const std::vector<float>& levelsDb,
                                    int rows);

// Returns the picture, width x height RGB bytes with the bottom row first (as glDrawPixels takes
// it): the newest column at the right edge, each pixel the column that covers its moment of the
// last SPECTROGRAM_SECONDS, dark where no column does (gaps of more than a quarter second, or no
// recording), and the gridlines dashed over it.
std::vector<uint8_t> spectrogramImage(const std::deque<SpectrogramColumn>& columns, int32_t sampleRate, int width,
                                      int height);
