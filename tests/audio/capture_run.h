// Test helpers for the capture worker: runs recordAudio on its own thread as the UI thread would
// launch it, pumps a real window's queue and reads the WAV file back.
#pragma once

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "recording/capture.h"
#include "recording/live_state.h"
#include "recording/wav_header.h"
#include "test_window.h"

// Reads a whole file; empty when it does not exist.
inline std::vector<unsigned char> readFileBytes(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline uint32_t readLe32(const std::vector<unsigned char>& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
inline uint16_t readLe16(const std::vector<unsigned char>& b, size_t at) {
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

// Returns the 16-bit samples behind the 44-byte header.
inline std::vector<int16_t> wavSamples(const std::vector<unsigned char>& file) {
    std::vector<int16_t> samples;
    for (size_t at = WAV_HEADER_BYTES; at + 1 < file.size(); at += 2)
        samples.push_back(static_cast<int16_t>(readLe16(file, at)));
    return samples;
}

// One run of the capture worker against a fresh test window.
class CaptureRun {
public:
    // Starts the worker as the UI thread does when it accepts a start; with stopFirst, "Stop" has
    // already been pressed when the worker starts, so it comes before the worker raises isRecording.
    explicit CaptureRun(const std::wstring& path, bool stopFirst = false) : window_(createTestWindow()) {
        isRecording.store(false);
        stopRequested.store(false);
        captureActive.store(true);
        if (stopFirst) stop();
        worker_ = std::thread(recordAudio, path, window_);
    }
    ~CaptureRun() {
        if (worker_.joinable()) {
            stop();
            worker_.join();
        }
        DestroyWindow(window_);
    }
    CaptureRun(const CaptureRun&) = delete;
    CaptureRun& operator=(const CaptureRun&) = delete;

    // Waits until the worker raised isRecording or posted its end; false on timeout.
    bool waitUntilRecording(DWORD timeoutMs) {
        for (ULONGLONG end = GetTickCount64() + timeoutMs; GetTickCount64() < end; Sleep(5)) {
            pump();
            if (isRecording.load() || saved_ > 0) return isRecording.load();
        }
        return false;
    }
    // Pumps the queue for a while, as a UI thread would while a recording runs.
    void pumpFor(DWORD ms) {
        for (ULONGLONG end = GetTickCount64() + ms; GetTickCount64() < end; Sleep(5)) pump();
    }
    // Does what "Stop" does.
    void stop() {
        stopRequested.store(true);
        isRecording.store(false);
    }
    // Pumps until WM_RECORDING_SAVED arrives, then joins the worker; false on timeout.
    bool waitUntilSaved(DWORD timeoutMs) {
        for (ULONGLONG end = GetTickCount64() + timeoutMs; saved_ == 0 && GetTickCount64() < end; Sleep(2)) pump();
        if (saved_ == 0) return false;
        worker_.join();
        pump();
        return true;
    }

    HWND window() const { return window_; }
    int savedMessages() const { return saved_; }
    // How many WM_RECORDING_STARTED arrived, and whether one came after WM_RECORDING_SAVED.
    int startedMessages() const { return started_; }
    bool startedAfterSaved() const { return startedAfterSaved_; }
    // The outcome and the milliseconds of audio kept that the first WM_RECORDING_SAVED carried.
    WPARAM outcome() const { return outcome_; }
    uint64_t keptMs() const { return keptMs_; }
    bool captureActiveWhenSaved() const { return captureActiveWhenSaved_; }
    size_t levelUpdates() const { return levelUpdates_; }

private:
    // Takes the worker's messages off the queue, noting captureActive as the first end arrives.
    void pump() {
        levelUpdates_ += takeMessages(window_, WM_LEVEL_UPDATE).size();
        MSG msg;
        // Both ends of a run in the order they were posted.
        while (PeekMessageW(&msg, window_, WM_RECORDING_SAVED, WM_RECORDING_STARTED, PM_REMOVE)) {
            if (msg.message == WM_RECORDING_STARTED) {
                ++started_;
                if (saved_ > 0) startedAfterSaved_ = true;
                continue;
            }
            if (saved_++ == 0) {
                captureActiveWhenSaved_ = captureActive.load();
                outcome_ = msg.wParam;
                keptMs_ = static_cast<uint64_t>(msg.lParam);
            }
        }
    }

    HWND window_;
    std::thread worker_;
    int saved_ = 0;
    int started_ = 0;
    bool startedAfterSaved_ = false;
    bool captureActiveWhenSaved_ = true;
    WPARAM outcome_ = static_cast<WPARAM>(-1);
    uint64_t keptMs_ = 0;
    size_t levelUpdates_ = 0;
};
