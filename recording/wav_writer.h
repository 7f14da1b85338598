// The WAV writer: the one owner of a recording's file. A thread of its own takes the PCM that the
// capture worker queues and appends it in order, keeps the header's sizes on disk close behind
// (so a killed program leaves a playable file) and writes the final header. Only this thread
// ever waits on the disk; the capture worker only queues, and never waits.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "recording/pcm_queue.h"

// The queue holds this much of the device's audio at its own rate and channel count: the
// longest the disk may stall (a USB stick or SD card with "quick removal", a network folder, a
// virus scanner) before audio is lost.
constexpr uint32_t WAV_QUEUE_SECONDS = 30;
// How often the header's sizes on disk are brought up to date while data arrives.
constexpr ULONGLONG WAV_HEADER_REFRESH_MS = 500;
// How often the writer reads the free space on the file's disk for the window's "left on disk".
constexpr ULONGLONG WAV_DISK_READING_MS = 1000;

// Writes count bytes at offset into the file; returns how many were written (count when all were).
using WavFileWrite = DWORD (*)(HANDLE file, uint64_t offset, const void* bytes, DWORD count);

// Writes with WriteFile at the given offset and waits for it.
DWORD writeWavFileBytes(HANDLE file, uint64_t offset, const void* bytes, DWORD count);

// The write every header and data block goes through: writeWavFileBytes unless a test holds it up.
extern WavFileWrite wavFileWrite;

// One recording's file and its queue, shared by the capture worker and the writer thread.
struct WavWriter {
    PcmQueue queue;
    HANDLE file = INVALID_HANDLE_VALUE;
    HANDLE finishEvent = nullptr;     // raised by the capture worker: nothing more will be queued
    int32_t sampleRate = 0;
    int32_t channels = 0;
    std::wstring folder;              // the file's folder, whose disk's free space is read
    std::atomic<bool> failed{false};  // a write failed: later audio cannot be kept
    // Written by the writer thread only; read by others after it has been joined.
    uint64_t bytesOnDisk = 0;
    bool completed = false;           // the file ends where its final header says
    std::thread thread;
};

// Creates (or empties) the file at path, writes the placeholder header and starts the writer
// with a queue of WAV_QUEUE_SECONDS. Returns false, with nothing left running or open, when the
// file cannot be created or the queue or thread cannot be had.
bool startWavWriter(WavWriter& writer, const std::wstring& path, int32_t sampleRate, int32_t channels);

// Tells the writer that nothing more comes and waits until it has written everything queued and
// the final header and closed the file; returns true when every queued sample reached the file.
bool finishWavWriter(WavWriter& writer);

// Runs the writer until finished; the body of the writer thread.
void runWavWriter(WavWriter& writer);
