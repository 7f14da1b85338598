// Draws one frame with the program's own drawing code into a real embedded GL surface and
// saves what the surface's context holds as a binary PPM image: the picture the render loop
// presents once a recording has filled the live state with a known signal.
// Usage: frame_snapshot OUT.ppm [tone | constant VALUE]
//        frame_snapshot OUT.txt scale RATE
//   tone            a 440 Hz tone with a quieter third harmonic (the default)
//   constant VALUE  every sample VALUE: what a full history of a constant input shows, which the
//                   screen test compares with a screenshot of the running program
//   scale RATE      no picture: the spectrogram's own scale at that rate, as text, for reading a
//                   screenshot back (the rows of the gridlines and of test tones, and the colours
//                   of the levels from -100 to 0 dBFS)
#include <windows.h>

#include <GL/glew.h>
#include <GLFW/glfw3.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "analysis/spectrum.h"
#include "display/gl_surface.h"
#include "display/render_loop.h"
#include "display/spectrogram.h"
#include "recording/live_state.h"
#include "recording/packet.h"
#include "recording/pcm.h"

namespace {

constexpr int WIDTH = 1160;
constexpr int HEIGHT = 80;
constexpr int RATE = 48000;

// Returns the test tone: 440 Hz with a quieter third harmonic.
float tone(size_t i) {
    const double t = static_cast<double>(i) / RATE;
    return static_cast<float>(0.5 * std::sin(2 * 3.141592653589793 * 440 * t) +
                              0.15 * std::sin(2 * 3.141592653589793 * 1320 * t));
}

// Fills the waveform history and the spectrum as a recording of the tone would.
void fillWithTone() {
    std::vector<float> history(1200);  // about 25 ms: a few periods fill the width
    for (size_t i = 0; i < history.size(); ++i) history[i] = tone(i);
    {
        std::lock_guard<std::mutex> guard(waveformMutex);
        waveformLeft = floatsToPcm16(history.data(), history.size());
    }
    std::vector<float> block(1024);
    for (size_t i = 0; i < block.size(); ++i) block[i] = tone(i);
    processFFT(block.data(), block.size(), RATE);
}

// Fills a full waveform history and the spectrum as a long enough recording of one value would.
void fillWithConstant(float value) {
    const std::vector<float> history(WAVEFORM_HISTORY_LIMIT, value);
    {
        std::lock_guard<std::mutex> guard(waveformMutex);
        waveformLeft = floatsToPcm16(history.data(), history.size());
    }
    processFFT(history.data(), ANALYSIS_BLOCK, RATE);
}

// Writes the RGB rows read from GL (bottom row first) as a top-down PPM file.
bool writePpm(const char* path, const std::vector<unsigned char>& rgb) {
    FILE* file = std::fopen(path, "wb");
    if (!file) return false;
    std::fprintf(file, "P6\n%d %d\n255\n", WIDTH, HEIGHT);
    for (int row = HEIGHT - 1; row >= 0; --row) std::fwrite(&rgb[static_cast<size_t>(row) * WIDTH * 3], 1, WIDTH * 3, file);
    return std::fclose(file) == 0;
}

// Writes the spectrogram's scale at a rate: "row HZ ROW" for the gridlines and test tones (rows
// from the bottom), "grid R G B", and "colour DB R G B" every half decibel from -100 to 0 dBFS.
bool writeScale(const char* path, int32_t rate) {
    FILE* file = std::fopen(path, "w");
    if (!file) return false;
    std::fprintf(file, "size %d %d\n", SPECTROGRAM_WIDTH, SPECTROGRAM_HEIGHT);
    for (double hz : {20.0, 50.0, 100.0, 440.0, 1000.0, 10000.0})
        std::fprintf(file, "row %g %d\n", hz, frequencyRow(hz, rate, SPECTROGRAM_HEIGHT));
    for (double hz : gridFrequencies(rate)) std::fprintf(file, "gridrow %d\n", frequencyRow(hz, rate, SPECTROGRAM_HEIGHT));
    std::fprintf(file, "grid %d %d %d\n", SPECTROGRAM_GRID.r, SPECTROGRAM_GRID.g, SPECTROGRAM_GRID.b);
    for (int half = -200; half <= 0; ++half) {
        const Rgb8 c = levelColour(half / 2.0f);
        std::fprintf(file, "colour %g %d %d %d\n", half / 2.0, c.r, c.g, c.b);
    }
    return std::fclose(file) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    const char* out = argc > 1 ? argv[1] : "frame.ppm";
    if (argc > 3 && std::strcmp(argv[2], "scale") == 0) {
        const bool written = writeScale(out, std::atoi(argv[3]));
        std::printf("%s %s\n", written ? "wrote" : "could not write", out);
        return written ? 0 : 1;
    }
    const bool constant = argc > 3 && std::strcmp(argv[2], "constant") == 0;
    HWND top = CreateWindowExW(0, L"STATIC", L"frame", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 1200, 200, nullptr,
                               nullptr, nullptr, nullptr);
    HWND host = CreateWindowExW(0, L"STATIC", nullptr, WS_CHILD | WS_VISIBLE, 20, 20, WIDTH, HEIGHT, top, nullptr,
                                nullptr, nullptr);
    if (!top || !host || !glfwInit()) return 1;
    // NOTE: Wine 8.0 keeps a reparented GL window's drawable at its creation size until the first
    // swap, so the one frame read here would be cut at the 680-pixel start width; use full width.
    GLFWwindow* surface = createEmbeddedGlWindow(host, WIDTH, HEIGHT);
    if (!surface) return 1;
    if (constant) {
        fillWithConstant(static_cast<float>(std::atof(argv[3])));
    } else {
        fillWithTone();
    }
    drawFrame(surface);
    std::vector<unsigned char> rgb(static_cast<size_t>(WIDTH) * HEIGHT * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, WIDTH, HEIGHT, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
    const bool written = writePpm(out, rgb);
    glfwDestroyWindow(surface);
    glfwTerminate();
    DestroyWindow(top);
    std::printf("%s %s\n", written ? "wrote" : "could not write", out);
    return written ? 0 : 1;
}
