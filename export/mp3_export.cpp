#include "export/mp3_export.h"

#include <windows.h>

#include <lame/lame.h>

#include <condition_variable>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "export/export_progress.h"
#include "export/mp3_encoder.h"
#include "export/parallel_export.h"
#include "export/wav_input.h"
#include "recording/wav_header.h"
#include "recording/wide_path.h"

const wchar_t* const EXPORT_OPEN_FAILED_TEXT = L"Failed to open WAV file for MP3 conversion.";
const wchar_t* const EXPORT_INVALID_WAV_TEXT = L"Invalid WAV file format.";
const wchar_t* const EXPORT_CREATE_FAILED_TEXT = L"Failed to create MP3 output file.";
const wchar_t* const EXPORT_ENCODER_FAILED_TEXT = L"Failed to initialize the MP3 encoder.";
const wchar_t* const EXPORT_ENCODING_FAILED_TEXT = L"Failed to encode MP3 data.";
const wchar_t* const EXPORT_WRITE_FAILED_TEXT = L"Failed to write MP3 output file.";
const wchar_t* const EXPORT_READ_FAILED_TEXT =
    L"Failed to read the WAV file for MP3 conversion: it became shorter while it was exported.";
const wchar_t* const EXPORT_ONTO_RECORDING_TEXT =
    L"The MP3 file chosen is the recording itself. Choose another name: the recording was left unchanged.";

Mp3EncoderFactory createMp3Encoder = lame_init;

