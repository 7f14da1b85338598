#include "recording/wav_writer.h"

#include <functional>
#include <new>
#include <system_error>

#include "recording/live_state.h"
#include "recording/wav_header.h"
#include "recording/wide_path.h"

WavFileWrite wavFileWrite = writeWavFileBytes;

namespace {

constexpr int32_t WAV_BITS_PER_SAMPLE = 16;
// How long the writer sleeps when the queue is empty: the queue is polled rather than signalled,
// so queuing a packet costs the capture worker no system call.
constexpr DWORD WRITER_POLL_MS = 20;
// The most one write hands the system: a backlog after a stall is written in these steps, so the
// header is still brought up to date while it drains.
constexpr size_t WRITE_CHUNK_SAMPLES = 32 * 1024;

// Writes the header for dataLength bytes of PCM over the first 44 bytes of the file.
bool writeHeaderAt0(const WavWriter& writer, uint64_t dataLength) {
    const auto bytes = wavHeaderBytes(makeWavHeader(writer.sampleRate, WAV_BITS_PER_SAMPLE, writer.channels,
                                                    static_cast<uint32_t>(dataLength), false));
    return wavFileWrite(writer.file, 0, bytes.data(), static_cast<DWORD>(bytes.size())) == bytes.size();
}

// The writer thread's own bookkeeping of the header on disk and of its readings of free space.
struct HeaderState {
    uint64_t bytesInHeader = 0;
    ULONGLONG lastRefresh = 0;
    ULONGLONG lastDiskReading = 0;
};

// Reads the free space on the file's disk and publishes the data size at which it would be full.
// The writer asks rather than the UI thread: it is the one thread that may wait on this disk (a
// slow network folder can take seconds to answer), and its queue absorbs that wait.
void readDiskSpace(const WavWriter& writer, HeaderState& state) {
    ULARGE_INTEGER available{};
    const wchar_t* folder = writer.folder.empty() ? nullptr : writer.folder.c_str();
    if (GetDiskFreeSpaceExW(folder, &available, nullptr, nullptr))
        recordingDiskLimitBytes.store(writer.bytesOnDisk + available.QuadPart);
    else
        recordingDiskLimitBytes.store(RECORDING_DISK_UNKNOWN);
    state.lastDiskReading = GetTickCount64();
}

// Reads the free space again once WAV_DISK_READING_MS have passed since the last reading.
void readDiskSpaceIfDue(const WavWriter& writer, HeaderState& state) {
    if (GetTickCount64() - state.lastDiskReading >= WAV_DISK_READING_MS) readDiskSpace(writer, state);
}

// Brings the header's sizes on disk up to date when new data arrived and enough time has passed.
void refreshHeaderIfDue(const WavWriter& writer, HeaderState& header) {
    const ULONGLONG now = GetTickCount64();
    if (now - header.lastRefresh < WAV_HEADER_REFRESH_MS || writer.bytesOnDisk == header.bytesInHeader) return;
    // A failed refresh leaves the old, smaller sizes: still a playable file; the final header retries.
    if (writeHeaderAt0(writer, writer.bytesOnDisk)) header.bytesInHeader = writer.bytesOnDisk;
    header.lastRefresh = now;
}

// Appends everything queued to the file, in order, until the queue is empty or a write fails.
void writeQueued(WavWriter& writer, HeaderState& header) {
    // Whole frames per write, also for 3, 5 or 6 channels: packets are queued as whole frames and
    // the ring holds whole frames, so every span then ends on a frame, and a write that fails
    // part-way is cut back to a frame of the file, not of the write.
    const size_t chunk = WRITE_CHUNK_SAMPLES - WRITE_CHUNK_SAMPLES % static_cast<size_t>(writer.channels);
    while (!writer.failed.load()) {
        const PcmSpan span = peekPcm(writer.queue, chunk);
        if (span.count == 0) return;
        const DWORD bytes = static_cast<DWORD>(span.count * sizeof(int16_t));
        const DWORD written = wavFileWrite(writer.file, WAV_HEADER_BYTES + writer.bytesOnDisk, span.samples, bytes);
        if (written != bytes) {
            // A full disk: the whole frames that made it are kept, the torn one is cut at the
            // end, and the recording ends here.
            const DWORD frameBytes = static_cast<DWORD>(writer.channels) * sizeof(int16_t);
            writer.bytesOnDisk += written < bytes ? written - written % frameBytes : 0;
            recordingBytesOnDisk.store(writer.bytesOnDisk);
            writer.failed.store(true);
            return;
        }
        writer.bytesOnDisk += bytes;
        recordingBytesOnDisk.store(writer.bytesOnDisk);
        takePcm(writer.queue, span.count);
        refreshHeaderIfDue(writer, header);
    }
}

// Cuts the file behind its counted data; a failed write may have left part of its block there,
// which a player or the export would take for audio.
bool cutAfterData(const WavWriter& writer) {
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(WAV_HEADER_BYTES + writer.bytesOnDisk);
    return SetFilePointerEx(writer.file, end, nullptr, FILE_BEGIN) && SetEndOfFile(writer.file);
}

// Writes the final header, cuts a torn tail and closes the file; returns true when the file ends
// where its header says and holds everything that was queued.
bool finaliseFile(WavWriter& writer) {
    const bool headerWritten = writeHeaderAt0(writer, writer.bytesOnDisk);
    const bool endsAtItsData = !writer.failed.load() || cutAfterData(writer);
    const bool closed = CloseHandle(writer.file) != 0;
    writer.file = INVALID_HANDLE_VALUE;
    return headerWritten && endsAtItsData && closed && !writer.failed.load();
}

// Closes what startWavWriter obtained, each only if it was obtained.
void releaseWriter(WavWriter& writer) {
    if (writer.file != INVALID_HANDLE_VALUE) CloseHandle(writer.file);
    if (writer.finishEvent) CloseHandle(writer.finishEvent);
    writer.file = INVALID_HANDLE_VALUE;
    writer.finishEvent = nullptr;
    writer.queue.ring = {};
}

}  // namespace

