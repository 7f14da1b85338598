// Wide (UTF-16) paths: the extended-length form by which files are opened, and their folder part.
#pragma once

#include <string>

// Returns a full path in its extended-length form ("\\?\C:\..." or "\\?\UNC\server\..."), which
// the wide file functions take past the usual 260-character limit; a path already in that form,
// or a device path ("\\.\..."), comes back unchanged.
std::wstring extendedLengthPath(const std::wstring& fullPath);

// Returns the extended-length form of path made absolute, or path itself when it cannot be made so.
std::wstring longPathForm(const std::wstring& path);

// Returns the folder part of a path, with its closing separator ("C:\\takes\\" of
// "C:\\takes\\one.mp3"); empty for a bare file name.
std::wstring folderOf(const std::wstring& path);
