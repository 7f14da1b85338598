// Helpers of the export tests: WAV inputs written with the program's own header, a reference
// encoding, an MP3 frame walker, and an export run that finds, reads and dismisses the job's
// message boxes the way a user would.
#pragma once

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// One message box the job showed.
struct ShownBox {
    std::wstring text;
    std::wstring caption;
    bool hasOwner = true;
    bool hasErrorIcon = false;
};

// What one watched export did.
struct ExportOutcome {
    bool finished = false;  // false: the job was still running at the deadline
    std::vector<ShownBox> boxes;
};

// Runs exportToMp3 on a thread of its own, dismisses every box it shows and waits at most
// timeoutMs for the job to end; the job posts to notifyWindow, if any, under exportId.
ExportOutcome runWatchedExport(const std::wstring& mp3Path, const std::wstring& wavPath,
                               DWORD timeoutMs = 30000, HWND notifyWindow = nullptr, WPARAM exportId = 0);

// Dismisses (and records) every message box of the given thread that is ready; returns how many.
int dismissBoxesOfThread(DWORD threadId, std::vector<ShownBox>& boxes, std::vector<HWND>& handled);

// Returns interleaved 16-bit sine samples at half scale, left and right at their own pitch.
std::vector<int16_t> sineSamples(uint32_t frames, int32_t channels, int32_t rate, double leftHz,
                                 double rightHz);

// Writes a WAV file with writeWavHeader followed by the samples and then any extra bytes.
void writeWavFile(const std::filesystem::path& path, int32_t rate, int32_t channels,
                  const std::vector<int16_t>& samples, const std::vector<unsigned char>& extra = {});

// Returns the bytes of a file (empty when it cannot be read).
std::vector<unsigned char> readFileBytes(const std::filesystem::path& path);

// Writes bytes to a file, replacing it.
void writeFileBytes(const std::filesystem::path& path, const std::vector<unsigned char>& bytes);

// Returns the names of the entries of a folder, sorted.
std::vector<std::wstring> folderEntries(const std::filesystem::path& folder);

// Encodes the samples in one call with the export's encoder settings, tag frame included.
std::vector<unsigned char> referenceMp3(const std::vector<int16_t>& interleaved, int32_t channels,
                                        int32_t rate);

// The frames of an MPEG audio layer III stream.
struct Mp3Frames {
    bool wellFormed = false;  // every byte belongs to a frame
    uint32_t frames = 0;
    uint32_t samplesPerFrame = 0;
    uint32_t sampleRate = 0;
};

// Walks the frame headers of an MP3 stream from its first byte to its last.
Mp3Frames walkMp3Frames(const std::vector<unsigned char>& bytes);

// Expects two MP3 streams to decode to the same samples: the same frames after the VBR header,
// each with the same side information and main data bits (whatever bitrate and reservoir
// offset they were laid with), and VBR headers that give the same frame count, delay and padding.
void expectDecodesAlike(const std::vector<unsigned char>& mp3, const std::vector<unsigned char>& reference);
