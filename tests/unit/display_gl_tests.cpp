// Live display with real GLFW windows and GL contexts under the real window manager: surfaces
// embedded in static host controls, frames read back from the surface's own context, and the
// render loop on a thread of its own.
//
// Pictures are read back with glReadPixels from the surface's own context: exactly what was drawn,
// whatever the window system does with it afterwards (tests/e2e/run_screen.sh checks the screen).
// NOTE: under Debian's stock Wine 8.0 a GL child window never reaches the screen at all; the
// scripts run a Wine whose X11 driver is fixed (scripts/build-wine).
#include <gtest/gtest.h>

#include <windows.h>

#include <GL/glew.h>
#define GLFW_EXPOSE_NATIVE_WIN32
#include <GLFW/glfw3.h>
#include <GLFW/glfw3native.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "display/gl_surface.h"
#include "display/render_loop.h"
#include "recording/live_state.h"

namespace {

constexpr int HOST_WIDTH = 1160;
constexpr int HOST_HEIGHT = 80;
// Long enough, many times over, for the render thread to reach the point it blocks at.
constexpr auto SETTLE = std::chrono::milliseconds(250);
// A watchdog for a loop that should end, not a measure of how fast it ends.
constexpr auto END_LIMIT = std::chrono::seconds(10);

// Lets queued window messages of this thread run, as the program's message loop would.
void pumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// Creates a shown top-level window wide enough for the hosts.
HWND createMainWindow() {
    static ATOM atom = [] {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
        windowClass.lpszClassName = L"VoxtrelDisplayTestMain";
        return RegisterClassW(&windowClass);
    }();
    (void)atom;
    HWND window = CreateWindowExW(0, L"VoxtrelDisplayTestMain", L"display test", WS_OVERLAPPEDWINDOW, 0, 0, 1220,
                                  360, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (window) ShowWindow(window, SW_SHOW);
    return window;
}

// Creates a text-less static host control of 1160 x 80 like those of the main window.
HWND createHost(HWND parent, int y, int id) {
    return CreateWindowExW(0, L"STATIC", nullptr, WS_CHILD | WS_VISIBLE, 20, y, HOST_WIDTH, HOST_HEIGHT, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
}

struct Rgb {
    uint8_t r, g, b;
    // Compares all three channels.
    bool operator==(const Rgb& other) const { return r == other.r && g == other.g && b == other.b; }
};
const Rgb BLACK{0, 0, 0};
const Rgb GREEN{0, 255, 0};
const Rgb RED{255, 0, 0};

// Prints a colour in failure messages.
std::ostream& operator<<(std::ostream& out, const Rgb& c) {
    return out << "rgb(" << int(c.r) << ", " << int(c.g) << ", " << int(c.b) << ")";
}

// The 1160 x 80 picture of the current context's read buffer, row 0 at the bottom.
struct Picture {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(HOST_WIDTH * HOST_HEIGHT * 3);
    // Returns the colour at column x of row y (counted from the bottom).
    Rgb at(int x, int y) const {
        const size_t at = (static_cast<size_t>(y) * HOST_WIDTH + x) * 3;
        return {bytes[at], bytes[at + 1], bytes[at + 2]};
    }
};

// Reads the given colour buffer of the current context.
Picture readPicture(GLenum buffer) {
    Picture picture;
    glReadBuffer(buffer);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, HOST_WIDTH, HOST_HEIGHT, GL_RGB, GL_UNSIGNED_BYTE, picture.bytes.data());
    return picture;
}

// Replaces the live waveform history and spectrum under their locks.
void publish(std::vector<int16_t> samples, std::vector<float> spectrum) {
    {
        std::lock_guard<std::mutex> guard(waveformMutex);
        waveformLeft = std::move(samples);
    }
    std::lock_guard<std::mutex> guard(spectrumMutex);
    spectrumData = std::move(spectrum);
}

// GLFW started on this thread, a shown main window and two hosts; destroys what was made.
class DisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        renderRunning.store(true);
        publish({}, {});
        ASSERT_EQ(glfwInit(), GLFW_TRUE);
        mainWindow_ = createMainWindow();
        ASSERT_NE(mainWindow_, nullptr);
        waveformHost_ = createHost(mainWindow_, 120, 1101);
        spectrumHost_ = createHost(mainWindow_, 210, 1102);
        ASSERT_NE(waveformHost_, nullptr);
        ASSERT_NE(spectrumHost_, nullptr);
        pumpMessages();
    }
    void TearDown() override {
        waveformSurface = nullptr;
        for (GLFWwindow* surface : surfaces_) glfwDestroyWindow(surface);
        glfwTerminate();
        if (mainWindow_) DestroyWindow(mainWindow_);
        pumpMessages();
    }
    // Embeds a surface the way start-up does and keeps it for destruction.
    GLFWwindow* embed(HWND host) {
        GLFWwindow* surface = createEmbeddedGlWindow(host, 680, 80);
        if (surface) surfaces_.push_back(surface);
        pumpMessages();
        return surface;
    }

