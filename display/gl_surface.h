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

// Makes the surface's window wake the render thread (displayWake) whenever the system asks it to
// paint, as when a dialog or another window that covered it goes away, so that a display that
// rests while nothing arrives still shows its picture again at once.
// NOTE: GLFW's window only validates what needs painting; the GL picture comes back with the
// render thread's next swap, not from the paint message itself.
void redrawOnExpose(GLFWwindow* surface);
