// How an export job tells the window how far it is and how it ended: two posted messages, and
// the pure arithmetic of when a new figure is worth posting.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

// Posted by an export job to the window handed to startExport, never sent, so the job never
// waits for the window and never touches a control. WM_EXPORT_PROGRESS carries the job's id in
// wParam and how far it is, in thousandths of the recording's data, in lParam. WM_EXPORT_FINISHED
// comes once at the job's very end with the id in wParam and, in lParam, the milliseconds of
// audio in the MP3 when it was written, or EXPORT_FAILED when the job failed (its message box is
// shown after the post, so the window knows while the box is up).
constexpr UINT WM_EXPORT_PROGRESS = WM_APP + 4;
constexpr UINT WM_EXPORT_FINISHED = WM_APP + 5;
constexpr LPARAM EXPORT_FAILED = -1;
constexpr int EXPORT_PERMILLE_DONE = 1000;
// A new figure is posted at most this often: four a second keeps the bar moving without a flood
// of messages from several exports at once.
constexpr uint64_t EXPORT_PROGRESS_INTERVAL_MS = 250;

// One job's progress and where it reports it. The encoding thread (or threads) add the bytes of
// recording data they have encoded to doneBytes; one thread posts.
struct ExportProgress {
    HWND window = nullptr;  // null: nothing is posted
    WPARAM id = 0;
    uint64_t totalBytes = 0;  // the recording's data, after its header
    std::atomic<uint64_t> doneBytes{0};
    int postedPermille = -1;
    uint64_t postedAtMs = 0;
};

// Returns how far doneBytes of totalBytes are, in thousandths: 0 to 1000, and 1000 for no data.
int exportPermille(uint64_t doneBytes, uint64_t totalBytes);

// Returns true when a figure is worth posting: it moved, and the last post is at least
// EXPORT_PROGRESS_INTERVAL_MS old (or there was none).
bool exportProgressDue(int permille, int postedPermille, uint64_t nowMs, uint64_t postedAtMs);

// Returns the milliseconds of audio in dataBytes of 16-bit frames of channels at sampleRate.
int64_t exportAudioMs(uint64_t dataBytes, int32_t channels, uint32_t sampleRate);

// Posts the job's progress to its window when a new figure is due; call from one thread only.
void postExportProgress(ExportProgress& progress);

// Posts the job's end to its window: the milliseconds of audio in the MP3, or EXPORT_FAILED.
void postExportFinished(const ExportProgress& progress, LPARAM audioMsOrFailed);
