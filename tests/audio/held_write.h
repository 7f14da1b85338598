// Holds the WAV writer's next write until the test releases it: the slow disk of a USB stick, a
// network folder or a virus scanner, on demand, through the writer's write seam.
#pragma once

#include <windows.h>

#include <atomic>

#include "recording/wav_writer.h"

class HeldWrite {
public:
    HeldWrite() {
        instance() = this;
        wavFileWrite = holdingWrite;
    }
    ~HeldWrite() {
        release();
        wavFileWrite = writeWavFileBytes;
        instance() = nullptr;
        CloseHandle(held_);
        CloseHandle(released_);
    }
    HeldWrite(const HeldWrite&) = delete;
    HeldWrite& operator=(const HeldWrite&) = delete;

    // Makes the writer's next write wait until release().
    void holdNext() { armed_.store(true); }
    // Waits until the writer is inside the held write; false on timeout.
    bool waitUntilHeld(DWORD timeoutMs) { return WaitForSingleObject(held_, timeoutMs) == WAIT_OBJECT_0; }
    // Lets the held write, and every later one, go through.
    void release() { SetEvent(released_); }

private:
    static HeldWrite*& instance() {
        static HeldWrite* current = nullptr;
        return current;
    }
    static DWORD holdingWrite(HANDLE file, uint64_t offset, const void* bytes, DWORD count) {
        HeldWrite* self = instance();
        if (self && self->armed_.exchange(false)) {
            SetEvent(self->held_);
            WaitForSingleObject(self->released_, INFINITE);
        }
        return writeWavFileBytes(file, offset, bytes, count);
    }

    std::atomic<bool> armed_{false};
    HANDLE held_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE released_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
};
