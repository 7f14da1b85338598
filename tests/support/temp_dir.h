// A fresh folder under the system's temporary folder, removed with everything in it at the end.
#pragma once

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <string>

class TempDir {
public:
    TempDir() {
        static std::atomic<int> counter{0};
        const std::filesystem::path base = std::filesystem::temp_directory_path();
        path_ = base / ("voxtrel-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                        std::to_string(GetTickCount64()) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Returns the narrow path of a file in this folder.
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    // Returns the wide path of a file in this folder.
    std::wstring wideFile(const std::wstring& name) const { return (path_ / name).wstring(); }

private:
    std::filesystem::path path_;
};
