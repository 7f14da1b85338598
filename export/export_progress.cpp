#include "export/export_progress.h"

int exportPermille(uint64_t doneBytes, uint64_t totalBytes) {
    if (totalBytes == 0 || doneBytes >= totalBytes) return EXPORT_PERMILLE_DONE;
    // In 128 bits, so that no size of file can overflow the product (the remainder of a huge
    // total, times 1000, can).
    return static_cast<int>(static_cast<unsigned __int128>(doneBytes) * 1000 / totalBytes);
}

bool exportProgressDue(int permille, int postedPermille, uint64_t nowMs, uint64_t postedAtMs) {
    if (permille == postedPermille) return false;
    return postedPermille < 0 || nowMs - postedAtMs >= EXPORT_PROGRESS_INTERVAL_MS;
}

int64_t exportAudioMs(uint64_t dataBytes, int32_t channels, uint32_t sampleRate) {
    if (channels <= 0 || sampleRate == 0) return 0;
    const uint64_t frames = dataBytes / 2 / static_cast<uint64_t>(channels);
    return static_cast<int64_t>(frames / sampleRate * 1000 + frames % sampleRate * 1000 / sampleRate);
}

void postExportProgress(ExportProgress& progress) {
    if (progress.window == nullptr) return;
    const int permille = exportPermille(progress.doneBytes.load(), progress.totalBytes);
    const uint64_t now = GetTickCount64();
    if (!exportProgressDue(permille, progress.postedPermille, now, progress.postedAtMs)) return;
    if (PostMessageW(progress.window, WM_EXPORT_PROGRESS, progress.id, permille)) {
        progress.postedPermille = permille;
        progress.postedAtMs = now;
    }
}

void postExportFinished(const ExportProgress& progress, LPARAM audioMsOrFailed) {
    if (progress.window != nullptr) PostMessageW(progress.window, WM_EXPORT_FINISHED, progress.id, audioMsOrFailed);
}
