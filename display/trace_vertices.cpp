#include "display/trace_vertices.h"

float traceX(uint64_t index, uint64_t count) {
    return static_cast<float>(index) / static_cast<float>(count) * 2.0f - 1.0f;
}

std::vector<TraceVertex> waveformVertices(const std::vector<int16_t>& samples) {
    std::vector<TraceVertex> vertices;
    const uint64_t count = samples.size();
    if (count < 2) return vertices;
    uint64_t step = count / WAVEFORM_COLUMNS;
    if (step == 0) step = 1;
    vertices.reserve(static_cast<size_t>((count + step - 1) / step));
    for (uint64_t i = 0; i < count; i += step) {
        const float y = static_cast<float>(static_cast<int>(samples[static_cast<size_t>(i)])) / 32768.0f;
        vertices.push_back({traceX(i, count), y});
    }
    return vertices;
}

std::vector<TraceVertex> spectrumVertices(const std::vector<float>& values) {
    std::vector<TraceVertex> vertices;
    const uint64_t count = values.size();
    vertices.reserve(values.size());
    for (uint64_t i = 0; i < count; ++i) vertices.push_back({traceX(i, count), values[static_cast<size_t>(i)]});
    return vertices;
}
