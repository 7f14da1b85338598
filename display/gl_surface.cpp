#include "display/gl_surface.h"

// GLEW must come before any other GL header.
#include <GL/glew.h>
#define GLFW_EXPOSE_NATIVE_WIN32
#include <GLFW/glfw3.h>
#include <GLFW/glfw3native.h>

#include "recording/live_state.h"

namespace {

// The embedded window's whole style: a plain visible child, with every frame bit GLFW set dropped.
constexpr LONG EMBEDDED_STYLE = WS_CHILD | WS_VISIBLE;

// The XInput libraries GLFW may have loaded to look for game pads, in the order it tries them.
constexpr const wchar_t* XINPUT_LIBRARIES[] = {L"xinput1_4.dll", L"xinput1_3.dll", L"xinput9_1_0.dll",
                                               L"xinput1_2.dll", L"xinput1_1.dll"};

// Keeps GLFW's XInput library mapped until the process ends, whatever glfwTerminate frees.
// NOTE: under Wine 8.0 XInput starts a thread of its own when GLFW probes for game pads; when
// glfwTerminate unloads the library, that thread can go on running in the unmapped code and
// crash the process at shutdown (seen as a page fault inside xinput1_4.dll).
void pinInputLibraries() {
    for (const wchar_t* name : XINPUT_LIBRARIES) {
        HMODULE library = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN, name, &library);
    }
}

// Asks GLFW for a borderless, fixed-size window kept above others, created hidden; hints persist
// between calls.
// NOTE: a visible top-level window that is reparented waits for the window manager's answer;
// under Wine with no window manager (Xvfb) that is a 2 s wait per surface, during which the UI
// thread answers nothing. A window that was never shown is reparented at once, and becomes
// visible only as a child; on Windows this also spares a moment's borderless top-level window.
void setEmbeddingHints() {
    glfwWindowHint(GLFW_DECORATED, GLFW_FALSE);
    glfwWindowHint(GLFW_RESIZABLE, GLFW_FALSE);
    glfwWindowHint(GLFW_FLOATING, GLFW_TRUE);
    glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
}

// The window property that keeps the window procedure a watched surface's window had before.
constexpr wchar_t PREVIOUS_PROC_PROPERTY[] = L"VoxtrelSurfacePreviousProc";

// Wakes the render thread when the surface's window is asked to paint, and hands every message on
// to the procedure the window had before.
LRESULT CALLBACK exposeWatchProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const WNDPROC previous = reinterpret_cast<WNDPROC>(GetPropW(window, PREVIOUS_PROC_PROPERTY));
    if (message == WM_PAINT) SetEvent(displayWake);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
        RemovePropW(window, PREVIOUS_PROC_PROPERTY);
    }
    return CallWindowProcW(previous, window, message, wParam, lParam);
}

// Makes child a borderless child of host covering the host's client area, at the top of its
// siblings; returns false, with the window not shown, when it did not become the host's child.
bool embedInHost(HWND child, HWND host) {
    // A child's style before the new parent, as SetParent asks of a window that was top-level.
    // NOTE: a window re-parented with GLFW's popup style is brought to the top as a top-level
    // window would be; under Wine that activates it, and the keyboard focus leaves the main window.
    SetWindowLongW(child, GWL_STYLE, WS_CHILD);
    // NOTE: Windows 10 1703 and later refuse to re-parent a window into a parent of another DPI
    // awareness (the manifest gives every window of the program the same one); Wine never refuses.
    // Where the window ended up is what counts, not what the call returned.
    reparentSurface(child, host);
    if (GetParent(child) != host || GetAncestor(child, GA_PARENT) != host) return false;
    // The whole style once more, now that it is a child: the system adds WS_CLIPSIBLINGS to every
    // top-level window, and so it did to the first one.
    SetWindowLongW(child, GWL_STYLE, EMBEDDED_STYLE);
    RECT hostArea{};
    GetClientRect(host, &hostArea);
    SetWindowPos(child, nullptr, 0, 0, hostArea.right, hostArea.bottom, SWP_SHOWWINDOW);
    return true;
}

}  // namespace

ReparentWindow reparentSurface = SetParent;

GLFWwindow* createEmbeddedGlWindow(HWND host, int width, int height) {
    // Without a host there is nothing to embed into; a surface left floating as a parentless
    // WS_CHILD would never show. Refuse before anything is created.
    if (!IsWindow(host)) return nullptr;
    pinInputLibraries();
    setEmbeddingHints();
    GLFWwindow* window = glfwCreateWindow(width, height, "", nullptr, nullptr);
    if (!window) return nullptr;
    // A surface that is not inside its host would be a borderless, always-on-top strip of its own
    // over other programs' windows; it goes, before it was ever shown.
    if (!embedInHost(glfwGetWin32Window(window), host)) {
        glfwDestroyWindow(window);
        return nullptr;
    }
    glfwMakeContextCurrent(window);
    // Only GL 1.1 entry points are drawn with, so a loader that finds no extensions changes nothing.
    glewInit();
    return window;
}

void redrawOnExpose(GLFWwindow* surface) {
    HWND window = glfwGetWin32Window(surface);
    if (!window || GetPropW(window, PREVIOUS_PROC_PROPERTY)) return;
    const LONG_PTR previous = GetWindowLongPtrW(window, GWLP_WNDPROC);
    if (!SetPropW(window, PREVIOUS_PROC_PROPERTY, reinterpret_cast<HANDLE>(previous))) return;
    SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(exposeWatchProc));
}
