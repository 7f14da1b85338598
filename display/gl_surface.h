// Embedded GL surfaces: GLFW windows reparented as borderless children of host controls.
#pragma once

#include <windows.h>

struct GLFWwindow;

// Creates a GLFW window embedded in host and fitted to its client area, with its context
// current on the calling thread; returns null when the window cannot be created.
GLFWwindow* createEmbeddedGlWindow(HWND host, int width, int height);
