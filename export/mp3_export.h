// The MP3 export job: encodes the WAV file named by the path it is given with LAME.
#pragma once

#include <string>

// Encodes the last recording into mp3Path; the body of a detached export thread.
void exportToMp3(const std::wstring& mp3Path);
