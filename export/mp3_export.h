// The MP3 export job: encodes a WAV recording into an MP3 file with LAME.
#pragma once

#include <windows.h>

#include <string>

#include "export/export_progress.h"

// Texts of the job's message boxes (caption "Error", error icon, no owner).
extern const wchar_t* const EXPORT_OPEN_FAILED_TEXT;
extern const wchar_t* const EXPORT_INVALID_WAV_TEXT;
extern const wchar_t* const EXPORT_CREATE_FAILED_TEXT;
extern const wchar_t* const EXPORT_ENCODER_FAILED_TEXT;
extern const wchar_t* const EXPORT_ENCODING_FAILED_TEXT;
extern const wchar_t* const EXPORT_WRITE_FAILED_TEXT;
extern const wchar_t* const EXPORT_READ_FAILED_TEXT;
extern const wchar_t* const EXPORT_ONTO_RECORDING_TEXT;

// Returns true when both paths name one existing file, however spelt: another case, a short
// name or a hard link count as the same file; false when either cannot be opened.
bool isSameFile(const std::wstring& first, const std::wstring& second);

// Encodes the WAV file at wavPath into mp3Path; the body of an export thread. The UI thread
// takes wavPath from outputPath when it starts the job, so the job never reads outputPath itself.
// The MP3 appears under mp3Path only once it is complete; failures are shown in message boxes.
// An MP3 path that names the WAV file itself is refused before anything is written. With a
// notifyWindow, the job posts its progress and its end there under exportId (export_progress.h).
void exportToMp3(const std::wstring& mp3Path, const std::wstring& wavPath, HWND notifyWindow = nullptr,
                 WPARAM exportId = 0);

// Starts a detached export thread and counts it as running; returns false when no thread
// could be started (the job then does not run).
bool startExport(std::wstring mp3Path, std::wstring wavPath, HWND notifyWindow = nullptr, WPARAM exportId = 0);

// Blocks until every export started with startExport has finished.
void waitForRunningExports();
