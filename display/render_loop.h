// The render loop: redraws waveformSurface with the waveform and spectrum traces until
// renderRunning is cleared or the surface's close flag is set.
#pragma once

struct GLFWwindow;

// Runs the render loop; the body of renderThread. Releases the surface's context when it ends.
void renderLoop();

// Draws one frame of both traces into window and presents it.
void drawTraces(GLFWwindow* window);

// Draws one frame of both traces into window's back buffer without presenting it; drawTraces
// is this followed by the swap, so the back buffer can be read before it is presented.
void drawFrame(GLFWwindow* window);
