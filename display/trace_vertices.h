// Where the spectrum strip puts its points, in normalised device coordinates.
// Kept apart from the GL calls so the arithmetic can be checked with numbers; the render loop
// draws exactly these lists.
#pragma once

#include <cstdint>
#include <vector>

// One point of a line strip: x from -1 (left edge) to +1 (right edge), y from -1 (bottom) to +1 (top).
struct TraceVertex {
    float x;
    float y;
};

// The waveform is drawn as one span per pixel column of the 1160-pixel surface.
constexpr uint64_t WAVEFORM_COLUMNS = 1160;

// Returns the horizontal position of entry index of count entries, in single precision.
float traceX(uint64_t index, uint64_t count);

// Returns the spectrum strip: one vertex per value, unscaled; empty for no values.
std::vector<TraceVertex> spectrumVertices(const std::vector<float>& values);
