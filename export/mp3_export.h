// The MP3 export job: encodes a WAV recording into an MP3 file with LAME.
#pragma once

#include <string>

// Encodes the WAV file at wavPath into mp3Path; the body of an export thread. The UI thread
// takes wavPath from outputPath when it starts the job, so the job never reads outputPath itself.
void exportToMp3(const std::wstring& mp3Path, const std::wstring& wavPath);

// Starts a tracked export thread; returns false when no thread could be started.
bool startExport(std::wstring mp3Path, std::wstring wavPath);

// Blocks until every export started with startExport has finished.
void waitForRunningExports();
