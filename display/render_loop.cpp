#include "display/render_loop.h"

#include <GLFW/glfw3.h>

#include <chrono>
#include <deque>
#include <mutex>
#include <thread>

#include "display/spectrogram.h"
#include "display/trace_vertices.h"
#include "display/waveform_columns.h"
#include "recording/live_state.h"

namespace {

// The viewport is the host control's fixed size, not the surface's current size.
constexpr GLsizei VIEWPORT_WIDTH = 1160;
constexpr GLsizei VIEWPORT_HEIGHT = 80;
// The least time between two frames: at most about 60 a second while audio arrives.
constexpr auto FRAME_PAUSE = std::chrono::milliseconds(16);
// With nothing new, a frame every two seconds all the same, in case an uncovering went unnoticed.
constexpr DWORD SAFETY_REDRAW_MS = 2000;
// A capture whose last packet is older than this counts as silent: the display slows down to
// STALE_CAPTURE_PAUSE_MS between frames. Wine hands audio over in bursts up to a second apart.
constexpr auto AUDIO_STALE = std::chrono::seconds(2);
constexpr DWORD STALE_CAPTURE_PAUSE_MS = 100;
// The least time between two pictures of the spectrogram while columns arrive.
constexpr auto SPECTROGRAM_PAUSE = std::chrono::milliseconds(100);

// The spectrogram's columns of the last moments; the render thread's alone.
std::deque<SpectrogramColumn> spectrogramHistory;
// The live state's count of starts that emptied the traces, as last seen here.
uint64_t spectrogramClearsSeen = 0;
// The spectrogram's last picture and the rate it was made for; made again only when it changes.
std::vector<uint8_t> spectrogramPicture;
int32_t spectrogramPictureRate = 0;

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

// Fills each column's span of rows in green, one pixel-aligned quad per column.
void drawWaveformColumns(const std::vector<ColumnRows>& columns) {
    if (columns.empty()) return;
    const float columnWidth = 2.0f / static_cast<float>(columns.size());
    const float rowHeight = 2.0f / static_cast<float>(VIEWPORT_HEIGHT);
    glColor3f(0.0f, 1.0f, 0.0f);
    glBegin(GL_QUADS);
    for (size_t c = 0; c < columns.size(); ++c) {
        const float left = static_cast<float>(c) * columnWidth - 1.0f;
        const float right = left + columnWidth;
        const float bottom = static_cast<float>(columns[c].low) * rowHeight - 1.0f;
        const float top = static_cast<float>(columns[c].high + 1) * rowHeight - 1.0f;
        glVertex2f(left, bottom);
        glVertex2f(right, bottom);
        glVertex2f(right, top);
        glVertex2f(left, top);
    }
    glEnd();
}

// Moves the analysed blocks waiting in the live state into the history, as rows of the picture,
// and drops what has left the picture; forgets everything after a start emptied the traces.
// Returns whether the picture changed.
bool takeLevelColumns() {
    std::deque<LevelColumn> arrived;
    bool changed = false;
    {
        std::lock_guard<std::mutex> guard(levelColumnsMutex);
        arrived.swap(levelColumns);
        if (levelColumnsCleared != spectrogramClearsSeen) {
            spectrogramClearsSeen = levelColumnsCleared;
            spectrogramHistory.clear();
            changed = true;
        }
    }
    for (const LevelColumn& column : arrived) {
        // A history of another rate (another device) cannot share the picture's time axis.
        if (!spectrogramHistory.empty() && spectrogramHistory.back().sampleRate != column.sampleRate)
            spectrogramHistory.clear();
        spectrogramHistory.push_back(
            spectrogramColumn(column.endSample, column.sampleRate, column.levelsDb, SPECTROGRAM_HEIGHT));
    }
    changed = changed || !arrived.empty();
    if (changed) spectrogramPicture.clear();
    if (spectrogramHistory.empty()) return changed;
    const SpectrogramColumn& newest = spectrogramHistory.back();
    const double kept = (SPECTROGRAM_SECONDS + 1.0) * newest.sampleRate;
    while (spectrogramHistory.size() > 1 &&
           static_cast<double>(newest.endSample - spectrogramHistory.front().endSample) > kept)
        spectrogramHistory.pop_front();
    return changed;
}

}  // namespace

void drawFrame(GLFWwindow* window) {
    glfwMakeContextCurrent(window);
    glViewport(0, 0, VIEWPORT_WIDTH, VIEWPORT_HEIGHT);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    // Each lock is released before its trace is drawn, and the spectrum is copied only after
    // the waveform has been issued, so the two locks are never held together.
    drawWaveformColumns(waveformColumns(copyWaveform(), WAVEFORM_COLUMNS, VIEWPORT_HEIGHT));
    drawStrip(spectrumVertices(copySpectrum()), 1.0f, 0.0f, 0.0f);
}

