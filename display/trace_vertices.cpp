#include "display/trace_vertices.h"

float traceX(uint64_t index, uint64_t count) {
    return static_cast<float>(index) / static_cast<float>(count) * 2.0f - 1.0f;
}

std::vector<TraceVertex> spectrumVertices(const std::vector<float>& values) {
    std::vector<TraceVertex> vertices;
    const uint64_t count = values.size();
    vertices.reserve(values.size());
    for (uint64_t i = 0; i < count; ++i) vertices.push_back({traceX(i, count), values[static_cast<size_t>(i)]});
    return vertices;
}
