// The process-wide variables through which the UI thread, the render thread, the
// capture worker and the export workers meet. This header is the one place that
// declares them; live_state.cpp is the one place that defines them.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct GLFWwindow;

// Posted to mainWindow by the capture worker, both parameters 0.
constexpr UINT WM_LEVEL_UPDATE = WM_APP + 1;
constexpr UINT WM_RECORDING_SAVED = WM_APP + 2;

// Lock order: fftInputMutex may be held while spectrumMutex is taken; no other nesting.
extern std::atomic<bool> isRecording;
extern std::atomic<bool> captureActive;
extern std::atomic<bool> renderRunning;
extern std::atomic<float> inputLevel;
// Raised by "Stop" and by closing the window, lowered when a start is accepted. The capture
// worker reads it right after it raises isRecording, so a stop that arrived while it was still
// setting up is not overwritten.
extern std::atomic<bool> stopRequested;

extern std::vector<int16_t> waveformLeft;
extern std::mutex waveformMutex;
extern std::vector<float> fftInputBuffer;
extern std::mutex fftInputMutex;
extern std::vector<float> spectrumData;
extern std::mutex spectrumMutex;

extern std::wstring outputPath;
extern int32_t captureSampleRate;
extern std::vector<float> windowTable;

extern std::thread renderThread;
extern HWND mainWindow;
extern GLFWwindow* waveformSurface;
extern GLFWwindow* spectrumSurface;
