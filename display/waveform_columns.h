// The waveform as pixel columns: each column spans the lowest to the highest of the samples that
// fall in it, so a steady tone draws a flat band and a single-sample click shows at its height,
// whatever the history's length. Kept apart from the GL calls so it can be checked with numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The lowest and highest pixel rows (0 = bottom) one column of the waveform covers.
struct ColumnRows {
    int low;
    int high;
};

// Returns the pixel row, 0 (bottom) to rows - 1, where a sample's height sample / 32768 falls.
int waveformRow(int16_t sample, int rows);

// Returns one span per column for samples spread evenly over columns (oldest at the left): the
// rows of the lowest and highest sample of the column, widened to reach the last sample of the
// column before, so that neighbours join and a slow wave stays one line. A column that no sample
// starts in shows the sample before it. Empty below two samples.
std::vector<ColumnRows> waveformColumns(const std::vector<int16_t>& samples, size_t columns, int rows);
