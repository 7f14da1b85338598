#include "display/waveform_columns.h"

#include <algorithm>

int waveformRow(int16_t sample, int rows) {
    // (sample / 32768 + 1) / 2 of the height, in integers: exact for every sample and height.
    const int64_t offset = static_cast<int64_t>(sample) + 32768;
    return static_cast<int>(offset * rows / 65536);
}

std::vector<ColumnRows> waveformColumns(const std::vector<int16_t>& samples, size_t columns, int rows) {
    std::vector<ColumnRows> spans;
    const size_t n = samples.size();
    if (n < 2 || columns == 0 || rows <= 0) return spans;
    spans.reserve(columns);
    size_t previousFirst = 0;
    for (size_t c = 0; c < columns; ++c) {
        const size_t first = c * n / columns;
        // At least one sample per column, also when there are fewer samples than columns.
        const size_t end = std::max((c + 1) * n / columns, first + 1);
        int16_t low = samples[first];
        int16_t high = samples[first];
        for (size_t i = first + 1; i < end; ++i) {
            low = std::min(low, samples[i]);
            high = std::max(high, samples[i]);
        }
        // The line from the previous column's last sample into this one belongs to this column;
        // a column that only repeats the sample before it has no line of its own.
        if (first > 0 && (c == 0 || first != previousFirst)) {
            low = std::min(low, samples[first - 1]);
            high = std::max(high, samples[first - 1]);
        }
        previousFirst = first;
        spans.push_back({waveformRow(low, rows), waveformRow(high, rows)});
    }
    return spans;
}
