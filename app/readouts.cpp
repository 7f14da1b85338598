#include "app/readouts.h"

#include <cwchar>

#include "app/controls.h"
#include "export/export_progress.h"
#include "recording/wav_header.h"

namespace {

constexpr uint64_t KIB = 1024;
constexpr uint64_t MIB = KIB * KIB;
constexpr uint64_t GIB = MIB * KIB;
// Three spaces keep the parts of a readout apart without a separator to read.
constexpr wchar_t PART_GAP[] = L"   ";

// Returns the entry with id, or null.
ExportEntry* findExport(std::vector<ExportEntry>& exports, WPARAM id) {
    for (ExportEntry& entry : exports)
        if (entry.id == id) return &entry;
    return nullptr;
}

}  // namespace

std::wstring clockText(uint64_t milliseconds) {
    const unsigned long long tenths = milliseconds / 100;
    const unsigned long long seconds = tenths / 10;
    wchar_t text[48];
    swprintf(text, 48, L"%llu:%02llu:%02llu.%llu", seconds / 3600, seconds / 60 % 60, seconds % 60, tenths % 10);
    return text;
}

std::wstring fileSizeText(uint64_t bytes) {
    wchar_t text[48];
    if (bytes < GIB) {
        const unsigned long long tenths = bytes * 10 / MIB;
        swprintf(text, 48, L"%llu.%llu MB", tenths / 10, tenths % 10);
    } else {
        // Split so that no size a disk can hold overflows the product.
        const unsigned long long hundredths = bytes / GIB * 100 + bytes % GIB * 100 / GIB;
        swprintf(text, 48, L"%llu.%02llu GB", hundredths / 100, hundredths % 100);
    }
    return text;
}

uint64_t secondsUntilFull(uint64_t limitBytes, uint64_t usedBytes, uint32_t bytesPerSecond) {
    if (bytesPerSecond == 0 || usedBytes >= limitBytes) return 0;
    return (limitBytes - usedBytes) / bytesPerSecond;
}

std::wstring timeLeftText(uint64_t seconds) {
    wchar_t text[64];
    const unsigned long long s = seconds;
    if (s < 60) {
        swprintf(text, 64, L"%llu s", s);
    } else if (s < SHORT_TIME_LEFT_SECONDS) {
        swprintf(text, 64, L"%llu min %llu s", s / 60, s % 60);
    } else {
        // To the nearest minute: a disk's free space is not a promise to the second.
        const unsigned long long minutes = (s + 30) / 60;
        if (minutes < 60) swprintf(text, 64, L"%llu min", minutes);
        else swprintf(text, 64, L"%llu h %llu min", minutes / 60, minutes % 60);
    }
    return text;
}

RecordingLine recordingLine(const RecordingFigures& figures) {
    RecordingLine line;
    if (figures.bytesPerSecond == 0) return line;
    const uint64_t ms = figures.bytesQueued / figures.bytesPerSecond * 1000 +
                        figures.bytesQueued % figures.bytesPerSecond * 1000 / figures.bytesPerSecond;
    line.text = clockText(ms) + PART_GAP + fileSizeText(WAV_HEADER_BYTES + figures.bytesOnDisk);
    // The recording stops at whichever comes first: the full disk or the most a WAV file holds.
    const uint64_t fileSeconds = secondsUntilFull(WAV_MAX_DATA_BYTES, figures.bytesQueued, figures.bytesPerSecond);
    const bool diskKnown = figures.diskLimitBytes != UINT64_MAX;
    const uint64_t diskSeconds =
        diskKnown ? secondsUntilFull(figures.diskLimitBytes, figures.bytesQueued, figures.bytesPerSecond) : 0;
    const bool diskFirst = diskKnown && diskSeconds <= fileSeconds;
    const uint64_t seconds = diskFirst ? diskSeconds : fileSeconds;
    line.warning = seconds < SHORT_TIME_LEFT_SECONDS;
    const std::wstring left = timeLeftText(seconds);
    if (diskFirst) {
        line.text += PART_GAP + (line.warning ? L"Disk almost full: only " + left + L" left" : left + L" left on disk");
    } else {
        line.text += PART_GAP + (line.warning ? L"Near the 4 GiB limit of a WAV file: only " + left + L" left"
                                              : left + L" left before the 4 GiB limit of a WAV file");
    }
    return line;
}

std::wstring recordedLine(uint64_t keptMs, uint64_t fileBytes) {
    return clockText(keptMs) + PART_GAP + fileSizeText(fileBytes);
}

std::wstring exportText(const ExportEntry& entry) {
    switch (entry.state) {
        case ExportState::Exported:
            return L"Exported to: " + entry.mp3Path + L" (" + durationText(static_cast<uint64_t>(entry.audioMs)) + L")";
        case ExportState::Failed:
            return L"Export failed: " + entry.mp3Path;
        default:
            return L"Exporting " + std::to_wstring(entry.permille / 10) + L" %: " + entry.mp3Path;
    }
}

std::wstring exportLineText(const std::vector<ExportEntry>& exports) {
    std::wstring text;
    for (const ExportEntry& entry : exports) {
        if (!text.empty()) text += PART_GAP;
        text += exportText(entry);
    }
    return text;
}

int exportBarPermille(const std::vector<ExportEntry>& exports) {
    for (const ExportEntry& entry : exports)
        if (entry.state == ExportState::Running) return entry.permille;
    if (exports.empty()) return -1;
    return exports.front().state == ExportState::Exported ? EXPORT_PERMILLE_DONE : 0;
}

void addStartedExport(std::vector<ExportEntry>& exports, WPARAM id, const std::wstring& mp3Path) {
    std::vector<ExportEntry> kept{ExportEntry{id, mp3Path}};
    for (const ExportEntry& entry : exports)
        if (entry.state == ExportState::Running) kept.push_back(entry);
    exports.swap(kept);
}

bool applyExportProgress(std::vector<ExportEntry>& exports, WPARAM id, LPARAM permille) {
    ExportEntry* entry = findExport(exports, id);
    if (!entry || entry->state != ExportState::Running) return false;
    entry->permille = permille < 0 ? 0 : permille > EXPORT_PERMILLE_DONE ? EXPORT_PERMILLE_DONE : static_cast<int>(permille);
    return true;
}

bool applyExportFinished(std::vector<ExportEntry>& exports, WPARAM id, LPARAM audioMsOrFailed) {
    ExportEntry* entry = findExport(exports, id);
    if (!entry) return false;
    if (audioMsOrFailed == EXPORT_FAILED) {
        entry->state = ExportState::Failed;
    } else {
        entry->state = ExportState::Exported;
        entry->permille = EXPORT_PERMILLE_DONE;
        entry->audioMs = audioMsOrFailed;
    }
    return true;
}