DWORD writeWavFileBytes(HANDLE file, uint64_t offset, const void* bytes, DWORD count) {
    // NOTE: on a handle opened without FILE_FLAG_OVERLAPPED, WriteFile with an OVERLAPPED record
    // writes at its offset and returns only when done, so no seek is shared between calls.
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD written = 0;
    // A failed write may still have written part of the block; the count says how much.
    if (!WriteFile(file, bytes, count, &written, &at) && written > count) written = 0;
    return written;
}

bool startWavWriter(WavWriter& writer, const std::wstring& path, int32_t sampleRate, int32_t channels) {
    writer.sampleRate = sampleRate;
    writer.channels = channels;
    writer.bytesOnDisk = 0;
    recordingBytesOnDisk.store(0);
    writer.completed = false;
    writer.failed.store(false);
    try {
        // Before the file: a device whose 30 s the memory cannot hold leaves no file behind.
        resetPcmQueue(writer.queue, pcmQueueSamplesFor(WAV_QUEUE_SECONDS, sampleRate, channels));
    } catch (const std::bad_alloc&) {
        return false;
    }
    writer.finishEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // The wide, long form: a name past the usual 260 characters is still the one chosen.
    const std::wstring longPath = longPathForm(path);
    writer.file = CreateFileW(longPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    writer.folder = folderOf(longPath);
    if (writer.finishEvent == nullptr || writer.file == INVALID_HANDLE_VALUE || !writeHeaderAt0(writer, 0)) {
        const bool created = writer.file != INVALID_HANDLE_VALUE;
        releaseWriter(writer);
        if (created) DeleteFileW(longPath.c_str());
        return false;
    }
    try {
        writer.thread = std::thread(runWavWriter, std::ref(writer));
    } catch (const std::system_error&) {
        releaseWriter(writer);
        DeleteFileW(longPath.c_str());
        return false;
    }
    return true;
}

bool finishWavWriter(WavWriter& writer) {
    SetEvent(writer.finishEvent);
    writer.thread.join();
    releaseWriter(writer);
    return writer.completed;
}

void runWavWriter(WavWriter& writer) {
    HeaderState header;
    header.lastRefresh = GetTickCount64();
    readDiskSpace(writer, header);
    for (;;) {
        // Raised only after the last packet was queued, so one more pass writes everything.
        const bool finishing = WaitForSingleObject(writer.finishEvent, WRITER_POLL_MS) == WAIT_OBJECT_0;
        writeQueued(writer, header);
        if (!writer.failed.load()) refreshHeaderIfDue(writer, header);
        if (finishing) break;
        readDiskSpaceIfDue(writer, header);
    }
    writer.completed = finaliseFile(writer);
}