    HWND mainWindow_ = nullptr;
    HWND waveformHost_ = nullptr;
    HWND spectrumHost_ = nullptr;
    std::vector<GLFWwindow*> surfaces_;
};

}  // namespace

using EmbeddedSurface = DisplayTest;

TEST_F(EmbeddedSurface, IsAPlainChildCoveringItsHost) {
    GLFWwindow* waveform = embed(waveformHost_);
    ASSERT_NE(waveform, nullptr);
    EXPECT_EQ(glfwGetCurrentContext(), waveform);
    GLFWwindow* spectrum = embed(spectrumHost_);
    ASSERT_NE(spectrum, nullptr);
    EXPECT_EQ(glfwGetCurrentContext(), spectrum);

    const struct {
        GLFWwindow* surface;
        HWND host;
    } embedded[] = {{waveform, waveformHost_}, {spectrum, spectrumHost_}};
    for (const auto& e : embedded) {
        SCOPED_TRACE(e.host == waveformHost_ ? "waveform" : "spectrum");
        HWND native = glfwGetWin32Window(e.surface);
        ASSERT_NE(native, nullptr);
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(native, GWL_STYLE)), static_cast<DWORD>(WS_CHILD | WS_VISIBLE));
        EXPECT_EQ(GetParent(native), e.host);
        EXPECT_EQ(GetAncestor(native, GA_PARENT), e.host);
        EXPECT_EQ(GetWindow(e.host, GW_CHILD), native) << "the surface is the host's top child";
        EXPECT_TRUE(IsWindowVisible(native));
        RECT client{};
        ASSERT_TRUE(GetClientRect(native, &client));
        EXPECT_EQ(client.right, HOST_WIDTH);
        EXPECT_EQ(client.bottom, HOST_HEIGHT);
        RECT surfaceOnScreen{}, hostOnScreen{};
        GetWindowRect(native, &surfaceOnScreen);
        GetWindowRect(e.host, &hostOnScreen);
        EXPECT_EQ(surfaceOnScreen.left, hostOnScreen.left);
        EXPECT_EQ(surfaceOnScreen.top, hostOnScreen.top);
        int width = 0, height = 0;
        glfwGetFramebufferSize(e.surface, &width, &height);
        EXPECT_EQ(width, HOST_WIDTH);
        EXPECT_EQ(height, HOST_HEIGHT);
    }
}

TEST_F(EmbeddedSurface, ContextIsCurrentAndLoaderReady) {
    GLFWwindow* surface = embed(waveformHost_);
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(glfwGetCurrentContext(), surface);
    EXPECT_NE(wglGetCurrentContext(), nullptr);
    // Set by the loader's initialisation only.
    EXPECT_TRUE(GLEW_VERSION_1_1);
    const GLubyte* version = glGetString(GL_VERSION);
    ASSERT_NE(version, nullptr);
    EXPECT_FALSE(std::string(reinterpret_cast<const char*>(version)).empty());
}

