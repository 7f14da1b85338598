// The render loop: draws the waveform and spectrum traces into waveformSurface and the
// spectrogram into spectrumSurface whenever something new arrives (a packet, an uncovered
// window, a start), and at least once a second, until renderRunning is cleared or the waveform
// surface's close flag is set.
#pragma once

struct GLFWwindow;

// Runs the render loop; the body of renderThread. Releases the surfaces' contexts when it ends.
void renderLoop();

// Draws one frame of both traces into window and presents it.
void drawTraces(GLFWwindow* window);

// Draws one frame of both traces into window's back buffer without presenting it; drawTraces
// is this followed by the swap, so the back buffer can be read before it is presented.
void drawFrame(GLFWwindow* window);

// Takes the analysed blocks waiting in the live state into the spectrogram's history and draws
// the spectrogram into window's back buffer without presenting it.
void drawSpectrogramFrame(GLFWwindow* window);

// Draws the spectrogram into window and presents it.
void drawSpectrogram(GLFWwindow* window);