void drawTraces(GLFWwindow* window) {
    drawFrame(window);
    glfwSwapBuffers(window);
}

void drawSpectrogramFrame(GLFWwindow* window) {
    glfwMakeContextCurrent(window);
    takeLevelColumns();
    const int32_t rate = spectrogramHistory.empty() ? displaySampleRate.load() : spectrogramHistory.back().sampleRate;
    if (spectrogramPicture.empty() || rate != spectrogramPictureRate) {
        spectrogramPicture = spectrogramImage(spectrogramHistory, rate, SPECTROGRAM_WIDTH, SPECTROGRAM_HEIGHT);
        spectrogramPictureRate = rate;
    }
    glViewport(0, 0, SPECTROGRAM_WIDTH, SPECTROGRAM_HEIGHT);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glRasterPos2f(-1.0f, -1.0f);
    glDrawPixels(SPECTROGRAM_WIDTH, SPECTROGRAM_HEIGHT, GL_RGB, GL_UNSIGNED_BYTE, spectrogramPicture.data());
}

void drawSpectrogram(GLFWwindow* window) {
    drawSpectrogramFrame(window);
    glfwSwapBuffers(window);
}

namespace {

// Returns whether a capture runs and has processed a packet within AUDIO_STALE (the caller keeps
// lastCount and lastChange between calls).
bool audioArriving(uint64_t& lastCount, std::chrono::steady_clock::time_point& lastChange) {
    const auto now = std::chrono::steady_clock::now();
    const uint64_t count = packetsProcessed.load();
    if (count != lastCount) {
        lastCount = count;
        lastChange = now;
    }
    return now - lastChange < AUDIO_STALE;
}

// Draws frames while there is something new, rests otherwise, until renderRunning is cleared or
// the waveform surface is flagged to close. While audio arrives the waveform is drawn at the frame
// pace and the spectrogram whenever a column arrives; otherwise the thread waits for displayWake
// (an uncovered surface, a start, the end) or the safety redraw.
void drawUntilTold() {
    // NOTE: under Wine a reparented GL window's drawable keeps its creation size until its first
    // swap, so the first frame covers only part of each surface; the second follows at once.
    int framesBeforeResting = 2;
    bool redrawAll = true;
    uint64_t packetsSeen = 0;
    auto packetsChanged = std::chrono::steady_clock::now();
    bool columnsWaiting = false;
    auto spectrogramDrawn = packetsChanged;
    while (renderRunning.load()) {
        // Read afresh each pass; a missing surface is never touched, and the loop idles until shutdown.
        GLFWwindow* surface = waveformSurface;
        if (surface) {
            if (glfwWindowShouldClose(surface)) return;
            drawTraces(surface);
        }
        GLFWwindow* spectrogram = spectrumSurface;
        // New columns wait for the next draw: the spectrogram is drawn ten times a second while it
        // moves, as each picture costs the software renderer a whole 1100 x 200 image.
        const auto now = std::chrono::steady_clock::now();
        columnsWaiting = takeLevelColumns() || columnsWaiting;
        if (spectrogram && (redrawAll || (columnsWaiting && now - spectrogramDrawn >= SPECTROGRAM_PAUSE))) {
            drawSpectrogram(spectrogram);
            spectrogramDrawn = now;
            columnsWaiting = false;
        }
        std::this_thread::sleep_for(FRAME_PAUSE);
        if (framesBeforeResting > 0) --framesBeforeResting;
        if (framesBeforeResting > 0) continue;
        // Under Wine audio comes in bursts, so a recording keeps the frame pace rather than
        // waiting for each packet; a capture that delivers nothing for a while is looked at ten
        // times a second; with no capture the thread rests here.
        DWORD pause = 0;
        if (!captureActive.load()) pause = SAFETY_REDRAW_MS;
        else if (!audioArriving(packetsSeen, packetsChanged)) pause = STALE_CAPTURE_PAUSE_MS;
        redrawAll = WaitForSingleObject(displayWake, pause) == WAIT_OBJECT_0 || pause > 0;
    }
}

}  // namespace

void renderLoop() {
    drawUntilTold();
    // The UI thread destroys the surfaces once this thread has ended, and a window's context must
    // then be current on no other thread; releasing it is harmless when none was taken.
    glfwMakeContextCurrent(nullptr);
}