TEST_F(EmbeddedSurface, FailedCreationReturnsNullAndLeavesTheCurrentContext) {
    GLFWwindow* waveform = embed(waveformHost_);
    ASSERT_NE(waveform, nullptr);
    const HGLRC context = wglGetCurrentContext();
    ASSERT_NE(context, nullptr);
    HWND destroyedHost = createHost(mainWindow_, 300, 1200);
    ASSERT_TRUE(DestroyWindow(destroyedHost));

    const struct {
        const char* what;
        HWND host;
        int width;
        int height;
    } failures[] = {
        {"no width", spectrumHost_, 0, 80},
        {"negative height", spectrumHost_, 680, -1},
        {"no host", nullptr, 680, 80},
        {"destroyed host", destroyedHost, 680, 80},
    };
    for (const auto& f : failures) {
        SCOPED_TRACE(f.what);
        EXPECT_EQ(createEmbeddedGlWindow(f.host, f.width, f.height), nullptr);
        EXPECT_EQ(glfwGetCurrentContext(), waveform);
        EXPECT_EQ(wglGetCurrentContext(), context);
        EXPECT_EQ(GetWindow(spectrumHost_, GW_CHILD), nullptr) << "nothing was embedded";
    }

    glfwMakeContextCurrent(nullptr);
    EXPECT_EQ(createEmbeddedGlWindow(spectrumHost_, 0, 80), nullptr);
    EXPECT_EQ(glfwGetCurrentContext(), nullptr);
    EXPECT_EQ(wglGetCurrentContext(), nullptr);
}

namespace {

// Refuses as Windows does a window of another DPI awareness: fails and leaves it where it was.
HWND WINAPI refuseReparenting(HWND, HWND) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
}

// Reports success but leaves the window where it was.
HWND WINAPI claimReparentingOnly(HWND, HWND) { return GetDesktopWindow(); }

// Re-parents into the main window instead of the host.
HWND WINAPI reparentIntoTheWrongWindow(HWND child, HWND host) { return SetParent(child, GetParent(host)); }

// Collects the top-level windows of this thread.
BOOL CALLBACK collectWindow(HWND window, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

// Returns this thread's top-level windows, sorted.
std::vector<HWND> threadTopLevelWindows() {
    std::vector<HWND> windows;
    EnumThreadWindows(GetCurrentThreadId(), collectWindow, reinterpret_cast<LPARAM>(&windows));
    std::sort(windows.begin(), windows.end());
    return windows;
}

// Returns every window of this thread whose class is GLFW's, top-level or child.
int glfwWindowsOfThread() {
    int count = 0;
    for (HWND top : threadTopLevelWindows()) {
        wchar_t name[64] = {};
        GetClassNameW(top, name, 64);
        if (std::wstring(name) == L"GLFW30") ++count;
        for (HWND child = FindWindowExW(top, nullptr, L"GLFW30", nullptr); child;
             child = FindWindowExW(top, child, L"GLFW30", nullptr))
            ++count;
    }
    return count;
}

}  // namespace

