// The parallel export: the recording encoded in segments on several threads, their frames
// joined into one stream that decodes like one encoder's run over the whole recording.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "export/export_progress.h"

// Threads a parallel export uses; 0 (the program's setting) means one per core. A benchmark
// host sets it to compare thread counts.
extern uint32_t exportThreads;

// Encodes the data of the WAV file at wavPath (fileChannels at sampleRate, dataBytes after the
// header) in segments beside the partial MP3 file at partialPath, into mp3 (at its start).
// Returns false, having written nothing, when one pass suits the recording better (one core, a
// short recording, a rate below 32 kHz, or an encoder that resamples); otherwise true, with
// failure null or the text of what failed. Every segment file is gone when it returns.
bool encodeInSegments(const std::wstring& wavPath, const std::wstring& partialPath, std::ostream& mp3,
                      int32_t fileChannels, uint32_t sampleRate, uint64_t dataBytes, ExportProgress& progress,
                      const wchar_t*& failure);
