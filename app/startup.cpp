#include "app/startup.h"

#include <GLFW/glfw3.h>

#include <system_error>
#include <thread>

#include "app/appearance.h"
#include "app/controls.h"
#include "app/keyboard.h"
#include "app/window_proc.h"
#include "display/gl_surface.h"
#include "display/render_loop.h"
#include "recording/live_state.h"

namespace {

constexpr wchar_t CLASS_NAME[] = L"VoxtrelApp";
constexpr wchar_t WINDOW_TITLE[] = L"Voxtrel with FFT";
constexpr int WINDOW_WIDTH = 1200;
constexpr int WINDOW_HEIGHT = 1400;
// The size each GL surface is created at, before it is fitted to its 1160 x 80 host. Any size
// would do, as the fitting replaces it; this one is what the program has always passed.
// NOTE: under Wine the GL drawable keeps this size until the first buffer swap after the
// fitting, so the very first frame of the waveform surface covers only its left 680 columns.
constexpr int SURFACE_START_WIDTH = 680;
constexpr int SURFACE_START_HEIGHT = 80;

// Said when the waveform surface could not be created or embedded; the program works on without it.
constexpr wchar_t WAVEFORM_MISSING_TEXT[] =
    L"The live waveform cannot be shown in the window. Recording and export still work.";

// Shows a start-up error the way every error of the program is shown.
void showError(const wchar_t* text) { MessageBoxW(nullptr, text, L"Error", MB_ICONERROR); }

// Registers the main window's class, with the program's icon for the title bar, the taskbar and
// Alt+Tab; returns false when the platform refuses it.
bool registerMainClass(HINSTANCE instance) {
    WNDCLASSEXW windowClass;
    ZeroMemory(&windowClass, sizeof windowClass);
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = MainWndProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = loadProgramIcon(instance, false);
    windowClass.hIconSm = loadProgramIcon(instance, true);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    windowClass.lpszClassName = CLASS_NAME;
    return RegisterClassExW(&windowClass) != 0;
}

// Creates both surfaces in their hosts, leaves the waveform surface's context free for the render
// thread and tells the user, once each, about a surface that is missing.
void createSurfaces() {
    waveformSurface = createEmbeddedGlWindow(waveformHost, SURFACE_START_WIDTH, SURFACE_START_HEIGHT);
    spectrumSurface = createEmbeddedGlWindow(spectrumHost, SURFACE_START_WIDTH, SURFACE_START_HEIGHT);
    // The render thread draws into both; a context can be current on one thread only, so release
    // the one still current here.
    glfwMakeContextCurrent(nullptr);
    if (waveformSurface) redrawOnExpose(waveformSurface);
    if (spectrumSurface) redrawOnExpose(spectrumSurface);
    // Each box runs its own message loop, in which the user can close the main window; that shuts
    // the display down and ends GLFW, and there is nothing left to report.
    if (!waveformSurface) showError(WAVEFORM_MISSING_TEXT);
    if (!spectrumSurface && IsWindow(mainWindow)) showError(L"Failed to create Spectrum GL window");
}

}  // namespace

bool startRenderThread() {
    try {
        renderThread = std::thread(renderLoop);
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

void embedSurfacesAndStartRendering() {
    createSurfaces();
    // The box of a missing spectrum surface runs its own message loop, so the user can close the
    // main window while it is up; the surfaces are then destroyed and there is nothing to render.
    if (!IsWindow(mainWindow)) return;
    // Without the thread the traces stay still, but recording and export work.
    if (!startRenderThread()) showError(L"Failed to start the live display.");
}

bool startUp(HINSTANCE instance, int showCommand) {
    if (!registerMainClass(instance)) {
        showError(L"Failed to register the main window class.");
        return false;
    }
    mainWindow = CreateWindowExW(0, CLASS_NAME, WINDOW_TITLE, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                 WINDOW_WIDTH, WINDOW_HEIGHT, nullptr, nullptr, instance, nullptr);
    if (!mainWindow) {
        showError(L"Failed to create the main window.");
        return false;
    }
    ShowWindow(mainWindow, showCommand);
    if (!glfwInit()) {
        showError(L"Failed to start the OpenGL display (GLFW).");
        DestroyWindow(mainWindow);
        return false;
    }
    embedSurfacesAndStartRendering();
    return true;
}

void runMessageLoop() {
    MSG message;
    ZeroMemory(&message, sizeof message);
    while (GetMessageW(&message, nullptr, 0, 0)) {
        // The dialog manager gives the main window Tab, Shift+Tab, Space and Enter as a dialog
        // has them; it dispatches what it takes itself.
        if (passesToDialogManager(message) && IsDialogMessageW(mainWindow, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}
