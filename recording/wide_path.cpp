#include "recording/wide_path.h"

#include <windows.h>

std::wstring extendedLengthPath(const std::wstring& fullPath) {
    const auto startsWith = [&](const wchar_t* prefix) { return fullPath.rfind(prefix, 0) == 0; };
    if (startsWith(L"\\\\?\\") || startsWith(L"\\\\.\\")) return fullPath;
    if (startsWith(L"\\\\")) return L"\\\\?\\UNC\\" + fullPath.substr(2);
    return L"\\\\?\\" + fullPath;
}

std::wstring longPathForm(const std::wstring& path) {
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return path;
    std::wstring full(needed, L'\0');
    const DWORD written = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (written == 0 || written >= needed) return path;
    full.resize(written);
    return extendedLengthPath(full);
}

std::wstring folderOf(const std::wstring& path) {
    const size_t separator = path.find_last_of(L"\\/");
    if (separator != std::wstring::npos) return path.substr(0, separator + 1);
    // "C:name" is a file in the current folder of drive C.
    return path.size() >= 2 && path[1] == L':' ? path.substr(0, 2) : std::wstring();
}