TEST_F(EmbeddedSurface, ASurfaceThatCannotBeEmbeddedIsDestroyedNotLeftAsAWindowOfItsOwn) {
    GLFWwindow* waveform = embed(waveformHost_);
    ASSERT_NE(waveform, nullptr);
    const HGLRC context = wglGetCurrentContext();
    const struct {
        const char* what;
        ReparentWindow reparent;
    } failures[] = {
        {"refused", refuseReparenting},
        {"reported done but not done", claimReparentingOnly},
        {"into another window", reparentIntoTheWrongWindow},
    };
    for (const auto& f : failures) {
        SCOPED_TRACE(f.what);
        const std::vector<HWND> before = threadTopLevelWindows();
        const int glfwBefore = glfwWindowsOfThread();
        reparentSurface = f.reparent;
        GLFWwindow* surface = createEmbeddedGlWindow(spectrumHost_, 680, 80);
        reparentSurface = SetParent;
        pumpMessages();
        EXPECT_EQ(surface, nullptr);
        EXPECT_EQ(threadTopLevelWindows(), before) << "a window was left behind";
        EXPECT_EQ(glfwWindowsOfThread(), glfwBefore) << "the surface's window was not destroyed";
        EXPECT_EQ(GetWindow(spectrumHost_, GW_CHILD), nullptr);
        EXPECT_EQ(glfwGetCurrentContext(), waveform) << "the current context changed";
        EXPECT_EQ(wglGetCurrentContext(), context);
    }
    // The real re-parenting still embeds.
    EXPECT_NE(embed(spectrumHost_), nullptr);
    EXPECT_NE(GetWindow(spectrumHost_, GW_CHILD), nullptr);
}

TEST_F(EmbeddedSurface, WaveformContextCanBeTakenByAnotherThreadAtOnce) {
    GLFWwindow* waveform = embed(waveformHost_);
    GLFWwindow* spectrum = embed(spectrumHost_);
    ASSERT_NE(waveform, nullptr);
    ASSERT_NE(spectrum, nullptr);

    GLFWwindow* takenOnThread = nullptr;
    HGLRC wglContextOnThread = nullptr;
    Rgb cleared = BLACK;
    std::thread([&] {
        glfwMakeContextCurrent(waveform);
        takenOnThread = glfwGetCurrentContext();
        wglContextOnThread = wglGetCurrentContext();
        if (wglContextOnThread) {
            glViewport(0, 0, HOST_WIDTH, HOST_HEIGHT);
            glClearColor(0.0f, 0.0f, 1.0f, 1.0f);
            glClear(GL_COLOR_BUFFER_BIT);
            cleared = readPicture(GL_BACK).at(600, 40);
        }
        glfwMakeContextCurrent(nullptr);
    }).join();

    EXPECT_EQ(takenOnThread, waveform);
    EXPECT_NE(wglContextOnThread, nullptr);
    EXPECT_EQ(cleared, (Rgb{0, 0, 255}));
    EXPECT_EQ(glfwGetCurrentContext(), spectrum) << "the UI thread keeps the spectrum surface's context";
}

TEST_F(EmbeddedSurface, AnUncoveredSurfaceWakesTheRenderThreadAndStaysAGlfwWindow) {
    GLFWwindow* spectrum = embed(spectrumHost_);
    ASSERT_NE(spectrum, nullptr);
    redrawOnExpose(spectrum);
    redrawOnExpose(spectrum);  // a second call changes nothing
    HWND native = glfwGetWin32Window(spectrum);
    pumpMessages();
    ResetEvent(displayWake);

    // A paint request, as when a window that covered it goes away, wakes the render thread and
    // is answered.
    InvalidateRect(native, nullptr, TRUE);
    pumpMessages();
    EXPECT_EQ(WaitForSingleObject(displayWake, 0), WAIT_OBJECT_0) << "the render thread was not woken";
    EXPECT_FALSE(GetUpdateRect(native, nullptr, FALSE)) << "the paint request was not answered";
    EXPECT_EQ(WaitForSingleObject(displayWake, 0), WAIT_TIMEOUT) << "nothing new, nothing to wake for";
    // Every other message still reaches GLFW.
    EXPECT_FALSE(glfwWindowShouldClose(spectrum));
    SendMessageW(native, WM_CLOSE, 0, 0);
    EXPECT_TRUE(glfwWindowShouldClose(spectrum)) << "GLFW's own window procedure no longer runs";
}

