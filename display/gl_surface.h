// Embedded GL surfaces: GLFW windows reparented as borderless children of host controls.
#pragma once

#include <windows.h>

struct GLFWwindow;

// Makes a window a child of another; returns the previous parent, null on failure (SetParent's contract).
using ReparentWindow = HWND(WINAPI*)(HWND child, HWND newParent);

// The re-parenting of a new surface into its host: SetParent, unless a test makes it fail.
extern ReparentWindow reparentSurface;

// Creates a GLFW window embedded in host and fitted to its client area, with its context
// current on the calling thread; returns null when the window cannot be created or cannot be
// embedded (it is then destroyed, never left as a window of its own).
GLFWwindow* createEmbeddedGlWindow(HWND host, int width, int height);

// Makes a surface that is never drawn into paint its window black, so that it never shows what
// was on screen before it (a closed dialog, say) where GL has presented nothing.
// NOTE: GLFW's window never erases its background, so a GL window that never swaps its buffers
// shows whatever the screen held there before (under Wine, the remains of a closed dialog).
void blankUndrawnSurface(GLFWwindow* surface);
