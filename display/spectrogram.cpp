#include "display/spectrogram.h"

#include <algorithm>
#include <cmath>

namespace {

// Anchors of the inferno colour map at 0, 1/4, 1/2, 3/4 and 1 of the scale, joined by straight
// lines; lightness rises on every stretch.
constexpr Rgb8 INFERNO[] = {{0, 0, 4}, {87, 16, 110}, {188, 55, 84}, {249, 142, 9}, {252, 255, 164}};
constexpr int INFERNO_STRETCHES = 4;
// A pixel further than this from the column that covers its moment shows nothing.
constexpr double LONGEST_STRETCH_SECONDS = 0.25;
// The dashes of a gridline: this many pixels on in each period.
constexpr int DASH_PERIOD = 8;
constexpr int DASH_ON = 3;

// Returns the natural logarithm of the top of the axis, half the sample rate (never below its bottom).
double axisTop(int32_t sampleRate) { return std::log(std::max(sampleRate / 2.0, SPECTROGRAM_LOW_HZ * 2)); }

// Returns the frequency at position (0 = bottom edge, rows = top edge) of the log axis.
double rowFrequency(double position, int32_t sampleRate, int rows) {
    const double low = std::log(SPECTROGRAM_LOW_HZ);
    return std::exp(low + (axisTop(sampleRate) - low) * position / rows);
}

// Returns a mixed linearly with b, by t from 0 (all a) to 1 (all b).
uint8_t mix(uint8_t a, uint8_t b, double t) { return static_cast<uint8_t>(std::lround(a + (b - a) * t)); }

}  // namespace

int frequencyRow(double hz, int32_t sampleRate, int rows) {
    if (!(hz >= SPECTROGRAM_LOW_HZ)) return -1;
    const double low = std::log(SPECTROGRAM_LOW_HZ);
    const double position = (std::log(hz) - low) / (axisTop(sampleRate) - low) * rows;
    return std::min(static_cast<int>(std::floor(position)), rows);
}

std::vector<float> rowLevels(const std::vector<float>& levelsDb, int32_t sampleRate, int rows) {
    std::vector<float> levels(static_cast<size_t>(std::max(rows, 0)), SPECTROGRAM_FLOOR_DB);
    const size_t bins = levelsDb.size();
    if (bins < 2 || sampleRate <= 0) return levels;
    const double binHz = sampleRate / 2.0 / static_cast<double>(bins - 1);
    for (int r = 0; r < rows; ++r) {
        const double lowBin = rowFrequency(r, sampleRate, rows) / binHz;
        const double highBin = rowFrequency(r + 1, sampleRate, rows) / binHz;
        const size_t first = static_cast<size_t>(std::ceil(lowBin));
        const size_t last = std::min(static_cast<size_t>(std::ceil(highBin)), bins);  // one past
        float level = SPECTROGRAM_FLOOR_DB - 1.0f;
        if (first < last) {
            for (size_t k = first; k < last; ++k) level = std::max(level, levelsDb[k]);
        } else {
            const double middle = rowFrequency(r + 0.5, sampleRate, rows) / binHz;
            const size_t below = std::min(static_cast<size_t>(middle), bins - 2);
            const double t = std::min(middle - static_cast<double>(below), 1.0);
            level = static_cast<float>(levelsDb[below] + (levelsDb[below + 1] - levelsDb[below]) * t);
        }
        levels[static_cast<size_t>(r)] = level;
    }
    return levels;
}

Rgb8 levelColour(float levelDb) {
    double t = (static_cast<double>(levelDb) - SPECTROGRAM_FLOOR_DB) / -SPECTROGRAM_FLOOR_DB;
    // Written as "not above 0" so a NaN level is dark too.
    if (!(t > 0.0)) t = 0.0;
    if (t > 1.0) t = 1.0;
    const double at = t * INFERNO_STRETCHES;
    const int stretch = std::min(static_cast<int>(at), INFERNO_STRETCHES - 1);
    const Rgb8 a = INFERNO[stretch];
    const Rgb8 b = INFERNO[stretch + 1];
    const double f = at - stretch;
    return {mix(a.r, b.r, f), mix(a.g, b.g, f), mix(a.b, b.b, f)};
}

std::vector<double> gridFrequencies(int32_t sampleRate) {
    std::vector<double> lines;
    for (double hz : {100.0, 1000.0, 10000.0})
        if (hz < sampleRate / 2.0) lines.push_back(hz);
    return lines;
}

SpectrogramColumn spectrogramColumn(uint64_t endSample, int32_t sampleRate, const std::vector<float>& levelsDb,
                                    int rows) {
    SpectrogramColumn column{endSample, sampleRate, rowLevels(levelsDb, sampleRate, rows), {}};
    column.colours.reserve(column.rows.size());
    for (float level : column.rows) column.colours.push_back(levelColour(level));
    return column;
}

std::vector<uint8_t> spectrogramImage(const std::deque<SpectrogramColumn>& columns, int32_t sampleRate, int width,
                                      int height) {
    std::vector<uint8_t> image(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
    const Rgb8 floor = levelColour(SPECTROGRAM_FLOOR_DB);
    std::vector<Rgb8> pixels(static_cast<size_t>(width) * static_cast<size_t>(height), floor);
    if (!columns.empty() && sampleRate > 0 && width > 0) {
        const double samplesPerPixel = SPECTROGRAM_SECONDS * sampleRate / width;
        const double longest = LONGEST_STRETCH_SECONDS * sampleRate;
        const double newest = static_cast<double>(columns.back().endSample);
        // From the right edge leftwards, with the covering column moving back through the history.
        size_t c = columns.size() - 1;
        for (int x = width - 1; x >= 0; --x) {
            const double moment = newest - (width - 1 - x) * samplesPerPixel;
            while (c > 0 && static_cast<double>(columns[c - 1].endSample) >= moment) --c;
            const SpectrogramColumn& column = columns[c];
            if (static_cast<double>(column.endSample) < moment ||
                static_cast<double>(column.endSample) - moment > longest ||
                column.colours.size() != static_cast<size_t>(height))
                continue;
            for (int y = 0; y < height; ++y)
                pixels[static_cast<size_t>(y) * width + x] = column.colours[static_cast<size_t>(y)];
        }
    }
    for (double hz : gridFrequencies(sampleRate)) {
        const int row = frequencyRow(hz, sampleRate, height);
        if (row < 0 || row >= height) continue;
        for (int x = 0; x < width; ++x)
            if (x % DASH_PERIOD < DASH_ON) pixels[static_cast<size_t>(row) * width + x] = SPECTROGRAM_GRID;
    }
    for (size_t i = 0; i < pixels.size(); ++i) {
        image[i * 3] = pixels[i].r;
        image[i * 3 + 1] = pixels[i].g;
        image[i * 3 + 2] = pixels[i].b;
    }
    return image;
}