namespace {

// Sample values that put the waveform on the centre of a pixel row (row k at (k + 0.5) / 40 - 1).
constexpr int16_t ROW_12 = -22528;
constexpr int16_t ROW_52 = 10240;
// Spectrum values that put the red trace on the centre of a pixel row.
constexpr float ROW_72 = 0.8125f;
constexpr float ROW_52_VALUE = 0.3125f;

struct Span {
    int row;
    int firstColumn;
    int lastColumn;
    Rgb colour;
};

struct PictureCase {
    const char* name;
    std::vector<int16_t> waveform;
    std::vector<float> spectrum;
    std::vector<Span> expected;
};

// Returns 4096 spectrum values: the lower half of the bins at one height, the upper half at another.
std::vector<float> twoLevelSpectrum(float lowBins, float highBins) {
    std::vector<float> spectrum(4096, highBins);
    std::fill(spectrum.begin(), spectrum.begin() + 2048, lowBins);
    return spectrum;
}

// Returns the pictures that one frame must show for given buffers.
std::vector<PictureCase> pictureCases() {
    // Bin 2048 and sample n/2 sit at x = 0, column 580; the spans keep clear of the edges and the middle.
    return {
        {"two samples and a two-level spectrum",
         {ROW_12, ROW_12},
         twoLevelSpectrum(ROW_72, ROW_52_VALUE),
         {{12, 0, 1159, GREEN},
          {72, 3, 570, RED},
          {72, 590, 1156, BLACK},
          {52, 3, 570, BLACK},
          {52, 590, 1156, RED},
          {40, 0, 1159, BLACK},
          {0, 0, 1159, BLACK},
          {79, 0, 1159, BLACK}}},
        {"a full history crossed by the spectrum",
         std::vector<int16_t>(65536, ROW_52),
         twoLevelSpectrum(ROW_72, ROW_52_VALUE),
         {{52, 3, 570, GREEN}, {52, 590, 1156, RED}, {72, 3, 570, RED}, {12, 0, 1159, BLACK}}},
        {"empty buffers", {}, {}, {{0, 0, 1159, BLACK}, {12, 0, 1159, BLACK}, {40, 0, 1159, BLACK}, {79, 0, 1159, BLACK}}},
        {"one sample and one spectrum value",
         {ROW_12},
         {ROW_72},
         {{12, 0, 1159, BLACK}, {72, 0, 1159, BLACK}, {40, 0, 1159, BLACK}}},
    };
}

// Checks the expected spans of a picture, and that it holds no colour but the three of the traces.
void expectPicture(const Picture& picture, const PictureCase& c) {
    for (const Span& span : c.expected)
        for (int x = span.firstColumn; x <= span.lastColumn; ++x)
            ASSERT_EQ(picture.at(x, span.row), span.colour) << "column " << x << " of row " << span.row;
    for (int y = 0; y < HOST_HEIGHT; ++y)
        for (int x = 0; x < HOST_WIDTH; ++x) {
            const Rgb colour = picture.at(x, y);
            ASSERT_TRUE(colour == BLACK || colour == GREEN || colour == RED) << colour << " at " << x << ", " << y;
        }
}

// Presents one frame, so the back buffer takes the size the surface was fitted to.
// NOTE: under Wine with Mesa the GL drawable keeps the size the window was created with (680
// wide) until the first buffer swap after the resize; only then does it cover the whole host.
void presentOnce(GLFWwindow* surface) { drawTraces(surface); }

}  // namespace

using Frame = DisplayTest;

TEST_F(Frame, DrawsTheTracesWhereTheDataPutsThem) {
    GLFWwindow* surface = embed(waveformHost_);
    ASSERT_NE(surface, nullptr);
    presentOnce(surface);
    for (const PictureCase& c : pictureCases()) {
        SCOPED_TRACE(c.name);
        publish(c.waveform, c.spectrum);
        // White first, so the black must come from the frame's own clear.
        glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        drawFrame(surface);
        EXPECT_EQ(glfwGetCurrentContext(), surface);
        expectPicture(readPicture(GL_BACK), c);
    }
}

