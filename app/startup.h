// Process entry and start-up: the window class, the main window, the GL surfaces and the
// render thread.
#pragma once

#include <windows.h>

// Starts the thread that runs the render loop and keeps it in renderThread; returns false when
// no thread could be started.
bool startRenderThread();

// Embeds both GL surfaces in their hosts (telling the user about a missing one) and starts the
// render thread, unless the main window was closed meanwhile.
void embedSurfacesAndStartRendering();

// Registers the class, creates and shows the main window, embeds both GL surfaces and starts
// the render thread; returns false (after telling the user) when the program cannot run.
bool startUp(HINSTANCE instance, int showCommand);

// Dispatches messages until the quit message arrives; the keyboard works the buttons.
void runMessageLoop();
