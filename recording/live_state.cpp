#include "recording/live_state.h"

std::atomic<bool> isRecording{false};
std::atomic<bool> captureActive{false};
std::atomic<bool> renderRunning{true};
std::atomic<float> inputLevel{0.0f};
std::atomic<bool> stopRequested{false};
std::atomic<uint64_t> lastRecordingGaps{0};
std::atomic<uint64_t> lastRecordingMissingMs{0};
std::atomic<bool> lastRecordingGapLengthUnknown{false};
std::atomic<uint32_t> recordingBytesPerSecond{0};
std::atomic<uint64_t> recordingBytesQueued{0};
std::atomic<uint64_t> recordingBytesOnDisk{0};
std::atomic<uint64_t> recordingDiskLimitBytes{RECORDING_DISK_UNKNOWN};

std::vector<int16_t> waveformLeft;
std::mutex waveformMutex;
std::vector<float> fftInputBuffer;
std::mutex fftInputMutex;
std::vector<float> spectrumData;
std::mutex spectrumMutex;

std::wstring outputPath = L"output.wav";
int32_t captureSampleRate = 44100;
std::vector<float> windowTable;

std::atomic<float> inputPeak{0.0f};
std::atomic<uint64_t> clippedSamples{0};
std::atomic<int32_t> displaySampleRate{48000};
HANDLE displayWake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
std::atomic<uint64_t> packetsProcessed{0};
std::deque<LevelColumn> levelColumns;
std::mutex levelColumnsMutex;
uint64_t levelColumnsCleared = 0;
uint64_t displayPosition = 0;
std::vector<float> levelInput;

std::thread renderThread;
HWND mainWindow = nullptr;
GLFWwindow* waveformSurface = nullptr;
GLFWwindow* spectrumSurface = nullptr;