TEST_F(Frame, IsDrawnOnTheRenderThreadInTheSurfacesOwnContext) {
    GLFWwindow* waveform = embed(waveformHost_);
    GLFWwindow* spectrum = embed(spectrumHost_);
    ASSERT_NE(waveform, nullptr);
    ASSERT_NE(spectrum, nullptr);
    const PictureCase c = pictureCases().front();
    publish(c.waveform, c.spectrum);
    Picture picture;
    std::thread([&] {
        presentOnce(waveform);
        drawFrame(waveform);
        picture = readPicture(GL_BACK);
        glfwMakeContextCurrent(nullptr);
    }).join();
    expectPicture(picture, c);
    EXPECT_EQ(glfwGetCurrentContext(), spectrum);
}

namespace {

// Runs renderLoop on a thread of its own, as renderThread does, and notes how it ended.
class RenderThread {
public:
    RenderThread()
        : thread_([this] {
              renderLoop();
              contextAfterLoop_ = glfwGetCurrentContext();
              ended_.store(true);
          }) {}
    ~RenderThread() {
        renderRunning.store(false);
        SetEvent(displayWake);
        thread_.join();
    }
    RenderThread(const RenderThread&) = delete;
    RenderThread& operator=(const RenderThread&) = delete;

    bool ended() const { return ended_.load(); }
    // Waits, within a generous limit, for the loop to return; false when it did not.
    bool waitForEnd() const {
        const auto deadline = std::chrono::steady_clock::now() + END_LIMIT;
        while (!ended_.load() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return ended_.load();
    }
    // Returns the context that was current on the render thread when the loop returned, or
    // the surface itself as long as the loop has not returned.
    GLFWwindow* contextAfterLoop() const { return ended_.load() ? contextAfterLoop_ : waveformSurface; }

private:
    std::atomic<bool> ended_{false};
    GLFWwindow* contextAfterLoop_ = nullptr;
    std::thread thread_;
};

}  // namespace

// A waveform surface whose context is free for the render thread, as after start-up.
class RenderLoop : public DisplayTest {
protected:
    void SetUp() override {
        DisplayTest::SetUp();
        if (HasFatalFailure()) return;
        waveformSurface = embed(waveformHost_);
        ASSERT_NE(waveformSurface, nullptr);
        glfwMakeContextCurrent(nullptr);
        publish(std::vector<int16_t>(65536, ROW_12), twoLevelSpectrum(ROW_72, ROW_52_VALUE));
    }
};

TEST_F(RenderLoop, FinishesTheFrameInProgressAndEndsWhenRenderRunningIsCleared) {
    RenderThread render;
    std::this_thread::sleep_for(SETTLE);
    ASSERT_FALSE(render.ended());
    {
        // Stop the loop between its two copies: the waveform has been drawn, the spectrum is next.
        std::unique_lock<std::mutex> spectrumLock(spectrumMutex);
        SetEvent(displayWake);  // something new: the resting loop draws a frame
        std::this_thread::sleep_for(SETTLE);
        // The waveform lock is free while the loop waits for the spectrum: never both at once.
        std::unique_lock<std::mutex> waveformLock(waveformMutex, std::try_to_lock);
        ASSERT_TRUE(waveformLock.owns_lock());
        renderRunning.store(false);
        std::this_thread::sleep_for(SETTLE);
        EXPECT_FALSE(render.ended()) << "the frame in progress completes before the loop ends";
        // Keep the waveform lock: a frame begun after the clear would block on it for good.
        spectrumLock.unlock();
        EXPECT_TRUE(render.waitForEnd()) << "the loop started another frame or did not end";
    }
    EXPECT_EQ(render.contextAfterLoop(), nullptr) << "the loop still holds the surface's context";
}

TEST_F(RenderLoop, BlocksOnlyAtTheWaveformCopy) {
    RenderThread render;
    std::this_thread::sleep_for(SETTLE);
    {
        std::unique_lock<std::mutex> waveformLock(waveformMutex);
        SetEvent(displayWake);
        std::this_thread::sleep_for(SETTLE);
        std::unique_lock<std::mutex> spectrumLock(spectrumMutex, std::try_to_lock);
        ASSERT_TRUE(spectrumLock.owns_lock()) << "the spectrum lock is free while the loop waits for the waveform";
        spectrumLock.unlock();
        renderRunning.store(false);
        std::this_thread::sleep_for(SETTLE);
        EXPECT_FALSE(render.ended()) << "the loop waits at the copy inside its frame";
    }
    EXPECT_TRUE(render.waitForEnd());
}

TEST_F(RenderLoop, EndsWhenTheSurfaceIsFlaggedToClose) {
    RenderThread render;
    std::this_thread::sleep_for(SETTLE);
    ASSERT_FALSE(render.ended());
    glfwSetWindowShouldClose(waveformSurface, GLFW_TRUE);
    EXPECT_TRUE(render.waitForEnd());
    EXPECT_TRUE(renderRunning.load()) << "the close flag ends the loop without touching renderRunning";
    EXPECT_EQ(render.contextAfterLoop(), nullptr) << "the loop still holds the surface's context";
}

TEST_F(RenderLoop, DrawsNothingWhenAlreadyToldToEnd) {
    const struct {
        const char* what;
        bool running;
        bool closeFlag;
    } cases[] = {{"renderRunning clear", false, false}, {"close flag set", true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        renderRunning.store(c.running);
        glfwSetWindowShouldClose(waveformSurface, c.closeFlag ? GLFW_TRUE : GLFW_FALSE);
        // Every frame copies the waveform under its lock: one begun here waits at it.
        std::unique_lock<std::mutex> noFrame(waveformMutex);
        RenderThread render;
        EXPECT_TRUE(render.waitForEnd()) << "a frame was begun";
        EXPECT_EQ(render.contextAfterLoop(), nullptr);
        noFrame.unlock();  // so that a wrongly begun frame can finish and the join return
    }
}

TEST_F(RenderLoop, IdlesWithoutASurfaceUntilRenderRunningIsCleared) {
    GLFWwindow* surface = waveformSurface;
    waveformSurface = nullptr;
    {
        RenderThread render;
        std::this_thread::sleep_for(SETTLE);
        EXPECT_FALSE(render.ended()) << "a missing surface does not end the loop";
        renderRunning.store(false);
        EXPECT_TRUE(render.waitForEnd());
        EXPECT_EQ(render.contextAfterLoop(), nullptr);
    }
    // The surface it never saw is still free for another thread.
    GLFWwindow* taken = nullptr;
    std::thread([&] {
        glfwMakeContextCurrent(surface);
        taken = glfwGetCurrentContext();
        glfwMakeContextCurrent(nullptr);
    }).join();
    EXPECT_EQ(taken, surface);
}

TEST(GlLibraryShutdown, KeepsTheInputLibraryMappedAfterTerminate) {
    ASSERT_EQ(glfwInit(), GLFW_TRUE);
    if (!GetModuleHandleW(L"xinput1_4.dll")) {
        glfwTerminate();
        GTEST_SKIP() << "GLFW loaded no xinput1_4.dll here";
    }
    HWND mainWindow = createMainWindow();
    ASSERT_NE(mainWindow, nullptr);
    GLFWwindow* surface = createEmbeddedGlWindow(createHost(mainWindow, 120, 1101), 680, 80);
    ASSERT_NE(surface, nullptr);
    glfwDestroyWindow(surface);
    glfwTerminate();
    // Unmapped, its game-pad thread could still be running in it.
    EXPECT_NE(GetModuleHandleW(L"xinput1_4.dll"), nullptr);
    DestroyWindow(mainWindow);
    pumpMessages();
}
