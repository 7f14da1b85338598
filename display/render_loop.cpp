#include "display/render_loop.h"

#include <GLFW/glfw3.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "display/trace_vertices.h"
#include "recording/live_state.h"

namespace {

// The viewport is the host control's fixed size, not the surface's current size.
constexpr GLsizei VIEWPORT_WIDTH = 1160;
constexpr GLsizei VIEWPORT_HEIGHT = 80;
constexpr auto FRAME_PAUSE = std::chrono::milliseconds(16);

// Returns a copy of the waveform history, holding its lock for the copy alone.
std::vector<int16_t> copyWaveform() {
    std::lock_guard<std::mutex> guard(waveformMutex);
    return waveformLeft;
}

// Returns a copy of the latest spectrum, holding its lock for the copy alone.
std::vector<float> copySpectrum() {
    std::lock_guard<std::mutex> guard(spectrumMutex);
    return spectrumData;
}

// Issues one line strip in the given colour; issues nothing at all for an empty list.
void drawStrip(const std::vector<TraceVertex>& vertices, GLfloat red, GLfloat green, GLfloat blue) {
    if (vertices.empty()) return;
    glColor3f(red, green, blue);
    glBegin(GL_LINE_STRIP);
    for (const TraceVertex& vertex : vertices) glVertex2f(vertex.x, vertex.y);
    glEnd();
}

}  // namespace

void drawFrame(GLFWwindow* window) {
    glfwMakeContextCurrent(window);
    glViewport(0, 0, VIEWPORT_WIDTH, VIEWPORT_HEIGHT);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    // Each lock is released before its trace is drawn, and the spectrum is copied only after
    // the waveform has been issued, so the two locks are never held together.
    drawStrip(waveformVertices(copyWaveform()), 0.0f, 1.0f, 0.0f);
    drawStrip(spectrumVertices(copySpectrum()), 1.0f, 0.0f, 0.0f);
}

void drawTraces(GLFWwindow* window) {
    drawFrame(window);
    glfwSwapBuffers(window);
}

namespace {

// Draws frames until renderRunning is cleared or the surface is flagged to close.
void drawUntilTold() {
    while (renderRunning.load()) {
        // Read afresh each pass; a missing surface is never touched, and the loop idles until shutdown.
        GLFWwindow* surface = waveformSurface;
        if (surface) {
            if (glfwWindowShouldClose(surface)) return;
            drawTraces(surface);
        }
        std::this_thread::sleep_for(FRAME_PAUSE);
    }
}

}  // namespace

void renderLoop() {
    drawUntilTold();
    // The UI thread destroys the surface once this thread has ended, and a window's context must
    // then be current on no other thread; releasing it is harmless when none was taken.
    glfwMakeContextCurrent(nullptr);
}