namespace {

// How often, and how far apart, a rename that another process or thread holds up is tried:
// two seconds in all, far longer than any rename takes.
constexpr int EXPORT_RENAME_ATTEMPTS = 40;
constexpr DWORD EXPORT_RENAME_RETRY_MS = 50;

std::mutex runningExportsMutex;
std::condition_variable runningExportsChanged;
int runningExports = 0;

// Shows one export error: modal to nothing, so only the export thread waits for it.
void showExportError(const wchar_t* text) {
    MessageBoxW(nullptr, text, L"Error", MB_ICONERROR);
}

// Returns the file the MP3 is written to before it is complete: in the target's folder, so the
// rename stays on one volume, under a short name of its own that is unique per process and
// thread, so two exports to one name never share it. A suffix on the chosen name would not do:
// it can push a name the dialog accepted past the 255 characters a folder entry may have.
// The long form, because the folder alone may come close to the usual limit on whole paths.
std::wstring partialPathFor(const std::wstring& mp3Path) {
    return longPathForm(folderOf(mp3Path) + L"~voxtrel-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                        std::to_wstring(GetCurrentThreadId()) + L".part");
}

// Writes count encoder bytes to the MP3 stream; returns false when the stream failed.
bool writeMp3Bytes(std::ostream& mp3, const unsigned char* bytes, int count) {
    if (count > 0) mp3.write(reinterpret_cast<const char*>(bytes), count);
    return mp3.good();
}

// Reads one block of at most blockBytes into the sample buffer; returns the bytes read. A read
// error ends the data like the end of the file does.
size_t readBlock(std::istream& wav, std::vector<int16_t>& samples, size_t blockBytes) {
    wav.read(reinterpret_cast<char*>(samples.data()), static_cast<std::streamsize>(blockBytes));
    return static_cast<size_t>(wav.gcount());
}

// Adds a block's bytes to the job's progress and posts it when a new figure is due.
void countEncoded(ExportProgress& progress, uint64_t bytes) {
    progress.doneBytes.store(progress.doneBytes.load() + bytes);
    postExportProgress(progress);
}

// Hands the frames of one block to the encoder in calls of at most callFrames (one call with no
// frames for an empty block) and writes what it makes; returns a failure text or null.
const wchar_t* encodeBlock(lame_t lame, const int16_t* left, const int16_t* right, int32_t frames,
                           int32_t callFrames, std::ostream& mp3, std::vector<unsigned char>& mp3Buffer) {
    int32_t done = 0;
    do {
        const int32_t count = frames - done < callFrames ? frames - done : callFrames;
        const int result = lame_encode_buffer(lame, left + done, right ? right + done : nullptr, count,
                                              mp3Buffer.data(), static_cast<int>(mp3Buffer.size()));
        if (result < 0) return EXPORT_ENCODING_FAILED_TEXT;
        if (!writeMp3Bytes(mp3, mp3Buffer.data(), result)) return EXPORT_WRITE_FAILED_TEXT;
        done += count;
    } while (done < frames);
    return nullptr;
}

// Encodes the first two channels of the data of fileChannels (two or more) from the stream's
// position to its end as left and right; returns a failure text or null.
const wchar_t* encodeFirstTwoChannels(lame_t lame, std::istream& wav, std::ostream& mp3, int32_t fileChannels,
                                      int32_t callFrames, std::vector<int16_t>& samples,
                                      std::vector<unsigned char>& mp3Buffer, ExportProgress& progress) {
    const size_t blockBytes = exportBlockBytes(fileChannels);
    int32_t frames = 0;
    do {
        frames = framesInBlock(readBlock(wav, samples, blockBytes), fileChannels);
        splitFirstTwoChannels(samples.data(), frames, fileChannels);
        const wchar_t* failure = encodeBlock(lame, samples.data(), samples.data() + EXPORT_RIGHT_CHANNEL_OFFSET,
                                             frames, callFrames, mp3, mp3Buffer);
        if (failure) return failure;
        countEncoded(progress, 2 * static_cast<uint64_t>(frames) * static_cast<uint64_t>(fileChannels));
    } while (frames != 0);
    return nullptr;
}

// Encodes the single-channel data from the stream's position to its end; returns a failure text or null.
const wchar_t* encodeMonoBlocks(lame_t lame, std::istream& wav, std::ostream& mp3, int32_t callFrames,
                                std::vector<int16_t>& samples, std::vector<unsigned char>& mp3Buffer,
                                ExportProgress& progress) {
    int32_t count = 0;
    do {
        count = framesInBlock(readBlock(wav, samples, exportBlockBytes(1)), 1);
        const wchar_t* failure = encodeBlock(lame, samples.data(), nullptr, count, callFrames, mp3, mp3Buffer);
        if (failure) return failure;
        countEncoded(progress, 2 * static_cast<uint64_t>(count));
    } while (count != 0);
    return nullptr;
}

// Replaces the VBR tag frame that the encoder put first in the stream by its final form, so that
// players see the real frame count and the encoder delay; returns false when the write failed.
bool rewriteVbrTagFrame(lame_t lame, std::ostream& mp3, std::vector<unsigned char>& mp3Buffer) {
    // NOTE: without this the first frame keeps the encoder's placeholder, which announces far
    // fewer frames than the file holds; decoders then misreport the duration.
    const size_t tagBytes = lame_get_lametag_frame(lame, mp3Buffer.data(), mp3Buffer.size());
    if (tagBytes == 0 || tagBytes > mp3Buffer.size()) return true;  // no tag in this stream
    mp3.seekp(0);
    return writeMp3Bytes(mp3, mp3Buffer.data(), static_cast<int>(tagBytes));
}

// Runs one encoder over the WAV data of fileChannels and flushes it into the MP3 stream; returns a
// failure text or null. The encoder is closed on every path.
const wchar_t* encodeWavData(std::istream& wav, std::ostream& mp3, int32_t fileChannels, uint32_t sampleRate,
                             ExportProgress& progress) {
    lame_t lame = createMp3Encoder();
    if (lame == nullptr) return EXPORT_ENCODER_FAILED_TEXT;
    std::vector<int16_t> samples(EXPORT_SAMPLE_VALUES);
    std::vector<unsigned char> mp3Buffer;
    const wchar_t* failure = nullptr;
    if (!configureMp3Encoder(lame, mp3Channels(fileChannels), sampleRate)) {
        failure = EXPORT_ENCODER_FAILED_TEXT;
    } else {
        // A rate below the lowest MP3 rate is resampled up, into more samples than the block held.
        const uint32_t outputRate = static_cast<uint32_t>(lame_get_out_samplerate(lame));
        const int32_t blockFrames = framesInBlock(exportBlockBytes(fileChannels), fileChannels);
        const int32_t callFrames = framesPerEncoderCall(blockFrames, sampleRate, outputRate);
        mp3Buffer.resize(mp3BufferBytes(sampleRate, outputRate));
        failure = fileChannels >= 2
                      ? encodeFirstTwoChannels(lame, wav, mp3, fileChannels, callFrames, samples, mp3Buffer, progress)
                      : encodeMonoBlocks(lame, wav, mp3, callFrames, samples, mp3Buffer, progress);
    }
    if (failure == nullptr) {
        const int result = lame_encode_flush(lame, mp3Buffer.data(), static_cast<int>(mp3Buffer.size()));
        if (result < 0) failure = EXPORT_ENCODING_FAILED_TEXT;
        else if (!writeMp3Bytes(mp3, mp3Buffer.data(), result)) failure = EXPORT_WRITE_FAILED_TEXT;
    }
    if (failure == nullptr && !rewriteVbrTagFrame(lame, mp3, mp3Buffer)) failure = EXPORT_WRITE_FAILED_TEXT;
    lame_close(lame);
    return failure;
}

// Returns true when path names an existing folder.
bool isFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Renames the complete MP3 over the chosen name (both in the long form); returns false when that
// cannot be done.
bool moveCompleteMp3(const std::wstring& partial, const std::wstring& mp3) {
    // NOTE: under Wine, a rename over a name that another export is renaming over at the same
    // moment fails with access denied (half of such renames did, in a loop of four threads); on
    // Windows a virus scanner or an indexer holding the target briefly does the same, or gives a
    // sharing violation. Tried again shortly after, the rename succeeds.
    for (int attempt = 1;; ++attempt) {
        if (MoveFileExW(partial.c_str(), mp3.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
        const DWORD error = GetLastError();
        // A folder under the chosen name refuses with access denied too, and for good.
        const bool transient = (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED) &&
                               !isFolder(mp3);
        if (!transient || attempt == EXPORT_RENAME_ATTEMPTS) return false;
        Sleep(EXPORT_RENAME_RETRY_MS);
    }
}

// Reads the volume and file index of the file at path; false when it cannot be opened.
bool fileIdentity(const std::wstring& path, BY_HANDLE_FILE_INFORMATION& identity) {
    // No access asked and every sharing allowed: a file that the recording or a player holds
    // open can still be identified. Backup semantics let a folder be opened too.
    HANDLE file = CreateFileW(longPathForm(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool read = GetFileInformationByHandle(file, &identity) != 0;
    CloseHandle(file);
    return read;
}

// Returns the bytes of the file after the stream's position, and leaves the position where it was.
uint64_t bytesLeftIn(std::istream& stream) {
    const std::streampos here = stream.tellg();
    stream.seekg(0, std::ios::end);
    const std::streampos end = stream.tellg();
    stream.seekg(here);
    return here >= 0 && end > here ? static_cast<uint64_t>(end - here) : 0;
}

// Tells the window that the job failed, then the user, in that order: the box holds this thread
// until it is dismissed, and the window should not claim the export still runs meanwhile.
void failExport(const ExportProgress& progress, const wchar_t* text) {
    postExportFinished(progress, EXPORT_FAILED);
    showExportError(text);
}

// Runs one export thread's job and counts it as finished.
void runCountedExport(const std::wstring& mp3Path, const std::wstring& wavPath, HWND notifyWindow,
                      WPARAM exportId) {
    exportToMp3(mp3Path, wavPath, notifyWindow, exportId);
    std::lock_guard<std::mutex> lock(runningExportsMutex);
    --runningExports;
    runningExportsChanged.notify_all();
}

}  // namespace

bool configureMp3Encoder(lame_t lame, int32_t channels, uint32_t sampleRate) {
    if (lame_set_in_samplerate(lame, static_cast<int>(sampleRate)) < 0) return false;
    if (lame_set_num_channels(lame, channels) < 0) return false;
    // The library's default VBR mode at its default quality, the same as the front end's -V 4.
    if (lame_set_VBR(lame, vbr_default) < 0) return false;
    return lame_init_params(lame) >= 0;
}

bool isSameFile(const std::wstring& first, const std::wstring& second) {
    BY_HANDLE_FILE_INFORMATION a{}, b{};
    if (!fileIdentity(first, a) || !fileIdentity(second, b)) return false;
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

void exportToMp3(const std::wstring& mp3Path, const std::wstring& wavPath, HWND notifyWindow, WPARAM exportId) {
    ExportProgress progress;
    progress.window = notifyWindow;
    progress.id = exportId;
    // The dialog lists the recording among the files it offers, and the finished MP3 is renamed
    // over the chosen name: choosing the recording would replace it with its own MP3.
    if (isSameFile(mp3Path, wavPath)) {
        failExport(progress, EXPORT_ONTO_RECORDING_TEXT);
        return;
    }
    // By its wide, extended-length path, as the MP3 is written: a narrow name would go through the
    // process's code page, which is UTF-8 only from Windows 10 1903 on.
    std::ifstream wav(longPathForm(wavPath).c_str(), std::ios::in | std::ios::binary);
    if (!wav.is_open()) {
        failExport(progress, EXPORT_OPEN_FAILED_TEXT);
        return;
    }
    WavHeader header;
    wav.read(reinterpret_cast<char*>(&header), sizeof header);
    if (!isEncodableWavHeader(header, static_cast<size_t>(wav.gcount()))) {
        wav.close();
        failExport(progress, EXPORT_INVALID_WAV_TEXT);
        return;
    }
    const int32_t channels = header.numChannels;
    const uint32_t sampleRate = header.sampleRate;
    // A recording still being written grows past this; its progress then stays at the end.
    progress.totalBytes = bytesLeftIn(wav);
    postExportProgress(progress);

    // The MP3 is built under a name of its own and renamed over the chosen one only when it is
    // complete, so a failed or interrupted export never leaves a cut-off file (or destroys an
    // older one) under that name. Both go through the wide, long-form calls: the partial name
    // is longer than the chosen one, which may already be as long as the usual limit allows.
    const std::wstring partial = partialPathFor(mp3Path);
    std::ofstream mp3(partial.c_str(), std::ios::out | std::ios::binary | std::ios::trunc);
    if (!mp3.is_open()) {
        wav.close();
        failExport(progress, EXPORT_CREATE_FAILED_TEXT);
        return;
    }

    // A long recording is encoded on every core; the single pass stays for the rest.
    const wchar_t* failure = nullptr;
    if (!encodeInSegments(wavPath, partial, mp3, channels, sampleRate, progress.totalBytes, progress, failure))
        failure = encodeWavData(wav, mp3, channels, sampleRate, progress);
    wav.close();
    mp3.close();
    if (failure == nullptr && mp3.fail()) failure = EXPORT_WRITE_FAILED_TEXT;
    if (failure == nullptr && !moveCompleteMp3(partial, longPathForm(mp3Path))) failure = EXPORT_CREATE_FAILED_TEXT;
    if (failure != nullptr) {
        DeleteFileW(partial.c_str());
        failExport(progress, failure);
        return;
    }
    postExportFinished(progress, static_cast<LPARAM>(exportAudioMs(progress.doneBytes.load(), channels, sampleRate)));
}

bool startExport(std::wstring mp3Path, std::wstring wavPath, HWND notifyWindow, WPARAM exportId) {
    {
        std::lock_guard<std::mutex> lock(runningExportsMutex);
        ++runningExports;
    }
    try {
        std::thread(runCountedExport, std::move(mp3Path), std::move(wavPath), notifyWindow, exportId).detach();
        return true;
    } catch (const std::system_error&) {
        std::lock_guard<std::mutex> lock(runningExportsMutex);
        --runningExports;
        runningExportsChanged.notify_all();
        return false;
    }
}

void waitForRunningExports() {
    std::unique_lock<std::mutex> lock(runningExportsMutex);
    runningExportsChanged.wait(lock, [] { return runningExports == 0; });
}
