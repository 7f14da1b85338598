// The process-wide variables through which the UI thread, the render thread, the
// capture worker and the export workers meet. This header is the one place that
// declares them; live_state.cpp is the one place that defines them.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct GLFWwindow;

// Posted to mainWindow by the capture worker. WM_LEVEL_UPDATE carries nothing; WM_RECORDING_SAVED
// carries how the recording ended in wParam (one of the RECORDING_ values below) and the
// milliseconds of audio the file holds in lParam. WM_RECORDING_STARTED, which carries nothing,
// says that the file is open and the recording runs; it comes before WM_RECORDING_SAVED, and only
// for a recording that opened its file.
constexpr UINT WM_LEVEL_UPDATE = WM_APP + 1;
constexpr UINT WM_RECORDING_SAVED = WM_APP + 2;
constexpr UINT WM_RECORDING_STARTED = WM_APP + 3;

// The file holds everything recorded between start and stop, with a correct header.
constexpr WPARAM RECORDING_SAVED = 0;
// No capture device was found: nothing recorded, no file created.
constexpr WPARAM RECORDING_NO_DEVICE = 1;
// The capture device could not be opened or started: nothing recorded, no file created.
constexpr WPARAM RECORDING_DEVICE_FAILED = 2;
// The device's sample format cannot be read exactly: nothing recorded, no file created.
constexpr WPARAM RECORDING_FORMAT_UNSUPPORTED = 3;
// The file could not be created or opened for writing: nothing recorded.
constexpr WPARAM RECORDING_FILE_NOT_CREATED = 4;
// Writing failed (a full disk): the recording stopped there; the file holds what was written.
constexpr WPARAM RECORDING_WRITE_FAILED = 5;
// The capture device went away: the recording stopped there; the file holds what was recorded.
constexpr WPARAM RECORDING_DEVICE_LOST = 6;
// The file reached the most a WAV header can describe: the recording stopped there.
constexpr WPARAM RECORDING_SIZE_LIMIT = 7;
// The recording ran, but the device delivered no audio at all: the file holds a header only.
constexpr WPARAM RECORDING_NO_AUDIO = 8;
// Windows refused the microphone to the program (its privacy settings): nothing recorded, no file.
constexpr WPARAM RECORDING_ACCESS_DENIED = 9;
// Another program holds the device in exclusive mode: nothing recorded, no file created.
constexpr WPARAM RECORDING_DEVICE_IN_USE = 10;

// The holes in the last recording's file: where the device lost audio before it was read, or
// where packets were dropped because the disk fell more than the writer's queue behind. Stored by
// the capture worker before it posts WM_RECORDING_SAVED, read by the UI thread on that message.
extern std::atomic<uint64_t> lastRecordingGaps;
extern std::atomic<uint64_t> lastRecordingMissingMs;       // the audio known to be missing in them
extern std::atomic<bool> lastRecordingGapLengthUnknown;    // some hole could not be measured

// How far the recording that runs (or ran last) has got, for the window's line of time, size and
// disk left. The capture worker zeroes them when it starts and sets the data rate before it posts
// WM_RECORDING_STARTED; the UI thread only reads them.
extern std::atomic<uint32_t> recordingBytesPerSecond;  // the PCM data rate; 0 until it is known
extern std::atomic<uint64_t> recordingBytesQueued;     // PCM handed to the writer (capture worker)
extern std::atomic<uint64_t> recordingBytesOnDisk;     // PCM in the file (writer thread)
// The PCM byte count at which the disk would be full: the writer's last reading of the free space
// plus what the file held then. RECORDING_DISK_UNKNOWN while there is no reading.
extern std::atomic<uint64_t> recordingDiskLimitBytes;
constexpr uint64_t RECORDING_DISK_UNKNOWN = UINT64_MAX;

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

// What the live display reads besides the level and the two traces.
// The highest sample magnitude of the first channel since the level meter last took it: raised by
// the capture worker to each packet's peak, taken (and zeroed) by the meter when it paints.
extern std::atomic<float> inputPeak;
// Samples of any channel that reached full scale (magnitude 1 or more, which the PCM conversion
// clamps) in the current recording; zeroed by the UI thread before it launches a capture worker,
// which alone adds to it afterwards.
extern std::atomic<uint64_t> clippedSamples;
// The sample rate of the recording the display shows; the spectrogram's frequency axis follows it.
extern std::atomic<int32_t> displaySampleRate;
// Set by whatever gives the resting render thread something to draw: a surface uncovered, the
// window activated or moved, a start that cleared the traces, a recording's start and end, the
// shutdown. An auto-reset event, so the render thread can rest while nothing happens.
extern HANDLE displayWake;
// How many packets with audio the capture workers have processed; the render thread keeps the
// frame pace while it grows.
extern std::atomic<uint64_t> packetsProcessed;

// One analysed block's levels in dB relative to full scale (a full-scale sine reads 0), lowest
// frequency first, from 0 Hz to half the sample rate in equal steps: bin k of n stands for
// k x sampleRate / (2 x (n - 1)) Hz.
struct LevelColumn {
    uint64_t endSample;  // how many first-channel samples the display had received at the block's end
    int32_t sampleRate;
    std::vector<float> levelsDb;
};
// The analysed blocks the render thread has not taken yet, oldest first; at most
// LEVEL_COLUMNS_WAITING of them, so nothing grows while no render thread takes them.
// Lock order: fftInputMutex may be held while levelColumnsMutex is taken, as with spectrumMutex.
constexpr size_t LEVEL_COLUMNS_WAITING = 128;
extern std::deque<LevelColumn> levelColumns;
extern std::mutex levelColumnsMutex;
// Raised (under levelColumnsMutex) when a start empties the traces, so the render thread also
// forgets the spectrogram it has drawn so far.
extern uint64_t levelColumnsCleared;
// How many first-channel samples the packet pipeline has handed to the display so far in this
// process; the capture worker's alone (under fftInputMutex).
extern uint64_t displayPosition;
// The newest first-channel samples, every one of them (at most the spectrogram's window), under
// fftInputMutex: written by the capture worker, emptied by the UI thread when a start is accepted.
extern std::vector<float> levelInput;

extern std::thread renderThread;
extern HWND mainWindow;
extern GLFWwindow* waveformSurface;
extern GLFWwindow* spectrumSurface;
