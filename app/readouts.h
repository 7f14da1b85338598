// The texts of the window's two readout lines, as pure functions: the recording's time, size and
// time left on its disk, and every export's progress and result.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// Below this much time left the recording line warns, in words and colour.
constexpr uint64_t SHORT_TIME_LEFT_SECONDS = 10 * 60;

// What the recording engine has published about the recording that runs.
struct RecordingFigures {
    uint32_t bytesPerSecond = 0;  // 0: the format is not known yet
    uint64_t bytesQueued = 0;     // PCM that reached the writer
    uint64_t bytesOnDisk = 0;     // PCM in the file
    uint64_t diskLimitBytes = 0;  // PCM at which the disk is full; UINT64_MAX: unknown
};

struct RecordingLine {
    std::wstring text;
    bool warning = false;  // little time left: shown so that it catches the eye
};

// Returns a recording's length as a clock reads it, in tenths: "0:12:34.5".
std::wstring clockText(uint64_t milliseconds);

// Returns a file's size as Explorer gives it (units of 1024): "138.2 MB", "4.01 GB".
std::wstring fileSizeText(uint64_t bytes);

// Returns the seconds until usedBytes grows to limitBytes at bytesPerSecond; 0 when already there.
uint64_t secondsUntilFull(uint64_t limitBytes, uint64_t usedBytes, uint32_t bytesPerSecond);

// Returns how long is left, coarser the longer it is: "5 h 40 min", "42 min", "4 min 12 s", "35 s".
std::wstring timeLeftText(uint64_t seconds);

// Returns the line shown while a recording runs: "0:12:34.5   138.2 MB   5 h 40 min left on disk",
// with the end that comes first (a full disk, or the 4 GiB a WAV file can hold) and a warning
// when it is less than SHORT_TIME_LEFT_SECONDS away.
RecordingLine recordingLine(const RecordingFigures& figures);

// Returns the line left once a recording has ended: its final length and the file's size.
std::wstring recordedLine(uint64_t keptMs, uint64_t fileBytes);

enum class ExportState { Running, Exported, Failed };

// One export as the window knows it from the job's messages.
struct ExportEntry {
    WPARAM id = 0;
    std::wstring mp3Path;
    ExportState state = ExportState::Running;
    int permille = 0;      // how far it is, 0 to 1000
    int64_t audioMs = 0;   // the MP3's length once exported
};

// Returns one export's text: "Exporting 45 %: path", "Exported to: path (1:02:03)", or "Export
// failed: path".
std::wstring exportText(const ExportEntry& entry);

// Returns the export line: every export listed, newest first, apart by three spaces.
std::wstring exportLineText(const std::vector<ExportEntry>& exports);

// Returns what the progress bar shows: the newest running export's thousandths, or when none runs,
// 1000 after the newest one was exported and 0 after it failed; -1 when there is no export.
int exportBarPermille(const std::vector<ExportEntry>& exports);

// Adds a started export in front; the ends already told are dropped, running exports stay.
void addStartedExport(std::vector<ExportEntry>& exports, WPARAM id, const std::wstring& mp3Path);

// Applies a job's progress message; returns false for an id the window does not know.
bool applyExportProgress(std::vector<ExportEntry>& exports, WPARAM id, LPARAM permille);

// Applies a job's end message (the MP3's milliseconds, or EXPORT_FAILED); returns false for an
// unknown id.
bool applyExportFinished(std::vector<ExportEntry>& exports, WPARAM id, LPARAM audioMsOrFailed);
